#include <windows.h>

#include <vector>

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

}  // namespace gifanim::platform
