#include <system_error>

#include "platform/program_dir.h"

namespace gifanim::platform {

std::filesystem::path program_dir() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace gifanim::platform
