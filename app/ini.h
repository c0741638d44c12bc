#pragma once
// The INI format on the file's bytes, read the way the Windows profile functions read files that
// people edit by hand, and written so that only the one key's line changes. Texts are GBK bytes;
// nothing depends on the locale.
#include <optional>
#include <string>
#include <string_view>

namespace gifanim::app::ini {

// Section and key names are equal when they differ at most in the case of ASCII letters. The two
// bytes of a GBK character are compared as they are, so a trail byte 'A' never matches 'a'.
bool names_equal(std::string_view a, std::string_view b);

// The value of key in the first section called section, from the first line of that key: blanks
// around it trimmed, and one pair of matching quotes (' or ") around it removed. Nothing when the
// section or the key is missing. Lines end with LF or CRLF; lines starting with ';' are comments.
std::optional<std::string> read_value(std::string_view text, std::string_view section, std::string_view key);

// The text with key set to value: the key's line in the first such section is replaced; a missing
// key is added after the last line of its section, a missing section at the end of the text. Every
// other byte stays as it was; new lines end with CRLF.
std::string with_value(std::string_view text, std::string_view section, std::string_view key, std::string_view value);

}  // namespace gifanim::app::ini
