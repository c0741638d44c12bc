#pragma once
// Colour tables made from the pixels they are for, and the nearest entry of such a table for any
// colour. A table holds colours of the picture, never bin corners: when the pixels have few enough
// colours it is exactly those colours; otherwise median cut over the colours makes a start that
// k-means passes refine, each entry the mean of the pixels it stands for.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace gifanim {

// Large pieces of work are cut into parts, so that they can be worked at once: `run_parts(count,
// work)` must call work(0) ... work(count - 1), in any order and on any threads, and return once
// all have returned, rethrowing what one threw. The parts depend only on the work, so the results
// do not depend on how they are run. Empty: one after another, here.
using PartRunner = std::function<void(std::size_t count, const std::function<void(std::size_t)>& work)>;

// work(0) ... work(count - 1): through `run_parts` when there are several and a runner, otherwise
// here, in order.
template <class Work>
void run_each(const PartRunner& run_parts, std::size_t count, const Work& work) {
    if (count > 1 && run_parts) {
        run_parts(count, work);
    } else {
        for (std::size_t k = 0; k < count; ++k) work(k);
    }
}

// A colour as 0x00RRGGBB.
using Rgb = std::uint32_t;

constexpr Rgb rgb(unsigned r, unsigned g, unsigned b) {
    return (r << 16) | (g << 8) | b;
}
constexpr unsigned red_of(Rgb c) {
    return (c >> 16) & 0xFF;
}
constexpr unsigned green_of(Rgb c) {
    return (c >> 8) & 0xFF;
}
constexpr unsigned blue_of(Rgb c) {
    return c & 0xFF;
}

// The squared distance of two colours in RGB.
constexpr unsigned distance2(Rgb a, Rgb b) {
    const int dr = static_cast<int>(red_of(a)) - static_cast<int>(red_of(b));
    const int dg = static_cast<int>(green_of(a)) - static_cast<int>(green_of(b));
    const int db = static_cast<int>(blue_of(a)) - static_cast<int>(blue_of(b));
    return static_cast<unsigned>(dr * dr + dg * dg + db * db);
}

// The nearest entry of a table of up to 256 colours, ties going to the lowest index. The space of
// colours is cut into cells of 16 levels a side; each cell keeps the few entries that can be
// nearest to a colour inside it, worked out the first time a colour of that cell is asked for.
class NearestColour {
public:
    // Takes a new table (1 to 256 colours). Throws std::bad_alloc.
    void reset(std::span<const Rgb> table);
    std::uint8_t find(Rgb c);

private:
    void build_cell(unsigned cell);

    int count_ = 0;
    std::array<int, 256> r_{}, g_{}, b_{};
    std::array<std::int16_t, 256> r16_{}, g16_{}, b16_{};  // the same in 16 bits, for the cells' vector loop
    // Per cell: where its candidates start in candidates_ and how many there are; generation_
    // says whether the cell was worked out for the current table.
    std::vector<std::uint32_t> cell_start_;
    std::vector<std::uint16_t> cell_count_;
    std::vector<std::uint32_t> cell_generation_;
    std::uint32_t generation_ = 0;
    struct Candidate {
        int least;  // the least squared distance from the cell to the entry
        std::uint8_t index;
    };
    std::vector<Candidate> candidates_;
};

// The buffers make_colour_table works in, kept between tables so that a table a frame does not
// cost fresh pages. One table at a time is made with them.
class ColourTableScratch {
public:
    ColourTableScratch();
    ~ColourTableScratch();
    ColourTableScratch(const ColourTableScratch&) = delete;
    ColourTableScratch& operator=(const ColourTableScratch&) = delete;
    struct Buffers;
    Buffers& buffers() { return *buffers_; }

private:
    std::unique_ptr<Buffers> buffers_;
};

// Makes a table of at most max_colours (1 to 256) entries for these pixels: their own colours when
// there are no more than that, otherwise a median cut refined by `passes` k-means passes. The
// table is ordered by how many pixels each entry stands for, most first. Needs at least one pixel.
// `nearest` is scratch for the passes and `scratch` for the rest; with `run_parts` many pixels and
// colours are gone over in two halves at once (the passes' sums are then added in another order,
// so the table may differ in the last bits from one made without). `exact` (when given) says
// whether the table holds every colour of the pixels. Throws std::bad_alloc.
std::vector<Rgb> make_colour_table(std::span<const Rgb> pixels, int max_colours, int passes,
                                   std::span<NearestColour, 2> nearest, ColourTableScratch& scratch,
                                   bool* exact = nullptr, const PartRunner& run_parts = {});

}  // namespace gifanim
