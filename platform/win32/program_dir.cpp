#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <system_error>
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

std::filesystem::path user_folder(UserFolder folder) {
    const KNOWNFOLDERID& id = folder == UserFolder::app_data   ? FOLDERID_RoamingAppData
                              : folder == UserFolder::pictures ? FOLDERID_Pictures
                                                               : FOLDERID_Documents;
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
    // Freed whether the call succeeded or not, as the documentation asks.
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, CoTaskMemFree);
    if (FAILED(result) || !path) return {};
    std::error_code ec;
    std::filesystem::path found(path);
    return std::filesystem::is_directory(found, ec) ? found : std::filesystem::path();
}

}  // namespace gifanim::platform
