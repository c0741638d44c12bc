// Where the time of `gifanim make --delay 10 seq720/jpg/*.jpg` goes: the same steps GifMaker takes
// for the 60 frames (read, decode, popularity reduction, LZW, then writing the file), each timed
// on its own over all frames on one thread, repeated, and reported as medians. GifMaker overlaps
// reading and decoding a frame with reducing and compressing the one before on a second thread;
// the last line estimates the wall time that gives.
//   make_split [--runs N] [-o OUT.gif]
// With -o the GIF of the last run stays at OUT.gif (bench/make_vs_ffmpeg.sh compares it with the
// tool's output); otherwise it goes to a temporary file that is removed.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "gif/colour_reduction.h"
#include "gif/gif_writer.h"
#include "gif/lzw_encoder.h"
#include "platform/file.h"

namespace gifanim::bench {
namespace {

using Clock = std::chrono::steady_clock;

enum Stage { kRead, kDecode, kReduce, kLzw, kWrite, kStages };
constexpr const char* kStageNames[kStages] = {"read", "decode", "reduce", "lzw", "write"};

struct Run {
    double seconds[kStages] = {};
    std::uint64_t gif_bytes = 0;
};

double since(Clock::time_point& t) {
    const auto now = Clock::now();
    const double s = std::chrono::duration<double>(now - t).count();
    t = now;
    return s;
}

Run run_once(const std::vector<std::filesystem::path>& inputs, const std::filesystem::path& output) {
    Run run;
    AnimationSettings settings;
    std::vector<FrameRecord> records;
    std::vector<EncodedFrame> frames;
    LzwEncoder encoder;
    IndexedImage indexed;
    Unset<std::uint16_t> bins;

    for (const auto& path : inputs) {
        auto t = Clock::now();
        std::vector<std::uint8_t> contents;
        {
            platform::File file = platform::File::open_read(path);
            contents.resize(static_cast<std::size_t>(file.size()));
            file.read(contents);
        }
        run.seconds[kRead] += since(t);

        platform::Dib24 picture;
        if (platform::load_picture(contents, picture) != platform::LoadResult::ok)
            die(path.string() + ": not decodable");
        contents = {};
        run.seconds[kDecode] += since(t);

        popularity_reduce(picture, indexed, bins);
        picture = {};
        run.seconds[kReduce] += since(t);

        EncodedFrame& frame = frames.emplace_back();
        frame.width = static_cast<std::uint16_t>(indexed.width);
        frame.height = static_cast<std::uint16_t>(indexed.height);
        frame.palette = indexed.palette;
        encoder.encode(indexed.indices.data(), indexed.width, indexed.height, indexed.width, 8, false, frame.data);
        frame.data.shrink_to_fit();
        run.seconds[kLzw] += since(t);

        FrameRecord& record = records.emplace_back();
        record.delay = 10;
    }

    auto t = Clock::now();
    settings.width = frames.front().width;
    settings.height = frames.front().height;
    platform::File file = platform::File::create(output);
    write_gif(file, settings, records, frames);
    file.close();
    run.seconds[kWrite] += since(t);
    run.gif_bytes = std::filesystem::file_size(output);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

int main_of(int argc, char** argv) {
    int runs = 5;
    std::filesystem::path keep;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
            keep = argv[++i];
        } else {
            std::fprintf(stderr, "usage: make_split [--runs N] [-o OUT.gif]\n");
            return 2;
        }
    }
    const auto corpus = corpus_dir();
    std::vector<std::filesystem::path> inputs;
    for (int f = 0; f < 60; ++f) inputs.push_back(seq720_jpeg(corpus, f));
    const std::filesystem::path output = keep.empty() ? std::filesystem::temp_directory_path() /
                                                            ("gifanim_make_split_" + std::to_string(getpid()) + ".gif")
                                                      : keep;

    std::vector<Run> all;
    try {
        for (int r = 0; r < runs; ++r) all.push_back(run_once(inputs, output));
    } catch (const platform::FileError& e) {
        die(output.string() + ": " + e.text);
    }
    if (keep.empty()) std::filesystem::remove(output);

    const double mpx = 60.0 * 1280 * 720 / 1e6;
    std::printf("make split: 60 frames 1280x720 (seq720/jpg), %d runs, GIF %llu bytes\n", runs,
                static_cast<unsigned long long>(all.back().gif_bytes));
    std::printf("%-8s", "run");
    for (const char* name : kStageNames) std::printf("%10s", name);
    std::printf("%10s\n", "total");
    std::vector<double> per_stage[kStages], totals;
    for (int r = 0; r < runs; ++r) {
        std::printf("%-8d", r + 1);
        double total = 0;
        for (int s = 0; s < kStages; ++s) {
            std::printf("%8.1fms", all[r].seconds[s] * 1e3);
            per_stage[s].push_back(all[r].seconds[s]);
            total += all[r].seconds[s];
        }
        totals.push_back(total);
        std::printf("%8.1fms\n", total * 1e3);
    }
    const double total = median(totals);
    std::printf("%-8s", "median");
    for (auto& v : per_stage) std::printf("%8.1fms", median(v) * 1e3);
    std::printf("%8.1fms\n%-8s", total * 1e3, "share");
    for (auto& v : per_stage) std::printf("%9.1f%%", 100 * median(v) / total);
    std::printf("%9.1f%%\n%-8s", 100.0, "Mpx/s");
    for (auto& v : per_stage) std::printf("%10.0f", mpx / median(v));
    std::printf("%10.0f\n", mpx / total);
    const double front = median(per_stage[kRead]) + median(per_stage[kDecode]);
    const double back = median(per_stage[kReduce]) + median(per_stage[kLzw]);
    std::printf("two threads: read+decode %.1f ms, reduce+lzw %.1f ms; estimated wall max + write = %.1f ms\n",
                front * 1e3, back * 1e3, (std::max(front, back) + median(per_stage[kWrite])) * 1e3);
    return 0;
}

}  // namespace
}  // namespace gifanim::bench

int main(int argc, char** argv) {
    return gifanim::bench::main_of(argc, argv);
}
