#pragma once
// The pictures of a loaded GIF's frames.
#include <cstdint>
#include <span>
#include <vector>

#include "gif/gif_index.h"
#include "platform/picture.h"

namespace gifanim {

// The frame as a BMP file: 1, 4 or 8 bits per pixel after the size of its colour table, the
// frame's own rectangle, rows bottom-up and padded to 4 bytes. Throws std::bad_alloc.
std::vector<std::uint8_t> frame_as_bmp(std::span<const std::uint8_t> gif, const FrameBlocks& frame);

// The first frame of a GIF file at the logical screen size (the frame's own size when the screen
// is 0 wide or high), pixels that it does not cover or that are transparent black.
platform::LoadResult decode_gif_picture(std::span<const std::uint8_t> gif, platform::Dib24& out);

}  // namespace gifanim
