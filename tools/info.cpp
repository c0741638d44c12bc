// gifanim info: the settings of an animation and of every frame, as key=value lines.
#include <cstdio>

#include "platform/text.h"
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

namespace {

// A comment as one token of a key=value line: as it stands when it holds no space, control
// character, backslash or double quote, otherwise in double quotes with backslash escapes.
// On POSIX the GBK text is shown as UTF-8, whose multibyte characters hold no ASCII bytes; on
// Windows the GBK bytes go out as they are, so the second byte of a double-byte character
// (which may be a backslash) is passed over.
std::string quoted_comment(const std::string& gbk) {
#ifdef _WIN32
    const std::string& text = gbk;
    constexpr bool gbk_pairs = true;
#else
    const std::string text = platform::gbk_to_utf8(gbk);
    constexpr bool gbk_pairs = false;
#endif
    auto special = [](unsigned char c) { return c <= 0x20 || c == 0x7F || c == '\\' || c == '"'; };
    bool quote = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (gbk_pairs && c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (special(c)) quote = true;
    }
    if (!quote) return text;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (gbk_pairs && c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
            out += text.substr(i, 2);
            ++i;
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string field(const char* key, long value) {
    return std::string(" ") + key + "=" + std::to_string(value);
}

}  // namespace

int run_info(const std::vector<Argument>& args) {
    std::vector<const Argument*> files;
    for (ArgumentCursor arg(args); arg.next();) files.push_back(&arg.operand());
    if (files.size() != 1) throw UsageError{"one GIF file expected"};

    // A damaged GIF still shows what could be read before the damage: the animation line with
    // its loop count and comment, and every frame that reads; then the errors, and status 1.
    const Argument& file = *files.front();
    GifReader reader;
    if (!reader.Create()) return reader_failure(reader);
    std::string errors;
    if (!reader.LoadGif(file.path)) errors += error_line(file.text + ": " + reader.GetError());
    const AnimationInfo gif = reader.GetGifInfo();
    if (!reader.GetError().empty()) {
        platform::write_stderr(errors);
        return 1;
    }
    std::string out = "animation" + field("width", as_uint16(gif.Width)) + field("height", as_uint16(gif.Depth)) +
                      field("loop", gif.LOOP ? 1 : 0) + field("loop_count", as_uint16(gif.LoopCount)) +
                      field("bg", gif.BgColorIndex) + field("frames", gif.FrameCount) + field("colors", gif.ColorNum) +
                      " comment=" + quoted_comment(gif.exposition) + "\n";
    for (int n = 1; n <= reader.FrameCount(); ++n) {
        const FrameInfo frame = reader.GetFrameInfo(n);
        if (!reader.GetError().empty()) {
            errors += error_line(file.text + ": frame " + std::to_string(n) + ": " + reader.GetError());
            continue;
        }
        out += "frame " + std::to_string(n) + field("delay", as_uint16(frame.DelayTime)) +
               field("left", as_uint16(frame.Left)) + field("top", as_uint16(frame.Top)) +
               field("width", as_uint16(frame.Width)) + field("height", as_uint16(frame.Depth)) +
               field("disposal", frame.DisposalMethod) + field("transparency", frame.Transparency & 1) +
               field("transparent_index", frame.TransparencyIndex) + field("colors", frame.ColorNum) +
               " comment=" + quoted_comment(frame.exposition) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (errors.empty()) return 0;
    platform::write_stderr(errors);
    return 1;
}

}  // namespace gifanim::tool
