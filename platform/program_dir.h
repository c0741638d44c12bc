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

// Replaces the file at target by one holding bytes, through a ReplacementFile: the target is
// always either the old file or the whole new one. On failure FileError is thrown.
void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace gifanim::platform
