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

// Replaces the file at target by one holding bytes. The bytes go to a new file beside the target
// under a name no other file has, are flushed to the disk and the new file is renamed over the
// target, so the target is always either the old file or the whole new one, even when the process
// dies or the disk fills up half way. On failure the new file is removed, the old one stays and
// FileError is thrown.
void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace gifanim::platform
