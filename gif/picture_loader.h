#pragma once
// Image bytes of any format the library takes as a frame, to a 24-bit picture.
#include <cstdint>
#include <span>

#include "platform/picture.h"

namespace gifanim {

// Decodes a complete image file (BMP, JPEG, PNG, GIF) into `out`, whose buffer is reused: the
// platform's picture loader for the formats it reads, our own GIF decoder where it reads no GIF.
// Memory exhaustion throws std::bad_alloc.
platform::LoadResult decode_picture(std::span<const std::uint8_t> bytes, platform::Dib24& out);

}  // namespace gifanim
