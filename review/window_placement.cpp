#include "review/window_placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace gifanim::review {

namespace {

// Coordinates are worked in 64 bits: a stored position may lie anywhere a 32-bit number does.
std::int32_t saturated(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// The left (or top) edge of a span of `size` inside [low, high), moved as little as it takes.
std::int64_t kept_inside(std::int64_t edge, std::int64_t size, std::int64_t low, std::int64_t high) {
    if (edge + size > high) edge = high - size;
    return std::max(edge, low);
}

}  // namespace

platform::ScreenRect inside_work_area(const platform::ScreenRect& window, const platform::ScreenRect& work_area) {
    const std::int64_t width = std::int64_t{window.right} - window.left;
    const std::int64_t height = std::int64_t{window.bottom} - window.top;
    const std::int64_t left = kept_inside(window.left, width, work_area.left, work_area.right);
    const std::int64_t top = kept_inside(window.top, height, work_area.top, work_area.bottom);
    return {saturated(left), saturated(top), saturated(left + width), saturated(top + height)};
}

platform::ScreenRect onto_work_area(const platform::ScreenRect& window, const platform::ScreenRect& work_area) {
    const bool shows = window.left < work_area.right && work_area.left < window.right &&
                       window.top < work_area.bottom && work_area.top < window.bottom;
    return shows ? window : inside_work_area(window, work_area);
}

platform::ScreenRect restored_rect(WindowShow show, const platform::ScreenRect& window,
                                   const platform::ScreenRect& normal) {
    return show == WindowShow::normal ? window : normal;
}

platform::ScreenRect workspace_to_screen(const platform::ScreenRect& rect, const platform::ScreenRect& monitor,
                                         const platform::ScreenRect& work_area) {
    const std::int64_t dx = std::int64_t{work_area.left} - monitor.left;
    const std::int64_t dy = std::int64_t{work_area.top} - monitor.top;
    return {saturated(rect.left + dx), saturated(rect.top + dy), saturated(rect.right + dx),
            saturated(rect.bottom + dy)};
}

}  // namespace gifanim::review
