// GifReader against giflib on the same bytes, in the same process:
//  - decode: every frame of the 60-frame 1280x720 animation that GifMaker makes of seq720/jpg, by
//    LoadGif and GetGifData(1..60) (each frame as a BMP file) against DGifOpen over memory and
//    DGifSlurp; Mpixel/s of frame pixels.
//  - index: LoadGif of an animation of about 50 MB (the 60 frames added again and again) against
//    DGifSlurp of the same bytes, which is what giflib must do to know its frames. Most of
//    LoadGif is the copy of the bytes that the reader keeps to patch, so the figure depends on
//    whether that copy lands on pages the process already has: "cold" hands every free page back
//    to the system before each iteration (malloc_trim), as in a process that opens its first big
//    file, and the kernel must fault in and zero each page; "warm" lets freed memory stay in the
//    heap, as in a process that has handled files of that size before. giflib gets the same
//    treatment for its rasters. Two reference lines show where LoadGif's time goes: index_walk is
//    the walk over the blocks alone, copy the copy of the bytes by itself.
// The animations are made once, outside the timed loops, and our decoded frames are checked
// against giflib's pixel for pixel before anything is timed. Run with
//   --benchmark_enable_random_interleaving=true --benchmark_repetitions=N
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "gif/gif_index.h"
#include "gif/gif_maker.h"
#include "gif/gif_reader.h"

namespace gifanim::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 60;
constexpr std::size_t kBigBytes = 50u << 20;

// An animation of the seq720 frames, `passes` times over, as GifMaker writes it with default
// settings (popularity palette per frame, looping).
Bytes make_animation(int passes) {
    const auto corpus = corpus_dir();
    GifMaker maker;
    AnimationInfo info;
    if (!maker.Create(info)) die("GifMaker::Create: " + maker.GetError());
    for (int pass = 0; pass < passes; ++pass)
        for (int f = 0; f < kFrames; ++f) {
            FrameInfo frame;
            frame.DelayTime = 10;
            if (!maker.AddFrame(frame, seq720_jpeg(corpus, f))) die("GifMaker::AddFrame: " + maker.GetError());
        }
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("gifanim-reader-bench." + std::to_string(getpid()) + ".gif");
    if (!maker.SaveGif(path)) die("GifMaker::SaveGif: " + maker.GetError());
    Bytes bytes = read_file(path);
    std::filesystem::remove(path);
    return bytes;
}

// giflib's whole decode of a GIF in memory; the caller closes it with DGifCloseFile.
GifFileType* slurp(std::span<const std::uint8_t> bytes, MemoryInput& in) {
    in = MemoryInput{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, read_input, &error);
    if (!gif) die(std::string("DGifOpen: ") + GifErrorString(error));
    if (DGifSlurp(gif) != GIF_OK) die(std::string("DGifSlurp: ") + GifErrorString(gif->Error));
    return gif;
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Every frame as our reader hands it out must hold giflib's indices and colours: a fast wrong
// decoder measures nothing.
void check_against_giflib(const Bytes& bytes, int frames) {
    GifReader reader;
    reader.Create();
    if (!reader.LoadGif({}, bytes)) die("LoadGif: " + reader.GetError());
    if (reader.FrameCount() != frames) die("LoadGif found " + std::to_string(reader.FrameCount()) + " frames");
    MemoryInput in;
    GifFileType* gif = slurp(bytes, in);
    if (gif->ImageCount != frames) die("giflib found " + std::to_string(gif->ImageCount) + " frames");
    for (int n = 1; n <= frames; ++n) {
        const SavedImage& image = gif->SavedImages[n - 1];
        const int w = image.ImageDesc.Width, h = image.ImageDesc.Height;
        const Bytes bmp = reader.GetGifData(n);
        const std::string at = "frame " + std::to_string(n) + ": ";
        if (bmp.size() < 54 || bmp[28] != 8 || le32(bmp, 18) != static_cast<std::uint32_t>(w) ||
            le32(bmp, 22) != static_cast<std::uint32_t>(h))
            die(at + "not an 8-bit BMP of the frame's size");
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        for (int i = 0; map && i < map->ColorCount; ++i) {
            const std::uint8_t* e = bmp.data() + 54 + 4 * i;
            const GifColorType& c = map->Colors[i];
            if (e[0] != c.Blue || e[1] != c.Green || e[2] != c.Red) die(at + "colour table differs from giflib's");
        }
        const std::size_t stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
        const std::size_t offset = le32(bmp, 10);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* ours = bmp.data() + offset + stride * static_cast<std::size_t>(h - 1 - y);
            if (std::memcmp(ours, image.RasterBits + static_cast<std::size_t>(y) * w, static_cast<std::size_t>(w)) != 0)
                die(at + "row " + std::to_string(y) + " differs from giflib's decode");
        }
    }
    int error = 0;
    DGifCloseFile(gif, &error);
}

struct Animation {
    Bytes bytes;
    int frames = 0;
    std::int64_t pixels = 0;
};

const Animation& sequence() {
    static const Animation a = [] {
        Animation s{make_animation(1), kFrames, std::int64_t{kFrames} * 1280 * 720};
        check_against_giflib(s.bytes, s.frames);
        return s;
    }();
    return a;
}

// The 60 frames over and over until about 50 MB. Its frames are the same as the sequence's, which
// is checked in full; here only the frame count is.
const Animation& big() {
    static const Animation a = [] {
        const int passes = static_cast<int>(
            std::max<std::size_t>(1, (kBigBytes + sequence().bytes.size() - 1) / sequence().bytes.size()));
        Animation b{make_animation(passes), kFrames * passes, std::int64_t{kFrames} * passes * 1280 * 720};
        GifReader reader;
        reader.Create();
        if (!reader.LoadGif({}, b.bytes) || reader.FrameCount() != b.frames) die("the big animation does not index");
        return b;
    }();
    return a;
}

void decode_ours(benchmark::State& state) {
    const Animation& a = sequence();
    GifReader reader;
    reader.Create();
    for (auto _ : state) {
        if (!reader.LoadGif({}, a.bytes)) die("LoadGif: " + reader.GetError());
        for (int n = 1; n <= a.frames; ++n) {
            const Bytes bmp = reader.GetGifData(n);
            benchmark::DoNotOptimize(bmp.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * a.pixels);
    state.counters["gif_bytes"] = static_cast<double>(a.bytes.size());
}

void decode_giflib(benchmark::State& state) {
    const Animation& a = sequence();
    MemoryInput in;
    for (auto _ : state) {
        GifFileType* gif = slurp(a.bytes, in);
        benchmark::DoNotOptimize(gif->SavedImages[gif->ImageCount - 1].RasterBits);
        int error = 0;
        DGifCloseFile(gif, &error);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * a.pixels);
    state.counters["gif_bytes"] = static_cast<double>(a.bytes.size());
}

enum class Memory { cold, warm };

// Blocks of 1 MiB come from the heap (main sets the thresholds), so touching and freeing enough of
// them leaves that much memory faulted in and free for the next allocations.
void warm_heap() {
    constexpr std::size_t kBlocks = 640;  // more than giflib's rasters and the GIF together
    std::vector<Bytes> blocks;
    blocks.reserve(kBlocks);
    for (std::size_t i = 0; i < kBlocks; ++i) blocks.emplace_back(std::size_t{1} << 20, std::uint8_t{1});
}

// Runs before each timed iteration, outside the time.
void prepare(benchmark::State& state, Memory memory) {
    if (memory == Memory::warm) return;
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
}

void index_ours(benchmark::State& state, Memory memory) {
    const Animation& a = big();
    GifReader reader;
    reader.Create();
    if (memory == Memory::warm) warm_heap();
    for (auto _ : state) {
        prepare(state, memory);
        if (!reader.LoadGif({}, a.bytes)) die("LoadGif: " + reader.GetError());
        benchmark::DoNotOptimize(reader.FrameCount());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.bytes.size()));
    state.counters["frames"] = a.frames;
    state.counters["gif_bytes"] = static_cast<double>(a.bytes.size());
}

void index_giflib(benchmark::State& state, Memory memory) {
    const Animation& a = big();
    MemoryInput in;
    if (memory == Memory::warm) warm_heap();
    for (auto _ : state) {
        prepare(state, memory);
        GifFileType* gif = slurp(a.bytes, in);
        if (gif->ImageCount != a.frames) die("giflib found a different frame count");
        int error = 0;
        DGifCloseFile(gif, &error);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.bytes.size()));
    state.counters["frames"] = a.frames;
    state.counters["gif_bytes"] = static_cast<double>(a.bytes.size());
}

void index_walk(benchmark::State& state) {
    const Animation& a = big();
    for (auto _ : state) {
        const GifIndex index = build_index(a.bytes);
        if (index.frames.size() != static_cast<std::size_t>(a.frames)) die("build_index found a different frame count");
        benchmark::DoNotOptimize(index.frames.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.bytes.size()));
}

void copy(benchmark::State& state, Memory memory) {
    const Animation& a = big();
    if (memory == Memory::warm) warm_heap();
    for (auto _ : state) {
        prepare(state, memory);
        const Bytes copy(a.bytes.begin(), a.bytes.end());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.bytes.size()));
}

BENCHMARK(decode_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(decode_giflib)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(index_ours, cold, Memory::cold)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(index_giflib, cold, Memory::cold)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(index_ours, warm, Memory::warm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(index_giflib, warm, Memory::warm)->Unit(benchmark::kMillisecond);
BENCHMARK(index_walk)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copy, cold, Memory::cold)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copy, warm, Memory::warm)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gifanim::bench

int main(int argc, char** argv) {
    // Fixed thresholds instead of glibc's adaptive ones, so that where a big block comes from does
    // not depend on which benchmark ran before: blocks under 32 MiB come from the heap, and freed
    // heap memory is kept until malloc_trim hands it back (the cold runs).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
