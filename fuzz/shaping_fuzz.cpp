// Shaped exports drawn from arbitrary bytes: a few small frames (now and then of another size), any
// delays, a crop anywhere (partly or wholly outside), a scale parsed from text drawn from the input
// (to at most 4096 pixels), a speed, a frame-rate limit, either direction, plain or optimized at any
// quality, and a size limit. Checked: the timing keeps the total time (divided by the speed) with no
// delay a viewer shows otherwise; the estimate and the fit run; a fit that says it met its limit
// wrote a file of the bytes it says, at most the limit, that giflib reads, of the shaped size and
// (unless it is a still picture of one frame) the total time of the frames it could make; one that
// did not wrote nothing. A broken property aborts, so libFuzzer keeps the input like any crash.
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_draw.h"
#include "review/shaping.h"
#include "review/size_fit.h"
#include "tests/unit/test_images.h"

namespace {

using gifanim::fuzz::check;
using gifanim::fuzz::Draw;

using gifanim::review::ExportShape;

std::int64_t total(const std::vector<gifanim::TimedFrame>& timing) {
    std::int64_t sum = 0;
    for (const gifanim::TimedFrame& t : timing) sum += t.delay;
    return sum;
}

void check_timing(const std::vector<gifanim::FrameInfo>& infos, gifanim::review::ExportDirection direction,
                  const ExportShape& shape) {
    const std::vector<gifanim::TimedFrame> timing = gifanim::review::export_timing(infos, direction, shape);
    std::int64_t source = 0;
    for (const gifanim::FrameInfo& f : infos) source += f.DelayTime;
    check(std::llabs(total(timing) - std::llround(static_cast<double>(source) / shape.speed)) <= 1,
          "the total time, divided by the speed");
    for (const gifanim::TimedFrame& t : timing) check(t.source < infos.size(), "a frame of the recording");
    if (timing.size() < 2) return;
    const std::int64_t shortest = shape.max_fps > 0  ? std::max<std::int64_t>(gifanim::kShortestShownDelay,
                                                                             (100 + shape.max_fps - 1) / shape.max_fps)
                                  : shape.speed != 1 ? gifanim::kShortestShownDelay
                                                     : 0;
    for (const gifanim::TimedFrame& t : timing) check(t.delay >= shortest, "a delay shorter than allowed");
}

struct GifRead {
    int width = 0, height = 0;
    int frames = 0;
    long time = 0;
};

GifRead read_gif(const std::filesystem::path& path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    check(gif != nullptr, "giflib opens the file");
    check(DGifSlurp(gif) == GIF_OK, "giflib reads the file");
    GifRead r{gif->SWidth, gif->SHeight, gif->ImageCount, 0};
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock control{};
        if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) r.time += control.DelayTime;
    }
    DGifCloseFile(gif, &error);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Draw d(std::span<const std::uint8_t>(data, size));
    gifanim::review::FrameSource source;
    source.size = {1 + d.below(48), 1 + d.below(48)};
    std::vector<std::shared_ptr<const std::vector<std::uint8_t>>> images;
    const int frames = 1 + d.below(8);
    for (int k = 0; k < frames; ++k) {
        gifanim::FrameInfo info;
        info.DelayTime = static_cast<std::int16_t>(d.below(4) == 0 ? d.below(3) : d.byte() + d.byte());
        source.infos.push_back(info);
        const bool other_size = k > 0 && d.below(8) == 0;
        const int w = other_size ? 1 + d.below(48) : source.size.width;
        const int h = other_size ? 1 + d.below(48) : source.size.height;
        const int seed = d.byte(), box = d.below(48);
        images.push_back(std::make_shared<const std::vector<std::uint8_t>>(
            gifanim::test::make_bmp(w, h, [seed, box, k](int x, int y) {
                if (x >= box && x < box + 8 + k && y >= box / 2 && y < box / 2 + 6)
                    return gifanim::test::Rgb{220, 40, 40};
                return gifanim::test::screen_like_pixel(x, y, seed);
            })));
    }
    source.image = [&images](std::size_t i) -> gifanim::capture::FrameImage {
        return i < images.size() ? images[i] : nullptr;
    };
    if (d.below(2) == 0) {
        source.image_size = [&images](std::size_t i) -> std::uint64_t {
            return i < images.size() ? images[i]->size() : 0;
        };
    }

    ExportShape shape;
    if (d.below(3) == 0) {
        const auto side = [&] { return d.below(72) - 12; };
        shape.crop = gifanim::platform::ScreenRect{side(), side(), side(), side()};
    }
    std::string scale_text;
    for (int n = d.below(7); n > 0; --n) scale_text += "0123456789x%.-5"[d.below(15)];
    if (const auto scale = gifanim::review::parse_scale(scale_text)) {
        // A scale that makes the pictures far larger is left out, as the fuzzer's time is short.
        ExportShape scaled = shape;
        scaled.scale = *scale;
        const gifanim::review::PictureSize to =
            gifanim::review::shaped_size(gifanim::review::resolved_for(scaled, source.size), source.size);
        if (static_cast<long>(to.width) * to.height <= 4096) shape.scale = *scale;
    }
    const double speeds[] = {1, 1, 0.1, 0.25, 0.5, 0.75, 1.5, 2, 3, 7.5, 20, 64};
    shape.speed = speeds[d.below(12)];
    shape.max_fps = d.below(3) == 0 ? d.below(61) : 0;
    const auto direction =
        d.below(2) == 0 ? gifanim::review::ExportDirection::forward : gifanim::review::ExportDirection::reverse;
    const gifanim::Optimization optimization{d.below(2) == 0, 1 + d.below(100)};

    check_timing(source.infos, direction, gifanim::review::resolved_for(shape, source.size));
    gifanim::review::EstimateSize(source, direction, shape, optimization);

    const std::uint64_t limit = d.below(2) == 0 ? 50 + static_cast<std::uint64_t>(d.byte()) * 40
                                                : 1000 + static_cast<std::uint64_t>(d.byte()) * 1000;
    static const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path path = dir / ("shaping_fuzz-" + std::to_string(getpid()) + ".gif");
    std::filesystem::remove(path);
    const gifanim::review::FitResult fit =
        gifanim::review::FitUnder(source, direction, shape, optimization, limit, path);
    std::error_code ec;
    const bool written = std::filesystem::exists(path, ec);
    if (!fit.met) {
        check(!written, "a fit that failed wrote nothing");
        check(fit.bytes == 0 || fit.bytes > limit, "a fit that failed reports a size over the limit");
        return 0;
    }
    check(written, "a fit that met its limit wrote the file");
    const std::uint64_t bytes = std::filesystem::file_size(path);
    check(bytes == fit.bytes, "the fit's size is the file's");
    check(bytes <= limit, "the limit kept");
    const GifRead gif = read_gif(path);
    const ExportShape resolved = gifanim::review::resolved_for(fit.shape, source.size);
    const gifanim::review::PictureSize shaped = gifanim::review::shaped_size(resolved, source.size);
    // A crop outside the recording's size may still meet frames of another size; the canvas is then
    // the first such frame's.
    if (shaped.width > 0) {
        check(gif.width == shaped.width && gif.height == shaped.height, "the canvas of the shaped size");
    }
    // An animation of one frame is a still picture, written without a delay. A frame of another size
    // that the crop misses, or that the scale makes too large, is left out with its time.
    if (gif.frames > 1) {
        long kept = 0;
        for (const gifanim::TimedFrame& t : gifanim::review::export_timing(source.infos, direction, resolved)) {
            const std::vector<std::uint8_t>& bmp = *images[t.source];
            const gifanim::review::PictureSize picture{bmp[18] | bmp[19] << 8, bmp[22] | bmp[23] << 8};
            if (gifanim::review::shape_problem(resolved, picture) == gifanim::review::ShapeProblem::none)
                kept += t.delay;
        }
        check(gif.time == kept, "the time of the export's timing");
    }
    std::filesystem::remove(path);
    return 0;
}
