#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/win32/gbk.h"
#include "platform/win32/long_path.h"

namespace gifanim::platform {

namespace {
struct LocalFreeDeleter {
    void operator()(wchar_t* p) const { LocalFree(p); }
};

[[noreturn]] void throw_error(DWORD code) {
    throw FileError{static_cast<int>(code), describe_system_error(static_cast<int>(code))};
}

[[noreturn]] void throw_last_error() {
    throw_error(GetLastError());
}

HANDLE as_handle(void* h) {
    return static_cast<HANDLE>(h);
}

// ReadFile and WriteFile take a DWORD count; larger spans go through in pieces.
constexpr std::size_t max_chunk = 1u << 30;
}  // namespace

std::filesystem::path extended_path(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    if (given.starts_with(LR"(\\?\)") || given.starts_with(LR"(\\.\)")) return path;
    // The system's own full form: '/', '.' and '..' resolved, which the extended form passes on
    // as they stand.
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    if (full.size() < static_cast<std::size_t>(MAX_PATH)) return path;
    if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

std::string describe_system_error(int code) {
    wchar_t* raw = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(raw);
    if (n == 0 || raw == nullptr) return "Unknown error " + std::to_string(static_cast<unsigned long>(code));
    std::wstring_view text(raw, n);
    // System messages end with ".\r\n"; keep the full stop, drop the line break.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.remove_suffix(1);
    }
    return cut_gbk(wide_to_gbk(text), 255);
}

File File::open_read(const std::filesystem::path& path) {
    const HANDLE h = CreateFileW(extended_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw_last_error();
    File f;
    f.handle_ = h;
    return f;
}

File File::create(const std::filesystem::path& path) {
    const HANDLE h = CreateFileW(extended_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw_last_error();
    File f;
    f.handle_ = h;
    return f;
}

namespace {
std::atomic<unsigned> beside_counter{0};
}  // namespace

File File::create_beside(const std::filesystem::path& target, std::filesystem::path& temp) {
    File f;
    // The process id keeps two programs apart, the counter two threads of one; a name that is
    // still taken (left over by a crash) just moves on to the next number.
    for (int attempt = 0; f.handle_ == nullptr; ++attempt) {
        // In its long form where it needs one, so that removing it later works as well.
        temp = extended_path(target.parent_path() / (L"~gifanim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                     std::to_wstring(beside_counter.fetch_add(1)) + L".tmp"));
        const HANDLE h =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            f.handle_ = h;
        } else {
            const DWORD code = GetLastError();
            if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) throw_error(code);
        }
    }
    return f;
}

void File::commit_over(const std::filesystem::path& temp, const std::filesystem::path& target) {
    if (!FlushFileBuffers(as_handle(handle_))) throw_last_error();
    close();
    if (!MoveFileExW(extended_path(temp).c_str(), extended_path(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw_last_error();
    }
}

File::File(File&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_) CloseHandle(as_handle(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

File::~File() {
    if (handle_) CloseHandle(as_handle(handle_));
}

std::uint64_t File::size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(as_handle(handle_), &size)) throw_last_error();
    return static_cast<std::uint64_t>(size.QuadPart);
}

void File::read(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const auto want = static_cast<DWORD>(std::min(out.size() - done, max_chunk));
        DWORD got = 0;
        if (!ReadFile(as_handle(handle_), out.data() + done, want, &got, nullptr)) throw_last_error();
        if (got == 0) throw_error(ERROR_HANDLE_EOF);
        done += got;
    }
}

// The system's cache is kept: unbuffered writes there need sector-aligned memory and sizes and
// gain less.
void File::bypass_cache() {}

void File::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto want = static_cast<DWORD>(std::min(bytes.size() - done, max_chunk));
        DWORD put = 0;
        if (!WriteFile(as_handle(handle_), bytes.data() + done, want, &put, nullptr)) throw_last_error();
        if (put == 0) throw_error(ERROR_WRITE_FAULT);
        done += put;
    }
}

void File::close() {
    if (!handle_) return;
    const HANDLE h = as_handle(handle_);
    handle_ = nullptr;
    if (!CloseHandle(h)) throw_last_error();
}

}  // namespace gifanim::platform
