// gifanim recover: the recordings that recorder processes left behind in the temporary folder,
// listed, or one of them written out as a GIF.
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

#include "capture/frame_store.h"
#include "capture/recording_journal.h"
#include "gif/gif_maker.h"
#include "platform/system.h"
#include "platform/text.h"
#include "review/export.h"
#include "review/shaping.h"
#include "tools/commands.h"
#include "tools/options.h"
#include "tools/terminal_export.h"

namespace gifanim::tool {

namespace {

struct RecoverOptions {
    const Argument* file = nullptr;
    const Argument* out = nullptr;
    bool reverse = false;
    bool keep = false;
    Optimization optimization;
    review::ExportShape shape;
    SizeOptions size;
};

RecoverOptions parse(const std::vector<Argument>& args) {
    RecoverOptions o;
    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("--output", "-o"))
            o.out = &arg.value("a file name");
        else if (arg.is("--reverse"))
            o.reverse = true;
        else if (arg.is("--keep"))
            o.keep = true;
        else if (optimization_option(arg, o.optimization) || shape_option(arg, o.shape) || size_option(arg, o.size))
            continue;
        else if (!o.file)
            o.file = &arg.operand();
        else
            throw UsageError{"unexpected argument " + arg.operand().text};
    }
    if (o.file && !o.out) throw UsageError{"no -o OUT.gif"};
    if (!o.file && (o.out || o.reverse || o.keep || o.optimization.enabled)) throw UsageError{"no recording named"};
    return o;
}

int list() {
    std::string lines;
    for (const capture::journal::LeftRecording& left :
         capture::journal::find_left_recordings(platform::temp_directory())) {
        const platform::ScreenRect& r = left.capture_rect;
        char about[128];
        std::snprintf(about, sizeof about, "\t%zu frames, %.2f s, %lldx%lld\n", left.frames,
                      static_cast<double>(left.duration_cs) / 100,
                      static_cast<long long>(static_cast<std::int64_t>(r.right) - r.left),
                      static_cast<long long>(static_cast<std::int64_t>(r.bottom) - r.top));
        lines += path_text(left.path) + about;
    }
    platform::write_stdout(lines);
    return 0;
}

}  // namespace

int run_recover(const std::vector<Argument>& args) {
    const RecoverOptions options = parse(args);
    if (!options.file) return list();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.file->path, ec)) return failure(*options.file, "no such file");
    if (const auto why = unwritable_output(options.out->path)) return failure(*options.out, *why);

    capture::FrameStore store;
    if (!store.Adopt(options.file->path)) {
        return failure(*options.file, "no recording to recover in it (or a running recorder still holds it)");
    }
    const platform::ScreenRect& recorded = store.capture_rect();
    if (const auto why = shape_problem_text(
            options.shape, {recorded.right - recorded.left, recorded.bottom - recorded.top}, "the recording")) {
        store.Release();
        return failure(*why);
    }
    const auto direction = options.reverse ? review::ExportDirection::reverse : review::ExportDirection::forward;
    if (options.size.max_size || options.size.estimate) {
        int status = 1;
        try {
            const capture::FrameStoreSnapshot frames = store.Snapshot();
            status = fit_or_estimate(review::source_of(frames), direction, options.shape, options.optimization,
                                     options.size, *options.out);
        } catch (...) {
            store.Release();
            throw;
        }
        // Only a GIF written lets the recording go.
        if (status == 0 && !options.size.estimate && !options.keep) {
            store.Close();
        } else {
            store.Release();
        }
        return status;
    }
    TerminalLine line;
    TerminalExportShell exports(options.out->path, line);
    GifMaker maker;
    maker.SetOptimization(options.optimization);
    const capture::FrameStoreSnapshot frames = store.Snapshot();
    exports.watch(maker, review::export_timing(frames.Infos(), direction, options.shape));
    int exported = 0;
    try {
        exported = review::ExportShapedFrames(frames, direction, options.shape, maker, exports);
    } catch (...) {
        store.Release();
        throw;
    }
    if (exported != 1) {
        const std::string error = maker.GetError();
        store.Release();
        return failure(*options.out, error);
    }
    // The GIF is whole: only now may the recording go.
    if (options.keep) {
        store.Release();
    } else {
        store.Close();
    }
    const auto size = std::filesystem::file_size(options.out->path, ec);
    char text[200];
    std::snprintf(text, sizeof text, ": %d frames, %.2f s, %llu bytes", exports.frames_held(),
                  static_cast<double>(exports.held_cs()) / 100, static_cast<unsigned long long>(ec ? 0 : size));
    std::string report = options.out->text + text;
    if (exports.frames_dropped() > 0) {
        report += "; " + std::to_string(exports.frames_dropped()) + " frames could not be read and were left out";
    }
    platform::write_stdout(report + "\n");
    return 0;
}

}  // namespace gifanim::tool
