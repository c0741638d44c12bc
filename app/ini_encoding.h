#pragma once
// The encodings a settings file comes in, told apart the way the Windows profile functions tell
// them: a file that starts with the UTF-16 little-endian byte-order mark (FF FE) is UTF-16, any
// other file is text in the code page, GBK for us. A file saved as "Unicode" by an editor is thus
// read, and written back in its own encoding, rather than taken for a file that is not text.
#include <optional>
#include <string>
#include <string_view>

namespace gifanim::app {

enum class IniEncoding { gbk, utf16le };

struct IniText {
    IniEncoding encoding = IniEncoding::gbk;
    // GBK bytes for a GBK file; UTF-8 for a UTF-16 file, without the byte-order mark. UTF-16 code
    // units that pair with nothing are kept as three-byte sequences of their own, so every file
    // comes back byte for byte.
    std::string text;
};

// The file's text; nothing when it is not text: it holds a zero character, or it has the mark
// but an odd number of bytes.
std::optional<IniText> decode_ini(std::string_view bytes);

// The file's bytes: a UTF-16 file gets its byte-order mark back.
std::string encode_ini(const IniText& text);

}  // namespace gifanim::app
