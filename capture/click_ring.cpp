#include "capture/click_ring.h"

#include <algorithm>
#include <cstddef>

namespace gifanim::capture {

void draw_click_ring(platform::ScreenPixels& pixels, const platform::ScreenRect& rect,
                     const platform::PointerState& pointer) {
    if (!pointer.left && !pointer.right) return;
    const int bits = pixels.bits_per_pixel;
    if (bits != 16 && bits != 24 && bits != 32) return;
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    if (width <= 0 || height <= 0) return;
    const std::size_t stride = ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) >> 5) << 2;
    if (pixels.data.size() < pixels.offset + stride * static_cast<std::size_t>(height)) return;
    const std::uint8_t* colour = pointer.left ? kLeftClickColour : kRightClickColour;
    const long long cx = static_cast<long long>(pointer.x) - rect.left,
                    cy = static_cast<long long>(pointer.y) - rect.top;
    constexpr long long outer = kClickRingRadius * kClickRingRadius;
    constexpr long long inner = (kClickRingRadius - kClickRingWidth) * (kClickRingRadius - kClickRingWidth);
    for (long long y = std::max(0LL, cy - kClickRingRadius); y <= std::min(height - 1, cy + kClickRingRadius); ++y) {
        std::uint8_t* row = pixels.data.data() + pixels.offset + stride * static_cast<std::size_t>(height - 1 - y);
        for (long long x = std::max(0LL, cx - kClickRingRadius); x <= std::min(width - 1, cx + kClickRingRadius); ++x) {
            const long long d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            if (d > outer || d < inner) continue;
            std::uint8_t* p = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(bits / 8);
            if (bits == 16) {
                const unsigned v = (colour[0] >> 3u) << 10 | (colour[1] >> 3u) << 5 | (colour[2] >> 3u);
                p[0] = static_cast<std::uint8_t>(v);
                p[1] = static_cast<std::uint8_t>(v >> 8);
            } else {
                p[0] = colour[2];
                p[1] = colour[1];
                p[2] = colour[0];
            }
        }
    }
}

}  // namespace gifanim::capture
