#include "tools/gifanim_tool.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "gif/gif_maker.h"
#include "platform/text.h"

namespace gifanim::tool {

namespace {

constexpr const char* kUsage =
    "usage: gifanim <command> [options]\n"
    "\n"
    "commands:\n"
    "  make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
    "       [--dither] [--interlace] [--comment TEXT] [--reverse] IMAGE...\n"
    "      build an animation from image files (BMP, JPEG, PNG), one frame each\n"
    "\n"
    "  --help  show this text\n";

constexpr const char* kMakeUsage =
    "usage: gifanim make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
    "                    [--dither] [--interlace] [--comment TEXT] [--reverse] IMAGE...\n"
    "  --delay CS        frame delay in 1/100 s (0..65535, default 60)\n"
    "  --disposal D      disposal method (0..7, default 0)\n"
    "  --no-loop         no looping extension\n"
    "  --loop-count N    repetitions, 0 = endless (0..65535, default 0)\n"
    "  --dither          ordered dither instead of a per-frame palette\n"
    "  --interlace       interlaced rows\n"
    "  --comment TEXT    comment of the animation\n"
    "  --reverse         add the images last to first\n";

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
    maker.Create(animation);
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

}  // namespace

int run(const std::vector<Argument>& args) {
    if (args.empty() || args[0].text == "--help" || args[0].text == "-h" || args[0].text == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0].text == "make") return make(args);
    return usage_error(kUsage, "unknown command " + args[0].text);
}

}  // namespace gifanim::tool
