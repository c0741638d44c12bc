#pragma once
// Paths longer than MAX_PATH through the W file APIs. Windows 10 takes them as they are only where
// the user has enabled long paths and the manifest says the program is aware of them; the
// extended-length form ("\\?\C:\..." or "\\?\UNC\server\share\...") works on every version.
#include <filesystem>

namespace gifanim::platform {

// The path itself while its full form is shorter than MAX_PATH characters; otherwise its full,
// normalised form with the extended-length prefix. A path that has a prefix already stays as it is.
std::filesystem::path extended_path(const std::filesystem::path& path);

}  // namespace gifanim::platform
