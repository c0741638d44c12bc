#pragma once
// Decoder for GIF image data: the minimum code size byte and the data sub-blocks after it.
#include <cstddef>
#include <cstdint>
#include <span>

namespace gifanim {

// Decodes the image data that starts at `data[0]` (the minimum code size) into `pixels`, one index
// per pixel in the order the file sends them (interlaced rows stay in pass order). The sub-blocks
// are read in pieces of at most 32,768 bytes. Corrupt data (a code beyond the dictionary, a missing
// end code, data that ends early) keeps what was decoded and fills the rest with index 0; nothing
// is read or written outside the two spans. Returns the number of pixels decoded from the data.
std::size_t lzw_decode(std::span<const std::uint8_t> data, std::span<std::uint8_t> pixels);

// The most pixels image data that starts at `data[0]` can yield: every code takes at least the
// minimum code size plus one bit and stands for at most 4096 pixels. Counts only the sub-blocks
// the bytes hold; 0 for a minimum code size the decoder does not take.
std::uint64_t lzw_pixel_bound(std::span<const std::uint8_t> data);

}  // namespace gifanim
