// gifanim set: change an animation's settings, a frame's settings and colours, and save the result.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <optional>

#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

namespace {

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

}  // namespace

int run_set(const std::vector<Argument>& args) {
    std::optional<std::filesystem::path> output;
    const Argument* input = nullptr;
    std::optional<long> frame_number, delay, left, top, disposal, transparency;
    std::optional<long> width, height, bg, loop_count;
    std::vector<PaletteChange> palette;

    const struct {
        std::string_view name;
        std::optional<long>& value;
        long min, max;
    } numbers[] = {{"--delay", delay, 0, 65535},
                   {"--left", left, 0, 65535},
                   {"--top", top, 0, 65535},
                   {"--disposal", disposal, 0, 7},
                   {"--transparency", transparency, 0, 1},
                   {"--width", width, 0, 65535},
                   {"--height", height, 0, 65535},
                   {"--bg", bg, 0, 255},
                   {"--loop-count", loop_count, 0, 65535}};

    for (ArgumentCursor arg(args); arg.next();) {
        const auto number =
            std::find_if(std::begin(numbers), std::end(numbers), [&](auto& n) { return arg.is(n.name); });
        if (number != std::end(numbers)) {
            number->value = arg.number(number->min, number->max);
        } else if (arg.is("-o", "--output")) {
            output = arg.value("a file name").path;
        } else if (arg.is("--frame")) {
            frame_number = arg.number(1, 65535, "a frame number");
        } else if (arg.is("--palette")) {
            palette.push_back(arg.parsed(parse_palette_change, "FRAME:INDEX=RRGGBB"));
        } else {
            const Argument& operand = arg.operand();
            if (input) throw UsageError{"one GIF file expected"};
            input = &operand;
        }
    }
    if (!input) throw UsageError{"no GIF file"};
    if (!output) throw UsageError{"no output file (-o OUT.gif)"};

    GifReader reader;
    if (!load(reader, *input)) return 1;
    if (width || height || bg || loop_count) {
        AnimationInfo gif = reader.GetGifInfo();
        if (loop_count && !gif.LOOP) return failure(*input, "the GIF has no looping extension");
        if (width) gif.Width = as_int16(*width);
        if (height) gif.Depth = as_int16(*height);
        if (bg) gif.BgColorIndex = static_cast<std::uint8_t>(*bg);
        if (loop_count) gif.LoopCount = as_int16(*loop_count);
        if (!reader.SetGifInfo(gif)) return reader_failure(reader);
    }
    if (frame_number || delay || left || top || disposal || transparency) {
        const int n = static_cast<int>(frame_number.value_or(1));
        FrameInfo frame = reader.GetFrameInfo(n);
        if (delay) frame.DelayTime = as_int16(*delay);
        if (left) frame.Left = as_int16(*left);
        if (top) frame.Top = as_int16(*top);
        if (disposal) frame.DisposalMethod = static_cast<std::uint8_t>(*disposal);
        if (transparency) frame.Transparency = static_cast<Bool32>(*transparency);
        if (!reader.SetFrameInfo(frame, n)) return reader_failure(reader);
    }
    for (const PaletteChange& change : palette)
        if (!reader.SetPalette(change.frame, change.index, change.colour)) return reader_failure(reader);
    if (!reader.SaveGif(*output)) return reader_failure(reader);
    return 0;
}

}  // namespace gifanim::tool
