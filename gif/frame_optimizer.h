#pragma once
// What a viewer shows frame by frame, and the least each next frame must store to show its own
// pixels within a bound: the rectangle around the pixels that must change, the rest transparent.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "gif/lossy_lzw.h"
#include "gif/quantizer.h"
#include "gif/unset_vector.h"
#include "platform/picture.h"

namespace gifanim {

// Where the marked places of some rows lie: the first and last column and row, and how many there
// are (when counted). Empty while x1 < 0.
struct MarkedRect {
    int x0, y0, x1 = -1, y1 = -1;
    std::size_t count = 0;
    // Takes in row y, of n places from column `left` on, marked where nonzero (at least one).
    void add_row(int y, int left, const std::uint8_t* marks, std::size_t n);
    void take(const MarkedRect& other);
};

// One stored rectangle: its place on the canvas, its colour table (with the transparent entry, if
// any, last) and its compressed pixels.
struct OptimizedFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<Rgb> palette;
    bool transparent = false;
    unsigned bits = 1;               // the table written has 2^bits entries
    std::vector<std::uint8_t> data;  // image data: minimum code size and sub-blocks
};

// What a quality (1 to 100) allows: how far, as a squared RGB distance, a shown pixel may be from
// its frame's pixel and still be kept, and how many k-means passes refine a colour table.
struct QualityBounds {
    unsigned keep_distance2 = 0;
    // How far a pixel may be drawn from its frame's pixel in a colour that continues an LZW string:
    // a pixel's tolerance is flat_tolerance2 + detail_scale * activity^2 / 16, at most tolerance2,
    // activity being the largest step of a channel to a neighbouring pixel; the first frame has
    // flat and largest tolerances of its own.
    unsigned flat_tolerance2 = 0;
    unsigned detail_scale = 0;
    unsigned tolerance2 = 0;
    unsigned first_flat_tolerance2 = 0;
    unsigned first_tolerance2 = 0;
    // At least this much, in a frame after the first whose table could not hold all its colours:
    // there the table stands for its pixels only roughly anyway, so a little more straying costs
    // little and saves much; a frame whose colours fit its table is drawn exactly at quality 100.
    unsigned rough_flat_tolerance2 = 0;
    unsigned rough_detail_scale = 0;
    unsigned rough_tolerance2 = 0;
    int passes = 1;
    int first_passes = 1;
};
QualityBounds quality_bounds(int quality);

// A 1 x 1 rectangle that changes nothing: a frame that only carries time. Throws std::bad_alloc.
OptimizedFrame empty_frame();

// What the first half of the work found in a frame: the rectangle around the places whose pixel
// changed, the colours wanted there, and a colour table made from the changed ones with each
// changed place's nearest entry. It needs only the frames, not what the viewer shows, so the next
// frame's plan is made while this one is drawn.
struct FramePlan {
    bool first = false;
    bool changed = false;  // false: no pixel changed
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    Unset<Rgb> wanted;            // width * height, rows top-down
    Unset<std::uint8_t> changes;  // 1 where the pixel changed
    Unset<std::uint8_t> nearest;  // the nearest entry of a changed pixel (unset elsewhere)
    std::vector<Rgb> palette;     // at most 255 colours (256 in the first frame)
    bool exact = false;           // the table holds every changed colour
};

// Keeps the latest pixel of every place of the canvas and plans each frame against it.
class ChangeFinder {
public:
    // A new animation on a canvas of this size, black before the first frame. Throws std::bad_alloc.
    void start(int width, int height, const QualityBounds& bounds);
    // Plans the next frame, its picture placed at (left, top) and cut to the canvas. The first
    // frame's plan covers the whole canvas. Throws std::bad_alloc; after that the finder must be
    // started again.
    // Without `with_table` the plan has no colour table nor nearest entries: it is only to be taken
    // as shown.
    void find(const platform::Dib24& picture, int left, int top, FramePlan& plan, bool with_table = true,
              const PartRunner& run_parts = {});

private:
    // The last colours looked up in the current table: colour + 1 (0 for none) and its index. A
    // large plan is looked up in halves, each with a cache and nearest entries of its own.
    struct Lookup {
        std::vector<std::uint32_t> keys;
        std::vector<std::uint8_t> values;
        std::uint8_t find(NearestColour& nearest, Rgb c);
    };

    int width_ = 0;
    int height_ = 0;
    bool first_ = true;
    QualityBounds bounds_;
    ZeroedArray<std::uint8_t> target_;     // the latest pixel of every place, B, G, R, rows top-down
    ZeroedArray<std::uint8_t> changes_;    // per place: changed in the frame being planned
    Unset<Rgb> changed_;                   // the colours of those places, in row order (not kept when all are)
    std::vector<MarkedRect> part_bounds_;  // per part of the picture's rows: where its changes lie
    Lookup lookups_[2];
    std::array<NearestColour, 2> nearest_;
    ColourTableScratch table_scratch_;
};

// Keeps what the viewer shows and draws each planned frame: a changed place is redrawn when what
// is shown is further from its new pixel than the larger of the quality's distance and the error
// it was drawn with. So every shown pixel stays that close to the latest frame, and errors never
// add up over frames.
class FrameDrawer {
public:
    // Throws std::bad_alloc.
    void start(int width, int height, const QualityBounds& bounds, bool interlace);
    // False when what the viewer shows already stays within the bound everywhere, so nothing needs
    // storing; otherwise `out` is the rectangle to store. The first frame covers the whole canvas,
    // without transparency. Throws std::bad_alloc; after that the drawer must be started again.
    //
    // The LZW of a large rectangle is cut into parts of a fixed number of rows, each from a fresh
    // string table.
    bool draw(const FramePlan& plan, OptimizedFrame& out, const PartRunner& run_parts = {});
    // Takes the plan's changed pixels as shown, exactly, with nothing drawn.
    void take_as_shown(const FramePlan& plan);

private:
    int width_ = 0;
    int height_ = 0;
    bool interlace_ = false;
    QualityBounds bounds_;
    ZeroedArray<Rgb> shown_;               // what the viewer shows
    ZeroedArray<std::uint32_t> accepted_;  // the squared error each shown pixel was drawn with
    Unset<std::uint8_t> redraw_;           // per place of the plan: to be redrawn
    std::vector<MarkedRect> part_bounds_;  // per part of the plan: where its redrawn places lie
    std::vector<std::uint8_t> drew_;       // per part of the rectangle: whether it drew a place
    // Per place of the rectangle drawn.
    Unset<Rgb> wanted_here_, shown_here_;
    Unset<std::uint8_t> fallback_, loose_, chosen_;
    Unset<std::uint16_t> tolerances_;
    std::vector<LossyLzwScratch> part_scratch_;
    std::vector<LzwPart> parts_;
};

}  // namespace gifanim
