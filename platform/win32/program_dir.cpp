#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/program_dir.h"

namespace gifanim::platform {

std::filesystem::path program_dir() {
    // The buffer grows until the whole name fits: long paths exceed MAX_PATH.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n)).parent_path();
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

namespace {
std::atomic<unsigned> replacement_counter{0};

[[noreturn]] void throw_code(DWORD code) {
    throw FileError{static_cast<int>(code), describe_system_error(static_cast<int>(code))};
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
}  // namespace

void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    Handle out;
    std::filesystem::path temp;
    // The process id keeps two programs apart, the counter two threads of one; a name that is
    // still taken (left over by a crash) just moves on to the next number.
    for (int attempt = 0; out.h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target.parent_path() / (target.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) +
                                       L"-" + std::to_wstring(replacement_counter.fetch_add(1)) + L".tmp");
        out.h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out.h == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) throw_code(code);
        }
    }
    try {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD put = 0;
            if (!WriteFile(out.h, bytes.data() + done, want, &put, nullptr)) throw_code(GetLastError());
            if (put == 0) throw_code(ERROR_WRITE_FAULT);
            done += put;
        }
        if (!FlushFileBuffers(out.h)) throw_code(GetLastError());
        const HANDLE h = out.h;
        out.h = INVALID_HANDLE_VALUE;
        if (!CloseHandle(h)) throw_code(GetLastError());
        if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            throw_code(GetLastError());
        }
    } catch (...) {
        if (out.h != INVALID_HANDLE_VALUE) {
            CloseHandle(out.h);
            out.h = INVALID_HANDLE_VALUE;
        }
        DeleteFileW(temp.c_str());
        throw;
    }
}

}  // namespace gifanim::platform
