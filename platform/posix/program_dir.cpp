#include <cstdlib>
#include <system_error>

#include "platform/program_dir.h"

namespace gifanim::platform {

std::filesystem::path program_dir() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path user_folder(UserFolder folder) {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path found;
    if (folder == UserFolder::app_data && config && std::filesystem::path(config).is_absolute()) {
        found = config;
    } else if (home && *home) {
        found = std::filesystem::path(home) / (folder == UserFolder::app_data   ? ".config"
                                               : folder == UserFolder::pictures ? "Pictures"
                                                                                : "Documents");
    }
    std::error_code ec;
    return std::filesystem::is_directory(found, ec) ? found : std::filesystem::path();
}

}  // namespace gifanim::platform
