#pragma once
// A picture as a GIF file of one frame.
#include <cstdint>
#include <vector>

#include "platform/picture.h"

namespace gifanim {

// The picture reduced to its popularity palette and written as a still GIF89a image: the palette
// as the global colour table, one frame at (0, 0) without extensions, rows in order. These are the
// bytes the maker writes for an animation of that one frame. Throws std::bad_alloc.
std::vector<std::uint8_t> encode_still_gif(const platform::Dib24& picture);

}  // namespace gifanim
