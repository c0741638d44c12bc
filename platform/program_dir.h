#pragma once
// The program's own folder, and replacing a file there (or anywhere) so that it is never left
// half written.
#include <cstdint>
#include <filesystem>
#include <span>

namespace gifanim::platform {

// The folder of the running executable, without a trailing separator; empty when the system
// cannot say.
std::filesystem::path program_dir();

// The current user's folders: where programs keep their settings (the roaming application data
// on Windows, the configuration folder elsewhere), pictures and documents. Empty where the system
// cannot say or the folder does not exist.
enum class UserFolder { app_data, pictures, documents };
std::filesystem::path user_folder(UserFolder folder);

// Replaces the file at target by one holding bytes, through a ReplacementFile: the target is
// always either the old file or the whole new one. On failure FileError is thrown.
void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace gifanim::platform
