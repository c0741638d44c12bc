#pragma once
// Our own BMP decoder: portable, used by the picture loader where the platform has none.
#include <cstdint>
#include <span>

#include "platform/picture.h"

namespace gifanim::platform {

// Decodes a BMP file (core, info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits per pixel;
// bottom-up or top-down rows; BI_RGB or BI_BITFIELDS) into the 24-bit layout.
// Truncated pixel data, missing colour tables and compressed data are undecodable.
LoadResult decode_bmp(std::span<const std::uint8_t> bytes, Dib24& out);

}  // namespace gifanim::platform
