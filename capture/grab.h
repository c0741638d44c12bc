#pragma once
// One rectangle of the screen as an encoded frame image.
#include <cstdint>
#include <vector>

#include "platform/screen.h"

namespace gifanim::capture {

// Makes `bmp` a complete bottom-up BMP file in memory (its capacity is reused): the 14-byte file header, the 40-byte info header (the
// screen's bits per pixel, compression 0, image size 0), then the rows as the screen gave them.
void pack_bmp(int width, int height, const platform::ScreenPixels& pixels, std::vector<std::uint8_t>& bmp);

// The rectangle's pixels at the screen's depth, the cursor drawn in when asked, packed as a BMP and
// converted to `format` (1 BMP, 2 JPEG, 3 GIF, 4 TIFF, 5 PNG; any other number keeps the BMP).
// Empty when the width or height is 0 or the pixels cannot be read.
std::vector<std::uint8_t> GrabRegion(const platform::ScreenRect& rect, int format, bool draw_cursor);

}  // namespace gifanim::capture
