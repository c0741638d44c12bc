// Colour reduction throughput in pixels per second on the 1920x1080 desktop, decoded once.
// giflib's GifQuantizeBuffer (median cut, a different algorithm) runs in the same process as a
// reference point for the machine's speed, not as an equivalent.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdint>
#include <vector>

#include "bench/bench_support.h"
#include "gif/colour_reduction.h"

namespace gifanim::bench {
namespace {

const platform::Dib24& desktop1080() {
    static const platform::Dib24 picture = load(corpus_dir() / "big1080" / "desktop1080.jpg");
    return picture;
}

const platform::Dib24& frame720() {
    static const platform::Dib24 picture = load(seq720_jpeg(corpus_dir(), 30));
    return picture;
}

std::int64_t pixels(const platform::Dib24& p) {
    return static_cast<std::int64_t>(p.width) * p.height;
}

void popularity(benchmark::State& state, const platform::Dib24& (*picture)()) {
    const platform::Dib24& p = picture();
    IndexedImage out;
    Unset<std::uint16_t> bins;
    for (auto _ : state) {
        popularity_reduce(p, out, bins);
        benchmark::DoNotOptimize(out.indices.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pixels(p));
}

void dither(benchmark::State& state, const platform::Dib24& (*picture)()) {
    const platform::Dib24& p = picture();
    IndexedImage out;
    for (auto _ : state) {
        dither_reduce(p, out);
        benchmark::DoNotOptimize(out.indices.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pixels(p));
}

void giflib_quantize(benchmark::State& state, const platform::Dib24& (*picture)()) {
    const platform::Dib24& p = picture();
    const auto n = static_cast<std::size_t>(pixels(p));
    std::vector<GifByteType> red(n), green(n), blue(n), out(n);
    for (int r = 0; r < p.height; ++r) {
        const std::uint8_t* src = p.row(p.height - 1 - r);
        for (int x = 0; x < p.width; ++x) {
            const std::size_t i =
                static_cast<std::size_t>(r) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x);
            blue[i] = src[3 * x];
            green[i] = src[3 * x + 1];
            red[i] = src[3 * x + 2];
        }
    }
    GifColorType map[256];
    for (auto _ : state) {
        int size = 256;
        if (GifQuantizeBuffer(static_cast<unsigned>(p.width), static_cast<unsigned>(p.height), &size, red.data(),
                              green.data(), blue.data(), out.data(), map) != GIF_OK)
            die("giflib: GifQuantizeBuffer failed");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pixels(p));
}

BENCHMARK_CAPTURE(popularity, desktop1080, desktop1080)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(dither, desktop1080, desktop1080)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(giflib_quantize, desktop1080, desktop1080)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(popularity, seq720_030, frame720)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gifanim::bench

BENCHMARK_MAIN();
