#pragma once
// The pixels of a rectangle of the screen, with the mouse cursor drawn in on request.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gifanim::platform {

struct ScreenRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Pixels in the layout of an uncompressed BMP: rows bottom-up (the bottom screen row first), each
// row padded with zero bytes to a multiple of 4; 32 bits per pixel as blue, green, red, unused;
// 24 bits as blue, green, red; 16 bits as 5-5-5. The rows start `offset` bytes into `data`, so
// that a caller can put a file header in front of them without copying them.
struct ScreenPixels {
    int bits_per_pixel = 0;
    std::size_t offset = 0;          // set by the caller; the bytes before the rows are zero
    std::vector<std::uint8_t> data;  // offset + stride * height bytes, stride = ((width * bits + 31) >> 5) << 2

    std::span<const std::uint8_t> rows() const { return std::span(data).subspan(std::min(offset, data.size())); }
};

// The screen's bits per pixel as the BMP will state it (screens of 8 bits or fewer are read at 32).
// 0 when there is no screen.
int screen_bits_per_pixel();

// The primary screen's width and height in pixels; 0 x 0 when there is no screen.
struct ScreenSize {
    std::int32_t width = 0, height = 0;
};
ScreenSize screen_size();

// Copies width x height pixels whose top-left corner is (left, top); with draw_cursor the cursor
// image is drawn with its top-left corner at the pointer position (its hotspot is not subtracted),
// clipped to the rectangle, sampled after the screen copy. Pixels off the screen are black. The
// buffer of `out.data` is reused; it is empty after a failure. Returns false when the pixels
// cannot be read (no screen, a failed read), the rectangle is empty, or a BMP of it would not fit
// the 32-bit size field (4 GiB). Memory exhaustion throws std::bad_alloc.
bool grab_screen(const ScreenRect& rect, bool draw_cursor, ScreenPixels& out);

// Where the pointer is on the screen and which of its buttons are down.
struct PointerState {
    std::int32_t x = 0, y = 0;
    bool left = false, right = false;
};
// False when it cannot be told (no screen).
bool pointer_state(PointerState& out);

// Lets the user choose a rectangle of the screen with the mouse: a drag draws a rubber band and
// gives its rectangle, a click gives the rectangle of the window under the pointer (the whole
// screen where there is none), Escape cancels. `failed` where the platform cannot (no screen, the
// pointer or keyboard held by another program, or no such way on this platform).
enum class Selection { chosen, cancelled, failed };
Selection select_screen_rect(ScreenRect& out);

}  // namespace gifanim::platform
