#pragma once
// LZW that picks, pixel by pixel, among the colours close enough to the one wanted, the one that
// continues the string being matched: noise that no eye sees no longer breaks every string, so
// screens of antialiased text and photos compress to a fraction.
#include <cstdint>
#include <span>
#include <vector>

#include "gif/quantizer.h"

namespace gifanim {

// What each pixel of a rectangle (rows top-down, `width` pixels each) may be shown as.
struct PixelChoices {
    int width = 0;
    int height = 0;
    const Rgb* wanted = nullptr;     // the colour of the frame's own pixel
    const Rgb* shown = nullptr;      // what the viewer shows there now: what the transparent entry shows
    const std::uint8_t* fallback = nullptr;  // the entry taken when no close one continues a string
    std::span<const Rgb> table;      // the colour table, without the transparent entry
    int transparent = -1;            // the transparent entry, or -1 when the frame has none
    // How far, squared, a chosen colour may be from the wanted one, per pixel.
    const std::uint32_t* tolerance2 = nullptr;
};

// Encodes the rectangle with codes of `bits` bits a pixel (the table and the transparent entry fit
// in 2^bits entries) as GIF image data (minimum code size, sub-blocks, no terminator) appended to
// `out`; `chosen` gets the entry each pixel takes, rows top-down. A pixel takes its fallback or an
// entry within tolerance2 of its wanted colour (the transparent entry by what is shown), whichever
// continues the current string, the closest when several do. The stream decodes with any GIF
// decoder: the codes follow the usual rules (a clear code first and whenever the table is full).
// Throws std::bad_alloc.
void lossy_lzw_encode(const PixelChoices& pixels, unsigned bits, bool interlace, std::vector<std::uint8_t>& out,
                      std::vector<std::uint8_t>& chosen);

}  // namespace gifanim
