#pragma once
// The timing of an animation reshaped before it is written: played faster or slower, or at a
// lower frame rate, with the total time kept and no delay a viewer would not show as written.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gifanim {

// One frame of the reshaped animation: the picture of source frame `source`, shown for `delay`
// hundredths of a second.
struct TimedFrame {
    std::size_t source = 0;
    std::int64_t delay = 0;
};

// Viewers show a delay under 2 hundredths as 10: none is written.
inline constexpr std::int64_t kShortestShownDelay = 2;

// The frames with these delays, each shown one after another.
std::vector<TimedFrame> timed_frames(std::span<const std::int64_t> delays);

// Every delay divided by `factor` (above 0), rounded so that each frame starts at its source
// start divided by the factor and the whole lasts the source total divided by it. A frame that
// would show for less than kShortestShownDelay gives its time to the next (the last to the one
// before it), so the total stays.
std::vector<TimedFrame> with_speed(std::span<const TimedFrame> frames, double factor);

// No frame shown for less than 1/max_fps s (rounded up to whole hundredths): a frame that comes
// sooner after the one kept before it is dropped, its time given to that one (the last frame's
// short time to the one before it). The total stays.
std::vector<TimedFrame> with_frame_rate_limit(std::span<const TimedFrame> frames, int max_fps);

// The frames as a GIF writes them: delays above `longest` (a delay field's limit) are split into
// showings of the same picture of at most that long.
std::vector<TimedFrame> split_long_delays(std::span<const TimedFrame> frames, std::int64_t longest);

}  // namespace gifanim
