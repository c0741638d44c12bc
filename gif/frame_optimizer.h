#pragma once
// What a viewer shows frame by frame, and the least each next frame must store to show its own
// pixels within a bound: the rectangle around the pixels that must change, the rest transparent.
#include <cstdint>
#include <functional>
#include <vector>

#include "gif/lossy_lzw.h"
#include "gif/quantizer.h"
#include "platform/picture.h"

namespace gifanim {

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
    std::vector<Rgb> wanted;            // width * height, rows top-down
    std::vector<std::uint8_t> changes;  // 1 where the pixel changed
    std::vector<std::uint8_t> nearest;  // the nearest entry of a changed pixel
    std::vector<Rgb> palette;           // at most 255 colours (256 in the first frame)
    bool exact = false;                 // the table holds every changed colour
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
    void find(const platform::Dib24& picture, int left, int top, FramePlan& plan, bool with_table = true);

private:
    std::uint8_t lookup(Rgb c);

    int width_ = 0;
    int height_ = 0;
    bool first_ = true;
    QualityBounds bounds_;
    std::vector<std::uint8_t> target_;   // the latest pixel of every place, B, G, R, rows top-down
    std::vector<std::uint8_t> changes_;  // per place: changed in the frame being planned
    std::vector<Rgb> changed_;           // the colours of those places, in row order (not kept when all are)
    NearestColour nearest_;
    // The last colours looked up in the current table: colour + 1 (0 for none) and its index.
    std::vector<std::uint32_t> cache_keys_;
    std::vector<std::uint8_t> cache_values_;
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
    // string table, so that they can be encoded at once: `run_parts(count, work)` must call
    // work(0) ... work(count - 1), in any order and on any threads, and return once all have
    // returned, rethrowing what one threw. The parts depend only on the rectangle, so the bytes do
    // not depend on how they are run.
    using PartRunner = std::function<void(std::size_t count, const std::function<void(std::size_t)>& work)>;
    bool draw(const FramePlan& plan, OptimizedFrame& out, const PartRunner& run_parts = {});
    // Takes the plan's changed pixels as shown, exactly, with nothing drawn.
    void take_as_shown(const FramePlan& plan);

private:
    int width_ = 0;
    int height_ = 0;
    bool interlace_ = false;
    QualityBounds bounds_;
    std::vector<Rgb> shown_;               // what the viewer shows
    std::vector<std::uint32_t> accepted_;  // the squared error each shown pixel was drawn with
    std::vector<std::uint8_t> redraw_;     // per place of the plan: to be redrawn
    // Per place of the rectangle drawn.
    std::vector<Rgb> wanted_here_, shown_here_;
    std::vector<std::uint8_t> fallback_, loose_, chosen_;
    std::vector<std::uint16_t> tolerances_;
    std::vector<LossyLzwScratch> part_scratch_;
    std::vector<LzwPart> parts_;
};

}  // namespace gifanim
