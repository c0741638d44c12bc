// LZW throughput on the same 8-bit index buffers: our encoder against giflib's EGifPutLine.
// Throughput counts index bytes in (one per pixel). Run with
//   --benchmark_enable_random_interleaving=true --benchmark_repetitions=N
// so that both sides see the same machine conditions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench/bench_support.h"
#include "gif/colour_reduction.h"
#include "gif/lzw_encoder.h"

namespace gifanim::bench {
namespace {

using Frames = std::vector<IndexedImage>;

// Every sixth frame of the 60, so the set covers the whole sequence: typing, scrolling, the dragged
// dialog and the photo viewer.
constexpr int kFrameStep = 6;

Frames seq720(bool dither) {
    const auto corpus = corpus_dir();
    Frames frames;
    Unset<std::uint16_t> bins;
    for (int f = 0; f < 60; f += kFrameStep) {
        const platform::Dib24 picture = load(seq720_jpeg(corpus, f));
        IndexedImage& image = frames.emplace_back();
        if (dither) {
            dither_reduce(picture, image);
        } else {
            popularity_reduce(picture, image, bins);
        }
    }
    return frames;
}

Frames noise() {
    IndexedImage image;
    image.width = 1280;
    image.height = 720;
    image.indices.resize(1280 * 720);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& p : image.indices) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        p = static_cast<std::uint8_t>(x >> 32);
    }
    for (int i = 0; i < 768; ++i) image.palette[i] = static_cast<std::uint8_t>(i / 3);
    return {image};
}

// Both encoders must give streams that giflib decodes back to the indices; a fast wrong encoder
// measures nothing.
Frames checked(Frames frames) {
    LzwEncoder encoder;
    std::vector<std::uint8_t> data, peer;
    for (const IndexedImage& image : frames) {
        data.clear();
        encoder.encode(image.indices.data(), image.width, image.height, image.width, 8, false, data);
        if (!std::ranges::equal(giflib_decode(wrap_image_data(image, data)), image.indices))
            die("our LZW output does not decode back");
        giflib_encode(image, peer);
        if (!std::ranges::equal(giflib_decode(peer), image.indices)) die("giflib's output does not decode back");
    }
    return frames;
}

const Frames& frames_of(int set) {
    switch (set) {
        case 0: {
            static const Frames f = checked(seq720(false));
            return f;
        }
        case 1: {
            static const Frames f = checked(seq720(true));
            return f;
        }
        default: {
            static const Frames f = checked(noise());
            return f;
        }
    }
}

std::int64_t pixels_of(const Frames& frames) {
    std::int64_t n = 0;
    for (const auto& image : frames) n += static_cast<std::int64_t>(image.indices.size());
    return n;
}

void lzw_ours(benchmark::State& state, int set) {
    const Frames& frames = frames_of(set);
    LzwEncoder encoder;
    std::vector<std::uint8_t> out;
    out.reserve(4 << 20);
    std::size_t bytes_out = 0;
    for (auto _ : state) {
        bytes_out = 0;
        for (const IndexedImage& image : frames) {
            out.clear();
            encoder.encode(image.indices.data(), image.width, image.height, image.width, 8, false, out);
            bytes_out += out.size();
            benchmark::DoNotOptimize(out.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * pixels_of(frames));
    state.counters["frames"] = static_cast<double>(frames.size());
    state.counters["out_bytes"] = static_cast<double>(bytes_out);
}

void lzw_giflib(benchmark::State& state, int set) {
    const Frames& frames = frames_of(set);
    std::vector<std::uint8_t> out;
    out.reserve(4 << 20);
    std::size_t bytes_out = 0;
    for (auto _ : state) {
        bytes_out = 0;
        for (const IndexedImage& image : frames) {
            giflib_encode(image, out);
            bytes_out += out.size();
            benchmark::DoNotOptimize(out.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * pixels_of(frames));
    state.counters["frames"] = static_cast<double>(frames.size());
    state.counters["out_bytes"] = static_cast<double>(bytes_out);
}

BENCHMARK_CAPTURE(lzw_ours, seq720_popularity, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lzw_giflib, seq720_popularity, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lzw_ours, seq720_dither, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lzw_giflib, seq720_dither, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lzw_ours, noise, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lzw_giflib, noise, 2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gifanim::bench

BENCHMARK_MAIN();
