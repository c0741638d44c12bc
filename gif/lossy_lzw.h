#pragma once
// LZW that picks, pixel by pixel, among the colours close enough to the one wanted, the one that
// continues the string being matched: noise that no eye sees no longer breaks every string, so
// screens of antialiased text and photos compress to a fraction.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "gif/quantizer.h"

namespace gifanim {

// What each pixel of a rectangle may be shown as: one value a pixel in each array, rows top-down.
struct PixelChoices {
    int width = 0;
    int height = 0;
    const Rgb* wanted = nullptr;             // the colour of the frame's own pixel
    const Rgb* shown = nullptr;              // what the viewer shows there now: what the transparent entry shows
    const std::uint8_t* fallback = nullptr;  // the entry taken when no close one continues a string
    // Nonzero where a pixel may take another entry than its fallback: LZW strings gain from that
    // only near pixels that change, so far from them a pixel keeps its fallback.
    const std::uint8_t* loose = nullptr;
    std::span<const Rgb> table;  // the colour table, without the transparent entry
    int transparent = -1;        // the transparent entry, or -1 when the frame has none
    // How far, squared, a chosen colour may be from the wanted one: flat_tolerance2 plus
    // detail_scale * activity^2 / 16, at most max_tolerance2, activity being the largest step of a
    // channel from the wanted colour to that of a neighbour in the rectangle. Noise hides in
    // detail: a pixel unlike its neighbours may stray further than one in a flat area, where every
    // step shows.
    unsigned flat_tolerance2 = 0;
    unsigned detail_scale = 0;
    unsigned max_tolerance2 = 0;
};

// The buffers an encoding needs, kept between frames.
struct LossyLzwScratch {
    std::vector<std::uint32_t> keys;
    std::vector<std::int16_t> codes, first_child, next_sibling;
    std::vector<std::uint16_t> child_count;  // children of each code in the table
    std::vector<std::uint8_t> pixel_of;
    // Runs of the transparent entry: the length of the run each code stands for (0: not such a
    // run), and the code of each length, from 1 on.
    std::vector<std::uint16_t> run_len;
    std::vector<std::int16_t> clear_runs;
    std::vector<int> rows;
};

// The codes of one part of an image, packed least significant bit first.
struct LzwPart {
    std::vector<std::uint8_t> packed;
    std::size_t bits = 0;
};

// Where an encoding's results go: the entry each pixel took (rows top-down), and room for each
// pixel's tolerance (rows top-down, each part filling its own rows; needed only when
// max_tolerance2 > 0).
struct LzwPixels {
    std::uint8_t* chosen = nullptr;
    std::uint16_t* tolerances = nullptr;
};

// Encodes the rows sent from place `first_row` up to `end_row` in sending order (interlaced or
// not) with codes of `bits` bits a pixel (the table and the transparent entry fit in 2^bits
// entries), from a fresh string table. A pixel takes its fallback or, where loose, an entry within
// its tolerance of its wanted colour (the transparent entry by what is shown): of those that
// continue the current string, the one whose string goes on the longest, the closest among equals.
// The first part begins with a clear code; every part but the last ends with one, and the last
// with the end code, so parts joined in order are one image's codes that any decoder reads (a
// clear code also comes whenever the table is full). Parts of one image may be encoded at once on
// several threads, each with its own scratch. Throws std::bad_alloc.
void lossy_lzw_encode_part(const PixelChoices& pixels, unsigned bits, bool interlace, int first_row, int end_row,
                           LossyLzwScratch& scratch, const LzwPixels& results, LzwPart& out);

// The parts, in order, as GIF image data (minimum code size, sub-blocks, no terminator) appended
// to `out`. Throws std::bad_alloc.
void join_lzw_parts(unsigned bits, std::span<const LzwPart> parts, std::vector<std::uint8_t>& out);

// The whole rectangle as one part, joined: `chosen` gets the entry each pixel took.
void lossy_lzw_encode(const PixelChoices& pixels, unsigned bits, bool interlace, LossyLzwScratch& scratch,
                      std::vector<std::uint8_t>& chosen, std::vector<std::uint8_t>& out);

}  // namespace gifanim
