#pragma once
// A plain transcription of the GIF LZW encoder as we define it: hash table of 5051 slots, byte-wise
// bit accumulator, 255-byte sub-blocks and a 32 KiB staging block. Slow on purpose; the real
// encoder must produce the same bytes.
#include <cstdint>
#include <vector>

namespace gifanim::test {

// Image data of one frame: the minimum code size byte and the sub-blocks, without the terminator.
// `bottom_up_rows` holds height rows of row_length bytes, the bottom row of the image first.
std::vector<std::uint8_t> reference_encode(const std::vector<std::uint8_t>& bottom_up_rows, int width, int height,
                                           int row_length, int bits_per_pixel, bool interlace);

}  // namespace gifanim::test
