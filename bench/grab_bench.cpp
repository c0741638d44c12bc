// Grab + JPEG of a screen rectangle, per call, as the recorder does on every tick. Needs an X
// display (run under scripts/xvfb-run.sh with GIFANIM_XVFB_SCREEN=1920x1080x24).
#include <benchmark/benchmark.h>

#include "capture/grab.h"
#include "platform/screen.h"

namespace {

void grab_jpeg(benchmark::State& state, int width, int height) {
    if (gifanim::platform::screen_bits_per_pixel() == 0) {
        state.SkipWithError("no screen: run under scripts/xvfb-run.sh");
        return;
    }
    const gifanim::platform::ScreenRect rect{0, 0, width, height};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto jpeg = gifanim::capture::GrabRegion(rect, 2, true);
        if (jpeg.empty()) state.SkipWithError("the grab failed");
        bytes = jpeg.size();
    }
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

BENCHMARK_CAPTURE(grab_jpeg, 1920x1080, 1920, 1080)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab_jpeg, 1280x720, 1280, 720)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
