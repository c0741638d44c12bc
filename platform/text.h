#pragma once
// Conversions between the GBK texts of the library and the encodings around it.
#include <string>
#include <string_view>

namespace gifanim::platform {

// Characters that have no counterpart become '?'.
std::string gbk_to_utf8(std::string_view gbk);
std::string utf8_to_gbk(std::string_view utf8);

// Writes a GBK text to standard error (or output) in the encoding the terminal shows (UTF-8 on POSIX,
// the console's own characters on Windows).
void write_stderr(std::string_view gbk);
void write_stdout(std::string_view gbk);

}  // namespace gifanim::platform
