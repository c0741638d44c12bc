// gifanim make: an animation from image files, one frame each.
#include <algorithm>
#include <optional>

#include "gif/gif_maker.h"
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

int run_make(const std::vector<Argument>& args) {
    AnimationInfo animation;
    FrameInfo frame;
    std::optional<std::filesystem::path> output;
    bool reverse = false;
    unsigned jobs = 0;
    Optimization optimization;
    std::vector<const Argument*> images;

    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("-o", "--output")) {
            output = arg.value("a file name").path;
        } else if (arg.is("--delay")) {
            frame.DelayTime = as_int16(arg.number(0, 65535));
        } else if (arg.is("--disposal")) {
            frame.DisposalMethod = static_cast<std::uint8_t>(arg.number(0, 7));
        } else if (arg.is("--no-loop")) {
            animation.LOOP = 0;
        } else if (arg.is("--loop-count")) {
            animation.LoopCount = as_int16(arg.number(0, 65535));
        } else if (arg.is("--dither")) {
            frame.Dither = 1;
        } else if (arg.is("--interlace")) {
            animation.Interlace = 1;
        } else if (arg.is("--comment")) {
            animation.exposition = arg.value("a text").text;
        } else if (arg.is("--reverse")) {
            reverse = true;
        } else if (optimization_option(arg, optimization)) {
            // --optimize or --quality, taken
        } else if (arg.is("--jobs", "-j")) {
            jobs = static_cast<unsigned>(arg.number(1, 1024));
        } else if (arg.is("--")) {
            while (arg.next()) images.push_back(&arg.current());
        } else {
            images.push_back(&arg.operand());
        }
    }
    if (!output) throw UsageError{"no output file (-o OUT.gif)"};
    if (images.empty()) throw UsageError{"no input images"};
    if (reverse) std::reverse(images.begin(), images.end());

    GifMaker maker;
    maker.SetThreads(jobs);
    maker.SetOptimization(optimization);
    if (!maker.Create(animation)) return failure(maker.GetError());
    for (const Argument* image : images)
        if (!maker.AddFrame(frame, image->path)) return failure(*image, maker.GetError());
    if (!maker.SaveGif(*output)) return failure(maker.GetError());
    return 0;
}

}  // namespace gifanim::tool
