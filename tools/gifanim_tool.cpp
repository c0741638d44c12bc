#include "tools/gifanim_tool.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string_view>

#include "capture/grab.h"
#include "gif/gif_maker.h"
#include "gif/gif_reader.h"
#include "imaging/convert.h"
#include "platform/bmp.h"
#include "platform/file.h"
#include "platform/text.h"

namespace gifanim::tool {

namespace {

constexpr const char* kUsage =
    "usage: gifanim <command> [options]\n"
    "\n"
    "commands:\n"
    "  make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
    "       [--dither] [--interlace] [--comment TEXT] [--reverse] [--jobs N] IMAGE...\n"
    "      build an animation from image files (BMP, JPEG, PNG, GIF), one frame each\n"
    "  info FILE.gif\n"
    "      print the settings of the animation and of every frame\n"
    "  extract FILE.gif N OUT.bmp\n"
    "      write frame N as a BMP file (N = 0: the whole GIF)\n"
    "  set FILE.gif -o OUT.gif [--frame N] [--delay CS] [--left X] [--top Y] [--disposal D]\n"
    "      [--transparency 0|1] [--width W] [--height H] [--bg I] [--loop-count N]\n"
    "      [--palette FRAME:INDEX=RRGGBB]...\n"
    "      change settings and colours in place and save the result\n"
    "  convert --format bmp|jpeg|gif|tiff|png IN OUT\n"
    "      re-encode an image file in another format\n"
    "  grab --rect LEFT,TOP,RIGHT,BOTTOM [--cursor] [--format bmp|jpeg|gif|tiff|png] OUT\n"
    "      save a rectangle of the screen (default format bmp)\n"
    "\n"
    "  COMMAND --help  show the options of a command\n"
    "  --help          show this text\n";

constexpr const char* kMakeUsage =
    "usage: gifanim make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
    "                    [--dither] [--interlace] [--comment TEXT] [--reverse] [--jobs N] IMAGE...\n"
    "  --delay CS        frame delay in 1/100 s (0..65535, default 60)\n"
    "  --disposal D      disposal method (0..7, default 0)\n"
    "  --no-loop         no looping extension\n"
    "  --loop-count N    repetitions, 0 = endless (0..65535, default 0)\n"
    "  --dither          ordered dither instead of a per-frame palette\n"
    "  --interlace       interlaced rows\n"
    "  --comment TEXT    comment of the animation\n"
    "  --reverse         add the images last to first\n"
    "  --jobs N          threads that reduce and compress frames (default: one per core);\n"
    "                    the GIF is the same for every N\n";

constexpr const char* kInfoUsage =
    "usage: gifanim info FILE.gif\n"
    "  prints one line for the animation and one per frame, as key=value pairs:\n"
    "  animation width= height= loop= loop_count= bg= frames= colors= comment=\n"
    "  frame N delay= left= top= width= height= disposal= transparency= transparent_index= colors= comment=\n"
    "  colors is the size of the global or local colour table, 0 when there is none\n";

constexpr const char* kExtractUsage =
    "usage: gifanim extract FILE.gif N OUT.bmp\n"
    "  writes frame N (from 1) as a BMP file; N = 0 writes the whole GIF\n";

constexpr const char* kSetUsage =
    "usage: gifanim set FILE.gif -o OUT.gif [options]\n"
    "  animation:\n"
    "  --width W, --height H   logical screen size (0..65535)\n"
    "  --bg I                  background colour index (0..255)\n"
    "  --loop-count N          repetitions, 0 = endless (0..65535); the GIF must loop already\n"
    "  frame (frame 1 unless --frame N is given):\n"
    "  --frame N               the frame to change (from 1)\n"
    "  --delay CS              delay in 1/100 s (0..65535)\n"
    "  --left X, --top Y       position on the screen (0..65535)\n"
    "  --disposal D            disposal method (0..7)\n"
    "  --transparency 0|1      transparent colour on or off\n"
    "  (delay, disposal and transparency change only in a frame with a graphic control extension)\n"
    "  colours (repeatable):\n"
    "  --palette FRAME:INDEX=RRGGBB   colour INDEX of frame FRAME's table (0 = the global table)\n";

constexpr const char* kConvertUsage =
    "usage: gifanim convert --format bmp|jpeg|gif|tiff|png IN OUT\n"
    "  re-encodes the image file IN (BMP, JPEG, GIF, TIFF or PNG) as OUT\n";

constexpr const char* kGrabUsage =
    "usage: gifanim grab --rect LEFT,TOP,RIGHT,BOTTOM [--cursor] [--format bmp|jpeg|gif|tiff|png] OUT\n"
    "  saves the screen pixels of the rectangle, with the mouse cursor drawn in when --cursor is given\n";

int usage_error(const char* usage, const std::string& message) {
    platform::write_stderr("gifanim: " + message + "\n" + usage);
    return 2;
}

std::optional<long> parse_number(std::string_view s, long min, long max) {
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < min || v > max) return std::nullopt;
    return v;
}

int make(const std::vector<Argument>& args) {
    AnimationInfo animation;
    FrameInfo frame;
    std::optional<std::filesystem::path> output;
    bool reverse = false;
    unsigned jobs = 0;
    std::vector<const Argument*> images;

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        auto value = [&]() -> const Argument* { return i + 1 < args.size() ? &args[++i] : nullptr; };
        auto number = [&](long min, long max, long& out) -> bool {
            const Argument* v = value();
            if (!v) return false;
            const auto n = parse_number(v->text, min, max);
            if (!n) return false;
            out = *n;
            return true;
        };
        long n = 0;
        if (a == "-o" || a == "--output") {
            const Argument* v = value();
            if (!v) return usage_error(kMakeUsage, "-o needs a file name");
            output = v->path;
        } else if (a == "--delay") {
            if (!number(0, 65535, n)) return usage_error(kMakeUsage, "--delay needs a number from 0 to 65535");
            frame.DelayTime = static_cast<std::int16_t>(static_cast<std::uint16_t>(n));
        } else if (a == "--disposal") {
            if (!number(0, 7, n)) return usage_error(kMakeUsage, "--disposal needs a number from 0 to 7");
            frame.DisposalMethod = static_cast<std::uint8_t>(n);
        } else if (a == "--no-loop") {
            animation.LOOP = 0;
        } else if (a == "--loop-count") {
            if (!number(0, 65535, n)) return usage_error(kMakeUsage, "--loop-count needs a number from 0 to 65535");
            animation.LoopCount = static_cast<std::int16_t>(static_cast<std::uint16_t>(n));
        } else if (a == "--dither") {
            frame.Dither = 1;
        } else if (a == "--interlace") {
            animation.Interlace = 1;
        } else if (a == "--comment") {
            const Argument* v = value();
            if (!v) return usage_error(kMakeUsage, "--comment needs a text");
            animation.exposition = v->text;
        } else if (a == "--reverse") {
            reverse = true;
        } else if (a == "--jobs" || a == "-j") {
            if (!number(1, 1024, n)) return usage_error(kMakeUsage, "--jobs needs a number from 1 to 1024");
            jobs = static_cast<unsigned>(n);
        } else if (a == "--help" || a == "-h") {
            std::fputs(kMakeUsage, stdout);
            return 0;
        } else if (a == "--") {
            for (++i; i < args.size(); ++i) images.push_back(&args[i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error(kMakeUsage, "unknown option " + a);
        } else {
            images.push_back(&args[i]);
        }
    }
    if (!output) return usage_error(kMakeUsage, "no output file (-o OUT.gif)");
    if (images.empty()) return usage_error(kMakeUsage, "no input images");
    if (reverse) std::reverse(images.begin(), images.end());

    GifMaker maker;
    maker.SetThreads(jobs);
    if (!maker.Create(animation)) {
        platform::write_stderr("gifanim: " + maker.GetError() + "\n");
        return 1;
    }
    for (const Argument* image : images) {
        if (!maker.AddFrame(frame, image->path)) {
            platform::write_stderr("gifanim: " + image->text + ": " + maker.GetError() + "\n");
            return 1;
        }
    }
    if (!maker.SaveGif(*output)) {
        platform::write_stderr("gifanim: " + maker.GetError() + "\n");
        return 1;
    }
    return 0;
}

// Loads the GIF named by `file`; on failure reports the reader's error and answers false.
bool load(GifReader& reader, const Argument& file) {
    reader.Create();
    if (reader.LoadGif(file.path)) return true;
    platform::write_stderr("gifanim: " + file.text + ": " + reader.GetError() + "\n");
    return false;
}

int reader_failure(const GifReader& reader) {
    platform::write_stderr("gifanim: " + reader.GetError() + "\n");
    return 1;
}

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

std::string field(const char* key, long value) { return std::string(" ") + key + "=" + std::to_string(value); }

int info(const std::vector<Argument>& args) {
    std::vector<const Argument*> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (a == "--help" || a == "-h") {
            std::fputs(kInfoUsage, stdout);
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') return usage_error(kInfoUsage, "unknown option " + a);
        files.push_back(&args[i]);
    }
    if (files.size() != 1) return usage_error(kInfoUsage, "one GIF file expected");

    // A damaged GIF still shows what could be read before the damage: the animation line with
    // its loop count and comment, and every frame that reads; then the errors, and status 1.
    const Argument& file = *files.front();
    GifReader reader;
    if (!reader.Create()) return reader_failure(reader);
    std::string errors;
    if (!reader.LoadGif(file.path)) errors += "gifanim: " + file.text + ": " + reader.GetError() + "\n";
    const AnimationInfo gif = reader.GetGifInfo();
    if (!reader.GetError().empty()) {
        platform::write_stderr(errors);
        return 1;
    }
    // The records keep 16-bit fields signed; the file holds them unsigned.
    auto u16 = [](std::int16_t v) { return static_cast<long>(static_cast<std::uint16_t>(v)); };
    std::string out = "animation" + field("width", u16(gif.Width)) + field("height", u16(gif.Depth)) +
                      field("loop", gif.LOOP ? 1 : 0) + field("loop_count", u16(gif.LoopCount)) +
                      field("bg", gif.BgColorIndex) + field("frames", gif.FrameCount) +
                      field("colors", gif.ColorNum) + " comment=" + quoted_comment(gif.exposition) + "\n";
    for (int n = 1; n <= reader.FrameCount(); ++n) {
        const FrameInfo frame = reader.GetFrameInfo(n);
        if (!reader.GetError().empty()) {
            errors += "gifanim: " + file.text + ": frame " + std::to_string(n) + ": " + reader.GetError() + "\n";
            continue;
        }
        out += "frame " + std::to_string(n) + field("delay", u16(frame.DelayTime)) + field("left", u16(frame.Left)) +
               field("top", u16(frame.Top)) + field("width", u16(frame.Width)) + field("height", u16(frame.Depth)) +
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

int extract(const std::vector<Argument>& args) {
    std::vector<const Argument*> operands;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (a == "--help" || a == "-h") {
            std::fputs(kExtractUsage, stdout);
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') return usage_error(kExtractUsage, "unknown option " + a);
        operands.push_back(&args[i]);
    }
    if (operands.size() != 3) return usage_error(kExtractUsage, "FILE.gif, N and OUT.bmp expected");
    const auto n = parse_number(operands[1]->text, 0, 65535);
    if (!n) return usage_error(kExtractUsage, "N needs a frame number from 0 to 65535");

    GifReader reader;
    if (!load(reader, *operands[0])) return 1;
    const std::vector<std::uint8_t> data = reader.GetGifData(static_cast<int>(*n));
    if (data.empty()) {
        // A frame whose blocks end before its image descriptor comes back empty without a text.
        const std::string error = reader.GetError().empty() ? std::string("当前帧已经损坏") : reader.GetError();
        platform::write_stderr("gifanim: " + operands[0]->text + ": frame " + std::to_string(*n) + ": " + error + "\n");
        return 1;
    }
    try {
        platform::File out = platform::File::create(operands[2]->path);
        out.write(data);
        out.close();
    } catch (const platform::FileError& e) {
        platform::write_stderr("gifanim: " + operands[2]->text + ": " + e.text + "\n");
        return 1;
    }
    return 0;
}

// "FRAME:INDEX=RRGGBB" with the colour turned into 0x00BBGGRR.
struct PaletteChange {
    int frame = 0;
    std::uint8_t index = 0;
    std::uint32_t colour = 0;
};

std::optional<PaletteChange> parse_palette_change(std::string_view s) {
    const std::size_t colon = s.find(':');
    const std::size_t equals = s.find('=');
    if (colon == std::string_view::npos || equals == std::string_view::npos || equals < colon) return std::nullopt;
    const auto frame = parse_number(s.substr(0, colon), 0, 65535);
    const auto index = parse_number(s.substr(colon + 1, equals - colon - 1), 0, 255);
    const std::string_view hex = s.substr(equals + 1);
    std::uint32_t rgb = 0;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), rgb, 16);
    if (!frame || !index || hex.size() != 6 || ec != std::errc() || end != hex.data() + hex.size() ||
        !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    const std::uint32_t colour = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | (rgb >> 16);
    return PaletteChange{static_cast<int>(*frame), static_cast<std::uint8_t>(*index), colour};
}

int set(const std::vector<Argument>& args) {
    std::optional<std::filesystem::path> output;
    const Argument* input = nullptr;
    std::optional<long> frame_number, delay, left, top, disposal, transparency;
    std::optional<long> width, height, bg, loop_count;
    std::vector<PaletteChange> palette;

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        auto value = [&]() -> const Argument* { return i + 1 < args.size() ? &args[++i] : nullptr; };
        auto number = [&](long min, long max, std::optional<long>& out) -> bool {
            const Argument* v = value();
            if (v) out = parse_number(v->text, min, max);
            return v && out;
        };
        auto range = [&](const char* what, long min, long max) {
            return a + " needs " + what + " from " + std::to_string(min) + " to " + std::to_string(max);
        };
        if (a == "-o" || a == "--output") {
            const Argument* v = value();
            if (!v) return usage_error(kSetUsage, "-o needs a file name");
            output = v->path;
        } else if (a == "--frame") {
            if (!number(1, 65535, frame_number)) return usage_error(kSetUsage, range("a frame number", 1, 65535));
        } else if (a == "--delay") {
            if (!number(0, 65535, delay)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--left") {
            if (!number(0, 65535, left)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--top") {
            if (!number(0, 65535, top)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--disposal") {
            if (!number(0, 7, disposal)) return usage_error(kSetUsage, range("a number", 0, 7));
        } else if (a == "--transparency") {
            if (!number(0, 1, transparency)) return usage_error(kSetUsage, range("a number", 0, 1));
        } else if (a == "--width") {
            if (!number(0, 65535, width)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--height") {
            if (!number(0, 65535, height)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--bg") {
            if (!number(0, 255, bg)) return usage_error(kSetUsage, range("a number", 0, 255));
        } else if (a == "--loop-count") {
            if (!number(0, 65535, loop_count)) return usage_error(kSetUsage, range("a number", 0, 65535));
        } else if (a == "--palette") {
            const Argument* v = value();
            const auto change = v ? parse_palette_change(v->text) : std::nullopt;
            if (!change) return usage_error(kSetUsage, "--palette needs FRAME:INDEX=RRGGBB");
            palette.push_back(*change);
        } else if (a == "--help" || a == "-h") {
            std::fputs(kSetUsage, stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error(kSetUsage, "unknown option " + a);
        } else if (input) {
            return usage_error(kSetUsage, "one GIF file expected");
        } else {
            input = &args[i];
        }
    }
    if (!input) return usage_error(kSetUsage, "no GIF file");
    if (!output) return usage_error(kSetUsage, "no output file (-o OUT.gif)");

    GifReader reader;
    if (!load(reader, *input)) return 1;
    auto s16 = [](long v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v)); };
    if (width || height || bg || loop_count) {
        AnimationInfo gif = reader.GetGifInfo();
        if (loop_count && !gif.LOOP) {
            platform::write_stderr("gifanim: " + input->text + ": the GIF has no looping extension\n");
            return 1;
        }
        if (width) gif.Width = s16(*width);
        if (height) gif.Depth = s16(*height);
        if (bg) gif.BgColorIndex = static_cast<std::uint8_t>(*bg);
        if (loop_count) gif.LoopCount = s16(*loop_count);
        if (!reader.SetGifInfo(gif)) return reader_failure(reader);
    }
    if (frame_number || delay || left || top || disposal || transparency) {
        const int n = static_cast<int>(frame_number.value_or(1));
        FrameInfo frame = reader.GetFrameInfo(n);
        if (delay) frame.DelayTime = s16(*delay);
        if (left) frame.Left = s16(*left);
        if (top) frame.Top = s16(*top);
        if (disposal) frame.DisposalMethod = static_cast<std::uint8_t>(*disposal);
        if (transparency) frame.Transparency = static_cast<Bool32>(*transparency);
        if (!reader.SetFrameInfo(frame, n)) return reader_failure(reader);
    }
    for (const PaletteChange& change : palette)
        if (!reader.SetPalette(change.frame, change.index, change.colour)) return reader_failure(reader);
    if (!reader.SaveGif(*output)) return reader_failure(reader);
    return 0;
}


// The format number of a format name.
std::optional<int> format_number(std::string_view name) {
    static constexpr std::pair<std::string_view, int> kNames[] = {
        {"bmp", imaging::kBmp}, {"jpeg", imaging::kJpeg}, {"jpg", imaging::kJpeg}, {"gif", imaging::kGif},
        {"tiff", imaging::kTiff}, {"tif", imaging::kTiff}, {"png", imaging::kPng}};
    for (const auto& [n, number] : kNames)
        if (n == name) return number;
    return std::nullopt;
}

int write_output(const Argument& out, const std::vector<std::uint8_t>& bytes) {
    try {
        platform::File file = platform::File::create(out.path);
        file.write(bytes);
        file.close();
    } catch (const platform::FileError& e) {
        platform::write_stderr("gifanim: " + out.text + ": " + e.text + "\n");
        return 1;
    }
    return 0;
}

std::string convert_failure(imaging::ConvertStatus status) {
    switch (status) {
        case imaging::ConvertStatus::ok: break;
        case imaging::ConvertStatus::not_an_image: return "not an image this program can read";
        case imaging::ConvertStatus::too_large:
            return "the picture is too large (more than 65535 pixels a side or 2^30 pixels)";
        case imaging::ConvertStatus::implausible:
            return "the picture's size is out of all proportion to its data (a damaged or hostile file)";
        case imaging::ConvertStatus::out_of_memory: return "not enough memory to convert the picture";
        case imaging::ConvertStatus::not_encoded: return "the picture could not be encoded in that format";
        case imaging::ConvertStatus::failed: return "the image could not be decoded or encoded";
    }
    return "the image could not be converted";
}

int convert(const std::vector<Argument>& args) {
    std::optional<int> format;
    std::vector<const Argument*> operands;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (a == "--help" || a == "-h") {
            std::fputs(kConvertUsage, stdout);
            return 0;
        }
        if (a == "--format") {
            if (i + 1 >= args.size() || !(format = format_number(args[++i].text)))
                return usage_error(kConvertUsage, "--format needs bmp, jpeg, gif, tiff or png");
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error(kConvertUsage, "unknown option " + a);
        } else {
            operands.push_back(&args[i]);
        }
    }
    if (!format) return usage_error(kConvertUsage, "no --format");
    if (operands.size() != 2) return usage_error(kConvertUsage, "IN and OUT expected");
    std::vector<std::uint8_t> input;
    try {
        platform::File in = platform::File::open_read(operands[0]->path);
        input.resize(static_cast<std::size_t>(in.size()));
        in.read(input);
    } catch (const platform::FileError& e) {
        platform::write_stderr("gifanim: " + operands[0]->text + ": " + e.text + "\n");
        return 1;
    }
    std::vector<std::uint8_t> output;
    const imaging::ConvertStatus status = imaging::convert_image(input, *format, output);
    if (status != imaging::ConvertStatus::ok) {
        platform::write_stderr("gifanim: " + operands[0]->text + ": " + convert_failure(status) + "\n");
        return 1;
    }
    input = {};
    return write_output(*operands[1], output);
}

int grab(const std::vector<Argument>& args) {
    std::optional<platform::ScreenRect> rect;
    int format = imaging::kBmp;
    bool cursor = false;
    std::vector<const Argument*> operands;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (a == "--help" || a == "-h") {
            std::fputs(kGrabUsage, stdout);
            return 0;
        }
        if (a == "--rect") {
            long v[4];
            std::string_view rest = i + 1 < args.size() ? std::string_view(args[++i].text) : std::string_view();
            bool ok = !rest.empty();
            for (int k = 0; k < 4 && ok; ++k) {
                const std::size_t comma = k < 3 ? rest.find(',') : rest.size();
                const auto n = comma == std::string_view::npos ? std::nullopt
                                                                : parse_number(rest.substr(0, comma), -1000000, 1000000);
                ok = n.has_value();
                if (ok) v[k] = *n;
                rest = ok && k < 3 ? rest.substr(comma + 1) : rest;
            }
            if (!ok) return usage_error(kGrabUsage, "--rect needs LEFT,TOP,RIGHT,BOTTOM");
            rect = platform::ScreenRect{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]),
                                        static_cast<std::int32_t>(v[2]), static_cast<std::int32_t>(v[3])};
        } else if (a == "--format") {
            const auto f = i + 1 < args.size() ? format_number(args[++i].text) : std::nullopt;
            if (!f) return usage_error(kGrabUsage, "--format needs bmp, jpeg, gif, tiff or png");
            format = *f;
        } else if (a == "--cursor") {
            cursor = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error(kGrabUsage, "unknown option " + a);
        } else {
            operands.push_back(&args[i]);
        }
    }
    if (!rect) return usage_error(kGrabUsage, "no --rect");
    if (operands.size() != 1) return usage_error(kGrabUsage, "OUT expected");
    if (rect->right <= rect->left || rect->bottom <= rect->top)
        return usage_error(kGrabUsage, "the rectangle is empty");
    const int bits = platform::screen_bits_per_pixel();
    if (bits == 0) {
        platform::write_stderr("gifanim: no screen to grab (is DISPLAY set?)\n");
        return 1;
    }
    const auto width = static_cast<std::uint64_t>(std::int64_t{rect->right} - rect->left);
    const auto height = static_cast<std::uint64_t>(std::int64_t{rect->bottom} - rect->top);
    if (width > 65535 || height > 65535 ||
        !platform::bmp_file_size(width, height, static_cast<unsigned>(bits), platform::kBmpHeadersSize)) {
        platform::write_stderr("gifanim: the rectangle is too large to grab (more than 65535 pixels a side or a "
                               "BMP above 4 GiB)\n");
        return 1;
    }
    const std::vector<std::uint8_t> image = capture::GrabRegion(*rect, format, cursor);
    if (image.empty()) {
        platform::write_stderr("gifanim: the screen could not be read and converted (or memory ran out)\n");
        return 1;
    }
    return write_output(*operands[0], image);
}

int dispatch(const std::vector<Argument>& args) {
    if (args.empty() || args[0].text == "--help" || args[0].text == "-h" || args[0].text == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0].text == "make") return make(args);
    if (args[0].text == "info") return info(args);
    if (args[0].text == "extract") return extract(args);
    if (args[0].text == "set") return set(args);
    if (args[0].text == "convert") return convert(args);
    if (args[0].text == "grab") return grab(args);
    return usage_error(kUsage, "unknown command " + args[0].text);
}

}  // namespace

int run(const std::vector<Argument>& args) {
    // Every command reports its own failures; whatever still escapes one (memory running out
    // where nothing expected it, a file error between the lines) ends as a failure with a message,
    // never as a signal.
    try {
        try {
            return dispatch(args);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const platform::FileError& e) {
            platform::write_stderr("gifanim: " + e.text + "\n");
        } catch (const std::exception& e) {
            platform::write_stderr(std::string("gifanim: ") + e.what() + "\n");
        } catch (...) {
            platform::write_stderr("gifanim: unexpected failure\n");
        }
    } catch (...) {
        // Memory ran out, perhaps again while a message above was put together: this one needs none.
        std::fputs("gifanim: out of memory\n", stderr);
    }
    return 1;
}

}  // namespace gifanim::tool
