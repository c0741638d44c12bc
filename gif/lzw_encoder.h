#pragma once
// Variable-length-code LZW for GIF image data.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/unset_vector.h"

namespace gifanim {

// Calls f(row) for the rows of a frame in the order they are sent: top to bottom, or the four
// interlace passes (rows 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...).
template <class F>
void for_each_gif_row(int height, bool interlace, F&& f) {
    if (!interlace) {
        for (int r = 0; r < height; ++r) f(r);
        return;
    }
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int r = kStart[pass]; r < height; r += kStep[pass]) f(r);
}

// Encodes frames one after another; the dictionary tables are kept between frames.
class LzwEncoder {
public:
    LzwEncoder();

    // Encodes `height` rows of `width` pixels (row r starts at pixels + r * stride, r = 0 at the
    // top). Appends the minimum code size byte and the codes packed into data sub-blocks to `out`;
    // the 0x00 block terminator is not included. Pixels must be below 2^bits_per_pixel (1..8).
    void encode(const std::uint8_t* pixels, int width, int height, std::ptrdiff_t stride, int bits_per_pixel,
                bool interlace, std::vector<std::uint8_t>& out);

    // The most bytes encode() appends for a frame of this many pixels.
    static std::size_t max_data_size(std::size_t pixels);
    // Allocates everything encode() needs for a frame of this many pixels, so that encode() itself
    // allocates nothing when `out` has max_data_size(pixels) bytes of spare capacity.
    // Throws std::bad_alloc.
    void reserve(std::size_t pixels);

private:
    void reset_dictionary();
    // Packs the codes of n pixels into packed_; returns the number of bytes.
    std::size_t encode_sequence(const std::uint8_t* in, std::size_t n);

    // The dictionary in three parts, so that most steps of the greedy match are one load.
    // Runs of one pixel value, matched in one step however long: run_code_[len * 256 + value] is
    // the code of the value repeated len times, for len from 2 up to run_max_[value].
    std::unique_ptr<std::uint16_t[]> run_code_;
    // Two different pixels: pair_code_[first << 8 | second] is their code, 0 while they have none;
    // pairs_set_ lists the entries set since the dictionary last started over.
    std::unique_ptr<std::uint16_t[]> pair_code_;
    std::vector<std::uint16_t> pairs_set_;
    // Every longer string: an open-addressing table whose slots hold
    // (prefix << 8 | pixel) << 12 | code, 0 when empty. It is small enough to stay in the first-level
    // cache, and it is emptied whenever the dictionary starts over.
    std::unique_ptr<std::uint32_t[]> slots_;
    // The last string of the table found or made from each code, as (pixel << 12 | code), 0 for
    // none: most matches retrace a recent path and need no hashing.
    std::unique_ptr<std::uint32_t[]> successor_;
    std::uint16_t run_max_[256] = {};

    unsigned min_code_size_ = 8;
    unsigned clear_code_ = 256;
    unsigned first_code_ = 258;
    Unset<std::uint8_t> sequence_;  // pixels in sending order, when they are not contiguous
    UnsetSmallPages<std::uint8_t> packed_;  // the codes as a bit stream, before the sub-blocks
};

}  // namespace gifanim
