// The cost of FrameStore::Append as a recording grows: what one more frame costs once a thousand,
// a hundred thousand or a million frames are there (a million is three hours at 100 frames a
// second). Frames go to the spill file in the temporary folder, as on a long recording on disk;
// each is a few bytes, so that the store's own work is what is measured, not the disk.
//   build/linux-release/bench/store_append_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "capture/frame_store.h"

namespace {

using namespace gifanim;

void append_after(benchmark::State& state) {
    capture::FrameStore store;
    if (!store.Open()) {
        state.SkipWithError("no spill file could be made");
        return;
    }
    const auto image = std::make_shared<const std::vector<std::uint8_t>>(16, 0x5A);
    FrameInfo info;
    info.DelayTime = 1;
    for (std::int64_t i = 0; i < state.range(0); ++i) store.Append(image, info, true);
    for (auto _ : state) store.Append(image, info, true);
    state.counters["frames_after"] = static_cast<double>(store.count());
    store.Close();
}

BENCHMARK(append_after)->Arg(1000)->Arg(100000)->Arg(1000000)->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
