#include "gif/frame_timing.h"

#include <algorithm>
#include <cmath>

namespace gifanim {

namespace {

// Frames whose show is too short give their time to the next one; the last to the one before.
std::vector<TimedFrame> merge_short(std::vector<TimedFrame> frames, std::int64_t shortest) {
    std::vector<TimedFrame> out;
    out.reserve(frames.size());
    std::int64_t carried = 0;
    for (TimedFrame f : frames) {
        f.delay += carried;
        carried = 0;
        if (f.delay < shortest) {
            carried = f.delay;
            continue;
        }
        out.push_back(f);
    }
    if (carried > 0 || out.empty()) {
        if (out.empty()) {
            if (!frames.empty()) out.push_back({frames.back().source, carried});
        } else {
            out.back().delay += carried;
        }
    }
    return out;
}

}  // namespace

std::vector<TimedFrame> timed_frames(std::span<const std::int64_t> delays) {
    std::vector<TimedFrame> out(delays.size());
    for (std::size_t i = 0; i < delays.size(); ++i) out[i] = {i, std::max<std::int64_t>(0, delays[i])};
    return out;
}

std::vector<TimedFrame> with_speed(std::span<const TimedFrame> frames, double factor) {
    std::vector<TimedFrame> out(frames.begin(), frames.end());
    // Each frame starts at its source start divided by the factor, rounded: the rounding never
    // adds up along the frames.
    std::int64_t source_start = 0, start = 0;
    for (TimedFrame& f : out) {
        const std::int64_t source_end = source_start + f.delay;
        const auto end = static_cast<std::int64_t>(std::llround(static_cast<double>(source_end) / factor));
        f.delay = end - start;
        source_start = source_end;
        start = end;
    }
    return merge_short(std::move(out), kShortestShownDelay);
}

std::vector<TimedFrame> with_frame_rate_limit(std::span<const TimedFrame> frames, int max_fps) {
    const std::int64_t shortest = std::max<std::int64_t>(kShortestShownDelay, (100 + max_fps - 1) / max_fps);
    std::vector<TimedFrame> out;
    out.reserve(frames.size());
    for (const TimedFrame& f : frames) {
        if (!out.empty() && out.back().delay < shortest) {
            out.back().delay += f.delay;  // shown too soon after the kept one: dropped
        } else {
            out.push_back(f);
        }
    }
    if (out.size() > 1 && out.back().delay < shortest) {
        const std::int64_t rest = out.back().delay;
        out.pop_back();
        out.back().delay += rest;
    }
    return out;
}

std::vector<TimedFrame> split_long_delays(std::span<const TimedFrame> frames, std::int64_t longest) {
    std::vector<TimedFrame> out;
    out.reserve(frames.size());
    for (const TimedFrame& f : frames) {
        std::int64_t left = f.delay;
        do {
            std::int64_t part = std::min(left, longest);
            // The piece after this one is never one a viewer would not show as written.
            if (left > part && left - part < kShortestShownDelay) part = left - kShortestShownDelay;
            out.push_back({f.source, part});
            left -= part;
        } while (left > 0);
    }
    return out;
}

}  // namespace gifanim
