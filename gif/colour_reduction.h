#pragma once
// Reduction of a true-colour picture to one palette of at most 256 colours per frame.
#include <array>
#include <cstdint>
#include <vector>

#include "gif/unset_vector.h"
#include "platform/picture.h"

namespace gifanim {

// A frame after colour reduction: 256 palette entries as red, green, blue, and one palette index
// per pixel, rows top-down, width bytes each.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::array<std::uint8_t, 768> palette{};
    Unset<std::uint8_t> indices;
};

// Colour bin of a pixel: the top four bits of blue, green and red, in that order from bit 11 down.
constexpr unsigned colour_bin(unsigned blue, unsigned green, unsigned red) {
    return ((blue >> 4) << 8) | (green & 0xF0u) | (red >> 4);
}

// The popularity palette of a histogram of colour bins, and which palette index every bin takes.
struct PopularityPalette {
    std::array<std::uint8_t, 768> palette{};
    std::array<std::uint8_t, 4096> index_of_bin{};
};
PopularityPalette popularity_palette(const std::array<std::uint32_t, 4096>& histogram);

// Per-frame popularity palette: the 256 most frequent bins, the rest mapped to the nearest of them.
// `bins` is scratch space kept by the caller between frames. Throws std::bad_alloc.
void popularity_reduce(const platform::Dib24& picture, IndexedImage& out, Unset<std::uint16_t>& bins);
// The same reduction with the palette index of pixel i written over byte i of `bins` (each bin is
// read before its bytes are written over): the indices, rows top-down, then lie at the start of
// the bins' memory, which saves a buffer of a byte a pixel. Throws std::bad_alloc.
const std::uint8_t* popularity_reduce_in_place(const platform::Dib24& picture, std::array<std::uint8_t, 768>& palette,
                                               Unset<std::uint16_t>& bins);

// Ordered dither to the fixed 6x6x6 colour cube with an 8x8 threshold matrix. Throws std::bad_alloc.
void dither_reduce(const platform::Dib24& picture, IndexedImage& out);

}  // namespace gifanim
