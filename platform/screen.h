#pragma once
// The pixels of a rectangle of the screen, with the mouse cursor drawn in on request.
#include <cstdint>
#include <vector>

namespace gifanim::platform {

struct ScreenRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Pixels in the layout of an uncompressed BMP: rows bottom-up (the bottom screen row first), each
// row padded with zero bytes to a multiple of 4; 32 bits per pixel as blue, green, red, unused;
// 24 bits as blue, green, red; 16 bits as 5-5-5.
struct ScreenPixels {
    int bits_per_pixel = 0;
    std::vector<std::uint8_t> rows;  // stride * height bytes, stride = ((width * bits + 31) >> 5) << 2
};

// The screen's bits per pixel as the BMP will state it (screens of 8 bits or fewer are read at 32).
// 0 when there is no screen.
int screen_bits_per_pixel();

// Copies width x height pixels whose top-left corner is (left, top); with draw_cursor the cursor
// image is drawn with its top-left corner at the pointer position (its hotspot is not subtracted),
// clipped to the rectangle, sampled after the screen copy. Returns false when the pixels cannot be
// read (no screen, a failed read) or the rectangle is empty.
bool grab_screen(const ScreenRect& rect, bool draw_cursor, ScreenPixels& out);

}  // namespace gifanim::platform
