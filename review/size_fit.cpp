#include "review/size_fit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "gif/gif_index.h"
#include "gif/lzw_encoder.h"
#include "gif/picture_loader.h"
#include "imaging/resize.h"
#include "platform/file.h"
#include "platform/system.h"

namespace gifanim::review {

namespace {

constexpr int kLowestQuality = 20;
constexpr double kAim = 0.95;  // of the limit
constexpr int kMostExports = 3;
// Frames whose change stands for all of them: their pictures (and those of the frames before them)
// are decoded, which is what measuring costs.
constexpr std::size_t kChangesMeasured = 150;
const int kFrameRates[] = {30, 25, 20, 15, 12, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
const int kScales[] = {90, 80, 70, 60, 50, 45, 40, 35, 30, 25};  // percent; 25 % is the smallest allowed

std::atomic<unsigned> trials_made{0};

// A scratch GIF in the temporary folder, removed when done with.
struct TrialFile {
    std::filesystem::path path;
    // The name is taken by creating the file, so that two programs (or two tests) starting in the
    // same instant never write over each other's trials; the export replaces the empty file.
    TrialFile() {
        const std::uint32_t start = platform::tick_count();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path = platform::temp_directory() / ("~gifanim-trial-" + std::to_string(start) + "-" +
                                                 std::to_string(trials_made.fetch_add(1)) + ".gif");
            platform::PositionedFile reserved;
            switch (platform::PositionedFile::create_new(path, reserved)) {
                case platform::PositionedFile::Outcome::created: return;
                case platform::PositionedFile::Outcome::exists: continue;
                case platform::PositionedFile::Outcome::failed: break;
            }
            break;
        }
        path.clear();  // no name of our own: the encoding fails rather than touch another's file
    }
    TrialFile(const TrialFile&) = delete;
    TrialFile& operator=(const TrialFile&) = delete;
    ~TrialFile() {
        if (!path.empty()) platform::remove_file(path);
    }
};

// Where a trial GIF goes: a scratch file, or memory (`gif`) when it cannot take much of it.
struct TrialGif {
    std::unique_ptr<TrialFile> file;
    std::vector<std::uint8_t> gif;
    // Memory for `frames` frames of this canvas, unless they may come to more than a maker holds
    // in memory.
    static TrialGif for_frames(std::size_t frames, PictureSize canvas) {
        constexpr std::size_t kInMemory = GifMaker::kDefaultMemoryBudget;
        const std::size_t most =
            LzwEncoder::max_data_size(static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height));
        TrialGif t;
        if (most > kInMemory / std::max<std::size_t>(frames, 1)) t.file = std::make_unique<TrialFile>();
        return t;
    }
};

// Plain frames that an encoding of at most this many decodes two at a time.
constexpr std::size_t kPreparedInPairs = 4;

// One encoding: frames [from, to) of the export as an animation of their own, in `maker`; those
// marked in `shown_only` (when given) are taken as shown and not written. Answers the size of the
// GIF written to `trial`; 0 when it could not be written.
std::uint64_t encode(GifMaker& maker, const FrameSource& source, const std::vector<TimedFrame>& timing,
                     std::size_t from, std::size_t to, const ExportShape& shape, const Optimization& optimization,
                     TrialGif& trial, const std::vector<bool>* shown_only = nullptr) {
    const PictureSize canvas = shaped_size(shape, source.size);
    AnimationInfo info = source.animation;
    info.Width = static_cast<std::int16_t>(canvas.width);
    info.Depth = static_cast<std::int16_t>(canvas.height);
    info.FrameCount = static_cast<std::int32_t>(to - from);
    maker.SetOptimization(optimization);
    maker.Create(info);
    const auto shown = [&](std::size_t i) { return shown_only && (*shown_only)[i]; };
    bool none_shown = true;
    for (std::size_t i = from; i < to; ++i) none_shown = none_shown && !shown(i);
    // A few plain frames: the maker would decode them one after another on this thread while its
    // workers wait, so every second one is decoded on one more thread meanwhile.
    std::optional<ShapedAhead> ahead;
    if (!optimization.enabled && to - from <= kPreparedInPairs && none_shown) {
        ahead.emplace(to - from, [&](std::size_t k, ShapingScratch& scratch) {
            return prepare_shaped_frame(source, timing[from + k], shape, scratch);
        });
    }
    ShapingScratch scratch;
    for (std::size_t i = from; i < to; ++i)
        add_shaped_frame(maker, source, timing[i], shape, scratch, shown(i), ahead ? &*ahead : nullptr, i - from);
    if (!trial.file) return maker.SaveGif(trial.gif) ? trial.gif.size() : 0;
    if (!maker.SaveGif(trial.file->path)) return 0;
    std::error_code ec;
    const auto size = std::filesystem::file_size(trial.file->path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

// The bytes each frame of a sample GIF took, by the frame given to the maker: each was given with
// a delay of 1, so a written frame's delay counts the frames merged into it (which took none).
// The rest of the file (header, tables, trailer) goes to `overhead`; `headed` gets the part of
// the bytes of the frames given from `from` on that comes ahead of their image data (extensions,
// descriptor, local table). False when the file cannot be read back.
bool bytes_by_frame(TrialGif& trial, std::size_t given, std::size_t from, std::vector<std::uint64_t>& bytes,
                    std::uint64_t& overhead, std::uint64_t& headed) {
    std::vector<std::uint8_t>& gif = trial.gif;
    if (trial.file) {
        try {
            platform::File file = platform::File::open_read(trial.file->path);
            gif.resize(static_cast<std::size_t>(file.size()));
            file.read(gif);
        } catch (const platform::FileError&) {
            return false;
        }
    }
    if (gif.size() < 14) return false;
    const GifIndex index = build_index(gif);
    if (index.damaged || index.frames.empty()) return false;
    bytes.assign(given, 0);
    std::uint64_t framed = 0;
    headed = 0;
    std::size_t at = 0;  // the frame given that the next written one starts with
    for (std::size_t i = 0; i < index.frames.size() && at < given; ++i) {
        const std::size_t begin = index.frames[i];
        const std::size_t end = i + 1 < index.frames.size() ? index.frames[i + 1] : gif.size() - 1;
        const std::optional<FrameBlocks> blocks = walk_frame(gif, begin);
        if (!blocks || !blocks->control || end < begin || blocks->image_data > end) return false;
        bytes[at] = end - begin;
        framed += end - begin;
        if (at >= from) headed += blocks->image_data - begin;
        at += std::max<std::size_t>(1, read16(gif, *blocks->control + 4));
    }
    overhead = gif.size() - framed;
    return true;
}

// What a fit measures once for all its estimates: the crop stays along a fit, and the changes do
// not depend on the scale. The pictures decoded small are kept while they take little memory, so
// that another timing of the frames (a frame-rate limit) is measured without decoding them again.
struct ChangeCache {
    static constexpr std::size_t kKeptBytes = std::size_t{64} << 20;
    struct Timing {
        double speed = 0;
        int max_fps = 0;
        std::vector<std::uint32_t> change;
    };
    std::vector<Timing> timings;
    std::vector<platform::Dib24> reduced;  // by source frame; without bits where not kept
    std::size_t kept_bytes = 0;
};

// Frame `index` decoded kReduction times smaller a side: the cache's, or decoded into `scratch`
// (and kept in the cache while there is room). Null when it cannot be decoded.
const platform::Dib24* reduced_frame(const FrameSource& source, std::size_t index, platform::Dib24& scratch,
                                     ChangeCache* cache) {
    if (cache && index < cache->reduced.size() && cache->reduced[index].bits) return &cache->reduced[index];
    const capture::FrameImage image = source.image(index);
    if (!image) return nullptr;
    if (platform::load_picture_reduced(*image, scratch) != platform::LoadResult::ok) {
        platform::Dib24 whole;
        if (decode_picture(*image, whole) != platform::LoadResult::ok) return nullptr;
        platform::reduce_picture(whole, scratch);
    }
    const std::size_t bytes = scratch.stride * static_cast<std::size_t>(scratch.height);
    if (!cache || cache->kept_bytes + bytes > ChangeCache::kKeptBytes) return &scratch;
    if (cache->reduced.size() < source.infos.size()) cache->reduced.resize(source.infos.size());
    platform::Dib24& kept = cache->reduced[index];
    kept.allocate(scratch.width, scratch.height);
    std::copy_n(scratch.bits.get(), bytes, kept.bits.get());
    cache->kept_bytes += bytes;
    return &kept;
}

// How much each frame of the export changes from the one before: the blocks (kReduction pixels a
// side) of the cropped picture whose colour moved, from pictures decoded that much smaller. A
// frame that cannot be read changes nothing; one of another size than the one before, all of it.
// Only the frames marked in `wanted` are measured (the others count 0), and only the pictures they
// and the frames before them need are decoded.
std::vector<std::uint32_t> changes(const FrameSource& source, const std::vector<TimedFrame>& timing,
                                   const ExportShape& shape, ChangeCache* cache, const std::vector<bool>& wanted) {
    const std::size_t n = timing.size();
    std::vector<std::uint32_t> change(n, 0);
    // A picture is decoded where a repeat of it starts: a frame is needed for itself or the next.
    std::vector<bool> needed(n, false);
    for (std::size_t k = n; k-- > 0;) {
        needed[k] = needed[k] || wanted[k] || (k + 1 < n && wanted[k + 1]);
        if (needed[k] && k > 0 && timing[k].source == timing[k - 1].source) needed[k - 1] = true;
    }
    platform::Dib24 scratch[2];
    int next_scratch = 0;
    const platform::Dib24* before = nullptr;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0 && timing[k].source == timing[k - 1].source) continue;
        if (!needed[k]) {
            before = nullptr;
            continue;
        }
        const platform::Dib24* now = reduced_frame(source, timing[k].source, scratch[next_scratch], cache);
        if (!now) continue;
        if (now == &scratch[next_scratch]) next_scratch ^= 1;  // `before` stays whole for the next frame
        if (before) {
            const platform::ScreenRect all{0, 0, now->width, now->height};
            platform::ScreenRect part = all;
            if (shape.crop) {
                const platform::ScreenRect c = *shape.crop;
                part = imaging::clamp_crop({c.left / platform::kReduction, c.top / platform::kReduction,
                                            (c.right + platform::kReduction - 1) / platform::kReduction,
                                            (c.bottom + platform::kReduction - 1) / platform::kReduction},
                                           now->width, now->height);
            }
            std::uint32_t moved = 0;
            const bool same_size = before->width == now->width && before->height == now->height;
            for (int y = part.top; y < part.bottom; ++y) {
                const std::uint8_t* a = same_size ? before->row(now->height - 1 - y) : nullptr;
                const std::uint8_t* b = now->row(now->height - 1 - y);
                for (int x = part.left; x < part.right; ++x) {
                    const std::size_t i = 3 * static_cast<std::size_t>(x);
                    moved += !a || std::abs(a[i] - b[i]) > 2 || std::abs(a[i + 1] - b[i + 1]) > 2 ||
                             std::abs(a[i + 2] - b[i + 2]) > 2;
                }
            }
            if (wanted[k]) change[k] = moved;
        }
        before = now;
    }
    return change;
}

// changes(), in two halves at once when there is no cache to share and enough to measure, each
// half decoding the pictures its own frames need.
std::vector<std::uint32_t> changes_in_halves(const FrameSource& source, const std::vector<TimedFrame>& timing,
                                             const ExportShape& shape, ChangeCache* cache,
                                             const std::vector<bool>& wanted) {
    const std::size_t n = timing.size();
    if (cache || std::count(wanted.begin(), wanted.end(), true) < 64)
        return changes(source, timing, shape, cache, wanted);
    const std::size_t middle = n / 2;
    std::vector<bool> earlier = wanted, later = wanted;
    std::fill(earlier.begin() + static_cast<std::ptrdiff_t>(middle), earlier.end(), false);
    std::fill(later.begin(), later.begin() + static_cast<std::ptrdiff_t>(middle), false);
    std::vector<std::uint32_t> second;
    std::exception_ptr second_error;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                second = changes(source, timing, shape, nullptr, later);
            } catch (...) {
                second_error = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        return changes(source, timing, shape, nullptr, wanted);  // no thread to spare
    }
    std::vector<std::uint32_t> first;
    try {
        first = changes(source, timing, shape, nullptr, earlier);
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (second_error) std::rethrow_exception(second_error);
    std::copy(second.begin() + static_cast<std::ptrdiff_t>(middle), second.end(),
              first.begin() + static_cast<std::ptrdiff_t>(middle));
    return first;
}

// A fit's estimates only pick the step its exports then check (`quick`): they sample an optimized
// export as thinly as a plain one and count every frame given.
std::uint64_t estimate(const FrameSource& source, ExportDirection direction, const ExportShape& asked,
                       const Optimization& optimization, ChangeCache* cache = nullptr, bool quick = false) {
    const ExportShape shape = resolved_for(asked, source.size);
    const std::vector<TimedFrame> timing = export_timing(source.infos, direction, shape);
    const std::size_t n = timing.size();
    if (n == 0) return 0;
    GifMaker maker;
    // The first frame, then runs of consecutive frames spread over the rest, given one after
    // another: the first frame of each run is only what the others are stored against, and they
    // cost what they cost in the export. A plain frame stands on its own and costs about what its
    // image's bytes say (see below), so a few single frames give the cost of such a byte, unless
    // the export shows only a part of each image.
    // An optimized frame drawn against a picture taken as shown exactly costs more than in the
    // export, where what is shown already strays within the bound and so less is redrawn (5 % more
    // over an X recording of xterm and a dragged window): the first frame given in each run only
    // draws its changes so, and is not counted. And the bytes per changed block differ more from
    // frame to frame than a plain frame's bytes per image byte, so a short recording gets a few
    // more runs.
    const bool plain = !optimization.enabled;
    const bool by_size = plain && static_cast<bool>(source.image_size) && !shape.crop;
    const bool prepared = !plain && !quick;  // the first frame given in each run is not counted
    const std::size_t runs =
        by_size ? std::clamp<std::size_t>(n / 30, 2, 64) : std::clamp<std::size_t>(n / 12, prepared ? 6 : 4, 16);
    const std::size_t length = by_size ? 2 : std::clamp<std::size_t>(n / 25 / runs + 1, 2, 64) + (prepared ? 1 : 0);
    const PictureSize canvas = shaped_size(shape, source.size);
    if (1 + runs * length >= n) {
        TrialGif whole = TrialGif::for_frames(n, canvas);
        return encode(maker, source, timing, 0, n, shape, optimization, whole);
    }
    const auto run_start = [&](std::size_t r) {
        // In the middle of each of `runs` equal parts: frames just after the first are not like
        // the rest, and neither are the last ones.
        return 1 + (2 * r + 1) * (n - 1 - length) / (2 * runs);
    };
    // The changes of a long recording are measured on one frame in each stretch of `stride`, which
    // stands for the stretch, and on the frames of the sample. Its place in the stretch varies, so
    // that what comes back at a fixed period (a blinking cursor) is not always met or missed.
    // A stride of 2 would still decode every picture (each measured frame needs the one before),
    // so it is 1 or at least 3.
    std::size_t stride = (n - 1 + kChangesMeasured - 1) / kChangesMeasured;
    if (stride == 2) stride = 1;
    std::vector<std::size_t> standing;
    for (std::size_t from = 1; from < n; from += stride) {
        const std::uint32_t jitter = static_cast<std::uint32_t>(from) * 2654435761u >> 16;
        standing.push_back(std::min(n - 1, from + jitter % stride));
    }
    std::vector<bool> wanted(n, false);
    for (const std::size_t k : standing) wanted[k] = true;
    for (std::size_t r = 0; r < runs; ++r)
        for (std::size_t i = run_start(r) + 1; i < run_start(r) + length; ++i) wanted[i] = true;
    // The frames' changes, when the optimizing mode needs them and they are not known, are
    // measured on a thread of their own while the sample is encoded.
    std::vector<std::uint32_t> own;
    const std::vector<std::uint32_t>* change = &own;
    bool measure = false;
    if (!optimization.enabled) {
        own.assign(n, 0);
    } else if (!cache) {
        measure = true;
    } else {
        const auto known = std::find_if(cache->timings.begin(), cache->timings.end(), [&](const auto& t) {
            return t.speed == shape.speed && t.max_fps == shape.max_fps;
        });
        if (known != cache->timings.end()) {
            change = &known->change;
        } else {
            measure = true;
        }
    }
    std::exception_ptr measure_error;
    const auto measure_changes = [&] {
        try {
            own = changes_in_halves(source, timing, shape, cache, wanted);
        } catch (...) {
            measure_error = std::current_exception();
        }
    };
    std::thread measuring;
    if (measure) {
        try {
            measuring = std::thread(measure_changes);
        } catch (const std::system_error&) {
            measure_changes();  // no thread to spare: measured here, first
        }
    }
    struct Joined {
        std::thread& t;
        ~Joined() {
            if (t.joinable()) t.join();
        }
    } joined{measuring};
    // The first frame of each run is only the picture the next ones are stored against: in the
    // optimizing mode the maker takes it as shown without storing it, and plain frames stand on
    // their own, so it is not given at all.
    // Plain frames estimated by their images' sizes are all estimated so, the first too: the
    // sample need not begin with it.
    const std::size_t from = by_size ? 0 : 1;  // the first frame the sample stands for
    std::vector<TimedFrame> sample;
    std::vector<bool> shown_only;
    std::vector<std::size_t> sample_places;
    if (!by_size) {
        sample.push_back(timing[0]);
        shown_only.push_back(false);
        sample_places.push_back(0);
    }
    for (std::size_t r = 0; r < runs; ++r) {
        const std::size_t start = run_start(r);
        for (std::size_t i = optimization.enabled ? start : start + 1; i < start + length; ++i) {
            sample.push_back(timing[i]);
            shown_only.push_back(i == start);
            sample_places.push_back(i);
        }
    }
    for (TimedFrame& t : sample) t.delay = 1;
    TrialGif trial = TrialGif::for_frames(sample.size(), canvas);
    encode(maker, source, sample, 0, sample.size(), shape, optimization, trial, &shown_only);
    if (measuring.joinable()) measuring.join();
    if (measure_error) std::rethrow_exception(measure_error);
    if (measure && cache) {
        cache->timings.push_back({shape.speed, shape.max_fps, std::move(own)});
        change = &cache->timings.back().change;
    }
    // The frames given, as they were written, and which of them only prepared what is shown.
    std::vector<std::size_t> given_places;
    std::vector<bool> preparing;
    for (std::size_t i = 0; i < sample.size(); ++i) {
        if (shown_only[i]) continue;
        given_places.push_back(sample_places[i]);
        preparing.push_back(prepared && i > 0 && shown_only[i - 1]);
    }
    std::vector<std::uint64_t> bytes;
    std::uint64_t overhead = 0;
    std::uint64_t headed = 0;  // of the frames measured
    if (!bytes_by_frame(trial, given_places.size(), from, bytes, overhead, headed)) return 0;
    std::uint64_t measured = 0, frames = 0;
    double measured_change = 0;
    for (std::size_t i = from; i < given_places.size(); ++i) {
        if (preparing[i]) continue;
        measured += bytes[i];
        measured_change += static_cast<double>((*change)[given_places[i]]);
        ++frames;
    }
    const double mean = static_cast<double>(measured) / static_cast<double>(frames);
    double later = mean * static_cast<double>(n - from);
    // A plain frame's image data follows its image's bytes: screens of more detail take more of
    // both, and their ratio varies far less from frame to frame than either. What comes ahead of
    // the data (its table above all) is the same for every frame. Every frame's image size is
    // known without reading it.
    if (by_size) {
        double sampled = 0, all = 0;
        for (const std::size_t k : given_places) sampled += static_cast<double>(source.image_size(timing[k].source));
        for (std::size_t k = 0; k < n; ++k) all += static_cast<double>(source.image_size(timing[k].source));
        if (sampled > 0) {
            const double head = static_cast<double>(headed) / static_cast<double>(frames);
            later = head * static_cast<double>(n) + static_cast<double>(measured - headed) / sampled * all;
        }
    }
    // An optimized frame costs about as much as it changes: the sample gives the bytes a changed
    // block costs, and the measured frames give the change of all of them.
    if (optimization.enabled && measured_change > 0) {
        double measured_all = 0;
        for (const std::size_t k : standing) measured_all += static_cast<double>((*change)[k]);
        const double all_change = measured_all / static_cast<double>(standing.size()) * static_cast<double>(n - 1);
        later = static_cast<double>(measured) / measured_change * all_change;
    }
    return overhead + (from > 0 ? bytes[0] : 0) + static_cast<std::uint64_t>(later);
}

// What the fitted export gave up of the one asked for.
std::string describe(const FitResult& r, const ExportShape& asked, const Optimization& asked_mode) {
    std::string steps;
    const auto add = [&steps](const std::string& s) { steps += (steps.empty() ? "" : ", ") + s; };
    if (r.optimization.enabled && !asked_mode.enabled) add("optimized");
    if (r.optimization.enabled && (!asked_mode.enabled || r.optimization.quality != asked_mode.quality))
        add("quality " + std::to_string(r.optimization.quality));
    if (r.shape.max_fps != asked.max_fps) add("at most " + std::to_string(r.shape.max_fps) + " frames/s");
    if (r.shape.scale.kind == Scaling::Kind::percent && asked.scale.kind == Scaling::Kind::none) {
        char text[32];
        std::snprintf(text, sizeof text, "scale %g%%", r.shape.scale.percent);
        add(text);
    }
    return steps;
}

// The frame rate the recording has: 100 over its most common delay.
int recorded_frame_rate(const std::vector<FrameInfo>& infos) {
    int shortest = 0;
    for (const FrameInfo& f : infos)
        if (f.DelayTime > 0 && (shortest == 0 || f.DelayTime < shortest)) shortest = f.DelayTime;
    return shortest > 0 ? std::max(1, 100 / shortest) : 100;
}

}  // namespace

std::uint64_t EstimateSize(const FrameSource& source, ExportDirection direction, const ExportShape& shape,
                           const Optimization& optimization) {
    return estimate(source, direction, shape, optimization);
}

FitResult FitUnder(const FrameSource& source, ExportDirection direction, const ExportShape& asked,
                   const Optimization& optimization, std::uint64_t limit, const std::filesystem::path& path) {
    FitResult result;
    ChangeCache measured;
    const auto estimated_as = [&](const ExportShape& shape, const Optimization& mode) {
        return estimate(source, direction, shape, mode, &measured, true);
    };
    result.asked_bytes = estimated_as(asked, optimization);
    const int recorded_fps = recorded_frame_rate(source.infos);

    // The settings tried, from least to most given up: each step is one more thing given up.
    struct Trial {
        ExportShape shape;
        Optimization optimization;
    };
    std::vector<Trial> ladder{{asked, optimization}};
    // The plain GIF given up for the optimized one starts at its best quality.
    const int best = optimization.enabled ? optimization.quality - 5 : 100;
    for (int q = best; q >= kLowestQuality; q -= 5) ladder.push_back({asked, {true, q}});
    const Optimization lowest{true, std::min(optimization.enabled ? optimization.quality : 100, kLowestQuality)};
    const std::size_t quality_steps = ladder.size();  // the steps after these give up more than quality
    // A frame rate that keeps the same frames as a higher one (every other frame of 10 a second is
    // kept at 9 frames/s as at 5) is no step further.
    ExportShape slower = asked;
    std::vector<TimedFrame> kept = export_timing(source.infos, direction, resolved_for(asked, source.size));
    const auto same_frames = [](const std::vector<TimedFrame>& a, const std::vector<TimedFrame>& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](const TimedFrame& x, const TimedFrame& y) {
                   return x.source == y.source && x.delay == y.delay;
               });
    };
    for (const int fps : kFrameRates) {
        if (fps >= recorded_fps || (asked.max_fps > 0 && fps >= asked.max_fps)) continue;
        ExportShape trial_shape = slower;
        trial_shape.max_fps = fps;
        std::vector<TimedFrame> timing = export_timing(source.infos, direction, resolved_for(trial_shape, source.size));
        if (same_frames(timing, kept)) continue;
        kept = std::move(timing);
        slower = trial_shape;
        ladder.push_back({slower, lowest});
    }
    const bool scaled = asked.scale.kind != Scaling::Kind::none;
    for (const int percent : kScales) {
        if (scaled) break;  // a scale the user chose stays
        ExportShape smaller = slower;
        smaller.scale.kind = Scaling::Kind::percent;
        smaller.scale.percent = percent;
        ladder.push_back({smaller, lowest});
    }

    // Each step's estimate, made once.
    std::vector<std::uint64_t> estimates(ladder.size(), UINT64_MAX);
    estimates[0] = result.asked_bytes;
    const auto estimated = [&](std::size_t step) {
        if (estimates[step] == UINT64_MAX)
            estimates[step] = estimated_as(ladder[step].shape, ladder[step].optimization);
        return estimates[step];
    };
    // The first step whose estimate is under the aim; the estimate falls along the ladder, so it
    // is searched by halves, after a look at the first step, which often fits as it is.
    // The last step when none is, the smallest there is.
    const auto first_under = [&](std::size_t from, double aim) {
        if (from + 1 >= ladder.size() || static_cast<double>(estimated(from)) <= aim) return from;
        std::size_t lo = from + 1, hi = ladder.size() - 1;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (static_cast<double>(estimated(mid)) <= aim) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        return lo;
    };
    GifMaker maker;
    TrialGif trial{std::make_unique<TrialFile>(), {}};  // a whole export: it may be large
    const auto export_step = [&](std::size_t step) {
        const ExportShape shape = resolved_for(ladder[step].shape, source.size);
        const std::vector<TimedFrame> timing = export_timing(source.infos, direction, shape);
        return encode(maker, source, timing, 0, timing.size(), shape, ladder[step].optimization, trial);
    };
    const auto take = [&](std::size_t step, std::uint64_t bytes) {
        // The frames stay in the maker: saving them again writes the same bytes.
        if (!maker.SaveGif(path)) return false;
        result.met = true;
        result.bytes = bytes;
        result.shape = ladder[step].shape;
        result.optimization = ladder[step].optimization;
        result.steps = describe(result, asked, optimization);
        return true;
    };

    double aim = static_cast<double>(limit) * kAim;
    std::size_t from = 0;
    std::uint64_t smallest = 0;
    for (int exports = 0; exports < kMostExports && from < ladder.size(); ++exports) {
        const std::size_t step = first_under(from, aim);
        if (step >= quality_steps && static_cast<double>(estimated(step)) <= aim) {
            // The frame rate or the scale was given up at the lowest quality: the quality comes
            // back up as far as the room left allows, up to the one asked, searched by halves over
            // the qualities above.
            Trial& t = ladder[step];
            const int asked_quality = optimization.enabled ? optimization.quality : 100;
            std::vector<int> higher;
            for (int q = lowest.quality + 5; q < asked_quality; q += 5) higher.push_back(q);
            if (asked_quality > lowest.quality) higher.push_back(asked_quality);
            int lo = -1, hi = static_cast<int>(higher.size()) - 1;  // higher[lo] fits (-1: the lowest)
            while (lo < hi) {
                const int mid = (lo + hi + 1) / 2;
                const std::uint64_t bytes = estimated_as(t.shape, {true, higher[static_cast<std::size_t>(mid)]});
                if (static_cast<double>(bytes) <= aim) {
                    lo = mid;
                    t.optimization.quality = higher[static_cast<std::size_t>(mid)];
                    estimates[step] = bytes;
                } else {
                    hi = mid - 1;
                }
            }
        }
        const std::uint64_t bytes = export_step(step);
        if (bytes > 0 && (smallest == 0 || bytes < smallest)) smallest = bytes;
        if (bytes > 0 && bytes <= limit) {
            if (!take(step, bytes)) break;
            // Far under the limit and an export left: the step before may fit too, and shows more,
            // unless its estimate says it does not.
            if (exports + 1 < kMostExports && step > from && static_cast<double>(bytes) < 0.85 * limit &&
                static_cast<double>(estimated(step - 1)) <= 1.05 * static_cast<double>(limit)) {
                const std::uint64_t better = export_step(step - 1);
                if (better > 0 && better <= limit) take(step - 1, better);
            }
            return result;
        }
        if (bytes == 0 || step + 1 == ladder.size()) break;
        // Over: the estimates run low by bytes / limit here; the next try aims that much lower and
        // starts past this step.
        aim *= std::min(0.97, static_cast<double>(limit) / static_cast<double>(bytes));
        from = step + 1;
    }
    result.bytes = smallest;
    return result;
}

}  // namespace gifanim::review
