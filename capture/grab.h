#pragma once
// One rectangle of the screen as an encoded frame image.
#include <cstdint>
#include <vector>

#include "platform/screen.h"

namespace gifanim::capture {

// Makes `pixels.data` a complete bottom-up BMP file in place: its first 54 bytes (the room that a
// grab with offset 54 leaves in front of the rows) become the 14-byte file header and the 40-byte
// info header (the screen's bits per pixel, compression 0, image size 0). False when the file
// would not fit the 32-bit size field or the room is missing.
bool pack_bmp(int width, int height, platform::ScreenPixels& pixels);

// The rectangle's pixels at the screen's depth, the cursor drawn in when asked, as a complete BMP
// file in `pixels.data` (the buffer is reused). False when the width or height is 0 or above
// 65535, or the pixels cannot be read. Memory exhaustion throws std::bad_alloc.
bool grab_pixels(const platform::ScreenRect& rect, bool draw_cursor, platform::ScreenPixels& pixels);

// The rectangle's pixels at the screen's depth, the cursor drawn in when asked, packed as a BMP and
// converted to `format` (1 BMP, 2 JPEG, 3 GIF, 4 TIFF, 5 PNG; any other number keeps the BMP).
// Empty when the width or height is 0, the pixels cannot be read, the BMP would exceed 4 GiB, or
// memory runs out; nothing throws.
std::vector<std::uint8_t> GrabRegion(const platform::ScreenRect& rect, int format, bool draw_cursor);

}  // namespace gifanim::capture
