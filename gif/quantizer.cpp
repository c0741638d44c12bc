#include "gif/quantizer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gif/unset_vector.h"

namespace gifanim {

namespace {

constexpr unsigned kCells = 16 * 16 * 16;

unsigned cell_of(Rgb c) {
    return ((red_of(c) >> 4) << 8) | ((green_of(c) >> 4) << 4) | (blue_of(c) >> 4);
}

// A colour standing for `weight` pixels whose mean it is, and that mean rounded.
struct Point {
    float c[3];
    double weight;
    Rgb key;
};

Rgb rounded(const float c[3]) {
    const auto channel = [](float v) {
        return static_cast<unsigned>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
    };
    return rgb(channel(c[0]), channel(c[1]), channel(c[2]));
}

// With a runner, at least this many pixels, or colours in the k-means passes, are gone over in
// two halves at once.
constexpr std::size_t kPixelHalvesFrom = std::size_t{1} << 17;
constexpr std::size_t kColourHalvesFrom = std::size_t{1} << 13;

// The distinct colours of the pixels with their counts, as long as there are at most kMaxExact.
class ExactColours {
public:
    static constexpr std::size_t kMaxExact = 1 << 15;

    // False when the pixels have more than kMaxExact colours, or once `stop` is set. The table is
    // made for `sized_for` pixels (at least as many as these), so that colours of others can be
    // taken in after.
    bool gather(std::span<const Rgb> pixels, std::size_t sized_for, const std::atomic<bool>* stop = nullptr) {
        // A table twice the size of what it may have to hold, so that few pixels clear little.
        slot_bits_ = 10;
        while (slot_bits_ < kMaxSlotBits && (std::size_t{1} << slot_bits_) < 2 * sized_for) ++slot_bits_;
        slots_ = std::size_t{1} << slot_bits_;
        keys_.assign(slots_, 0);
        counts_.assign(slots_, 0);
        distinct_ = 0;
        std::size_t i = 0, next_look = 0;
        while (i < pixels.size()) {
            if (stop && i >= next_look) {
                if (stop->load(std::memory_order_relaxed)) return false;
                next_look = i + 4096;
            }
            const Rgb c = pixels[i];
            std::size_t run = 1;
            while (i + run < pixels.size() && pixels[i + run] == c) ++run;
            i += run;
            if (!add(c, static_cast<std::uint32_t>(run))) return false;
        }
        return true;
    }

    // Takes in the colours `other` gathered; false when there are then more than kMaxExact.
    bool take(const ExactColours& other) {
        for (std::size_t s = 0; s < other.slots_; ++s)
            if (other.keys_[s] != 0 && !add(other.keys_[s] - 1, other.counts_[s])) return false;
        return true;
    }

    // The colours and counts, in ascending order of colour.
    void points(std::vector<Point>& out) const {
        out.clear();
        for (std::size_t s = 0; s < slots_; ++s) {
            if (keys_[s] == 0) continue;
            const Rgb c = keys_[s] - 1;
            out.push_back(
                {{static_cast<float>(red_of(c)), static_cast<float>(green_of(c)), static_cast<float>(blue_of(c))},
                 static_cast<double>(counts_[s]),
                 c});
        }
        std::sort(out.begin(), out.end(), [](const Point& a, const Point& b) { return a.key < b.key; });
    }

private:
    bool add(Rgb c, std::uint32_t count) {
        std::size_t slot = (c * 2654435761u) >> (32 - slot_bits_);
        while (keys_[slot] != 0 && keys_[slot] != c + 1) slot = (slot + 1) & (slots_ - 1);
        if (keys_[slot] == 0) {
            if (++distinct_ > std::min(kMaxExact, slots_ / 2)) return false;
            keys_[slot] = c + 1;
        }
        counts_[slot] += count;
        return true;
    }

    static constexpr unsigned kMaxSlotBits = 16;
    unsigned slot_bits_ = kMaxSlotBits;
    std::size_t slots_ = 0;
    std::vector<std::uint32_t> keys_;  // colour + 1, 0 for an empty slot
    std::vector<std::uint32_t> counts_;
    std::size_t distinct_ = 0;
};

// Sums of pixels in bins of 6 bits a channel. Only the bins touched are cleared again.
template <class Sum>
class Bins {
public:
    static constexpr std::size_t kBins = std::size_t{1} << 18;

    void add(std::span<const Rgb> pixels) {
        if (!bins_.data()) bins_.reset(kBins);
        // A run of one colour goes into its bin at once.
        for (std::size_t i = 0; i < pixels.size();) {
            const Rgb c = pixels[i];
            std::size_t run = 1;
            while (i + run < pixels.size() && pixels[i + run] == c) ++run;
            i += run;
            const unsigned r = red_of(c), g = green_of(c), b = blue_of(c);
            const std::size_t index = ((r >> 2) << 12) | ((g >> 2) << 6) | (b >> 2);
            Bin& bin = bins_[index];
            if (bin.count == 0) touched_.push_back(static_cast<std::uint32_t>(index));
            const auto n = static_cast<Sum>(run);
            bin.count += n;
            bin.sums[0] += static_cast<Sum>(r) * n;
            bin.sums[1] += static_cast<Sum>(g) * n;
            bin.sums[2] += static_cast<Sum>(b) * n;
        }
    }

    // Adds what `other` holds, emptying it.
    void take(Bins& other) {
        if (!bins_.data()) bins_.reset(kBins);
        for (const std::uint32_t index : other.touched_) {
            Bin& from = other.bins_[index];
            Bin& to = bins_[index];
            if (to.count == 0) touched_.push_back(index);
            to.count += from.count;
            for (int k = 0; k < 3; ++k) to.sums[k] += from.sums[k];
            from = Bin{{0, 0, 0}, 0};
        }
        other.touched_.clear();
    }

    // The bins' means in the order of the bins, emptying them.
    void read_off(std::vector<Point>& out) {
        if (touched_.size() > kBins / 16) {
            // Many bins: read off in order from the bins themselves, faster than sorting so many.
            touched_.clear();
            for (std::size_t index = 0; index < kBins; ++index)
                if (bins_[index].count != 0) touched_.push_back(static_cast<std::uint32_t>(index));
        } else {
            std::sort(touched_.begin(), touched_.end());
        }
        out.clear();
        out.reserve(touched_.size());
        for (const std::uint32_t index : touched_) {
            Bin& bin = bins_[index];
            const double n = static_cast<double>(bin.count);
            Point p{{static_cast<float>(static_cast<double>(bin.sums[0]) / n),
                     static_cast<float>(static_cast<double>(bin.sums[1]) / n),
                     static_cast<float>(static_cast<double>(bin.sums[2]) / n)},
                    n,
                    0};
            p.key = rounded(p.c);
            out.push_back(p);
            bin = Bin{{0, 0, 0}, 0};
        }
        touched_.clear();
    }

private:
    struct Bin {
        Sum sums[3];
        Sum count;
    };
    ZeroedArray<Bin> bins_;
    std::vector<std::uint32_t> touched_;
};

}  // namespace

// What a table is made in: kept by the caller rather than per thread, since threads that end
// would otherwise destroy their own copies on the way out.
struct ColourTableScratch::Buffers {
    std::vector<Point> points;
    ExactColours exact[2];
    Bins<std::uint32_t> narrow[2];
    Bins<std::uint64_t> wide;
};

ColourTableScratch::ColourTableScratch() : buffers_(std::make_unique<Buffers>()) {}
ColourTableScratch::~ColourTableScratch() = default;

namespace {

// Pixels of too many colours for ExactColours: their means in bins of 6 bits a channel. Many
// pixels are binned in two halves at once, their sums added after: the same sums however the
// halves are run.
void binned_points(std::span<const Rgb> pixels, std::vector<Point>& out, ColourTableScratch::Buffers& scratch,
                   const PartRunner& run_parts) {
    // 32 bits hold the sums of up to this many pixels.
    constexpr std::size_t kNarrow = std::size_t{1} << 24;
    if (pixels.size() > kNarrow) {
        scratch.wide.add(pixels);
        scratch.wide.read_off(out);
        return;
    }
    Bins<std::uint32_t>* const bins = scratch.narrow;
    const std::size_t halves = run_parts && pixels.size() >= kPixelHalvesFrom ? 2 : 1;
    const auto bin_half = [&](std::size_t k) {
        bins[k].add(
            pixels.subspan(pixels.size() * k / halves, pixels.size() * (k + 1) / halves - pixels.size() * k / halves));
    };
    run_each(run_parts, halves, bin_half);
    if (halves > 1) bins[0].take(bins[1]);
    bins[0].read_off(out);
}

struct Box {
    std::size_t begin, end;
    double error;  // weighted sum of squared distances from the box's mean
    int axis;      // the channel of the largest spread
};

Box measure(std::span<const Point> points, std::size_t begin, std::size_t end) {
    double w = 0, s[3] = {0, 0, 0}, q[3] = {0, 0, 0};
    for (std::size_t i = begin; i < end; ++i) {
        const Point& p = points[i];
        w += p.weight;
        for (int k = 0; k < 3; ++k) {
            s[k] += p.weight * p.c[k];
            q[k] += p.weight * p.c[k] * p.c[k];
        }
    }
    Box box{begin, end, 0, 0};
    double best = -1;
    for (int k = 0; k < 3; ++k) {
        const double variance = q[k] - s[k] * s[k] / w;
        box.error += variance;
        if (variance > best) {
            best = variance;
            box.axis = k;
        }
    }
    if (end - begin < 2) box.error = 0;
    return box;
}

// Median cut: the box of the largest error is split at the weighted median of its widest channel
// until there are `count` boxes or none can be split. Returns each box's mean.
std::vector<Point> median_cut(std::vector<Point>& points, std::size_t count) {
    std::vector<Box> boxes{measure(points, 0, points.size())};
    boxes.reserve(count);
    while (boxes.size() < count) {
        std::size_t worst = 0;
        for (std::size_t i = 1; i < boxes.size(); ++i)
            if (boxes[i].error > boxes[worst].error) worst = i;
        Box box = boxes[worst];
        if (box.error <= 0) break;
        // The weighted median of the widest channel, from a histogram of its values; the points
        // below it go first.
        const int axis = box.axis;
        double histogram[256] = {};
        double total = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const Point& p = points[i];
            histogram[std::clamp(static_cast<int>(p.c[axis]), 0, 255)] += p.weight;
            total += p.weight;
        }
        int median = 0;
        double below = histogram[0];
        while (median < 254 && below < total / 2) below += histogram[++median];
        const auto first = points.begin() + static_cast<std::ptrdiff_t>(box.begin);
        const auto last = points.begin() + static_cast<std::ptrdiff_t>(box.end);
        auto middle =
            std::partition(first, last, [&](const Point& p) { return static_cast<int>(p.c[axis]) <= median; });
        if (middle == last) {
            // Everything at or below the median: split off the values at it.
            middle = std::partition(first, last, [&](const Point& p) { return static_cast<int>(p.c[axis]) < median; });
        }
        if (middle == first || middle == last) {
            boxes[worst].error = 0;  // one value along the widest channel: nothing to split here
            continue;
        }
        const std::size_t split = static_cast<std::size_t>(middle - points.begin());
        boxes[worst] = measure(points, box.begin, split);
        boxes.push_back(measure(points, split, box.end));
    }
    std::vector<Point> means;
    means.reserve(boxes.size());
    for (const Box& box : boxes) {
        Point m{{0, 0, 0}, 0, 0};
        double s[3] = {0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i) {
            m.weight += points[i].weight;
            for (int k = 0; k < 3; ++k) s[k] += points[i].weight * points[i].c[k];
        }
        for (int k = 0; k < 3; ++k) m.c[k] = static_cast<float>(s[k] / m.weight);
        means.push_back(m);
    }
    return means;
}

// The table of the centres, without repeats, most pixels first (ties by colour).
std::vector<Rgb> ordered_table(const std::vector<Point>& centres) {
    std::vector<std::pair<double, Rgb>> order;
    order.reserve(centres.size());
    for (const Point& c : centres) order.emplace_back(c.weight, rounded(c.c));
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<Rgb> table;
    table.reserve(order.size());
    for (const auto& [weight, colour] : order)
        if (std::find(table.begin(), table.end(), colour) == table.end()) table.push_back(colour);
    return table;
}

}  // namespace

void NearestColour::reset(std::span<const Rgb> table) {
    if (cell_start_.empty()) {
        cell_start_.assign(kCells, 0);
        cell_count_.assign(kCells, 0);
        cell_generation_.assign(kCells, 0);
        candidates_.reserve(kCells * 4);
    }
    count_ = static_cast<int>(std::min<std::size_t>(table.size(), 256));
    for (int i = 0; i < count_; ++i) {
        r_[i] = static_cast<int>(red_of(table[i]));
        g_[i] = static_cast<int>(green_of(table[i]));
        b_[i] = static_cast<int>(blue_of(table[i]));
    }
    // The copies in 16 bits, up to a whole vector of eight, the rest far from every colour.
    for (int i = 0; i < 256; ++i) {
        r16_[i] = static_cast<std::int16_t>(i < count_ ? r_[i] : 1000);
        g16_[i] = static_cast<std::int16_t>(i < count_ ? g_[i] : 1000);
        b16_[i] = static_cast<std::int16_t>(i < count_ ? b_[i] : 1000);
    }
    candidates_.clear();
    if (++generation_ == 0) {
        std::fill(cell_generation_.begin(), cell_generation_.end(), 0);
        generation_ = 1;
    }
}

void NearestColour::build_cell(unsigned cell) {
    const int lo[3] = {static_cast<int>((cell >> 8) << 4), static_cast<int>(((cell >> 4) & 15) << 4),
                       static_cast<int>((cell & 15) << 4)};
    // Per entry the least and the largest squared distance to any colour of the cell; an entry can
    // be nearest only if its least distance is no more than the smallest largest distance.
    // Without branches, so that the loop runs on whole vectors: the farther end of a channel's
    // range is the larger of v - a and b - v, and the nearer lies outside only past one end.
    int least[256], bound = std::numeric_limits<int>::max();
    const int ra = lo[0], ga = lo[1], ba = lo[2];
    int i = 0;
#if defined(__SSE2__)
    // Eight entries at a time in 16 bits, their squares added in 32 (the channels of the entries
    // past the last are far enough never to lower the bound).
    {
        const __m128i zero = _mm_setzero_si128(), fifteen = _mm_set1_epi16(15);
        const auto steps = [&](const std::int16_t* v, int a, __m128i& nearer, __m128i& farther) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
            const __m128i at = _mm_set1_epi16(static_cast<std::int16_t>(a));
            const __m128i above = _mm_sub_epi16(x, at), below = _mm_sub_epi16(at, x);
            nearer = _mm_max_epi16(zero, _mm_max_epi16(below, _mm_sub_epi16(above, fifteen)));
            farther = _mm_max_epi16(above, _mm_add_epi16(below, fifteen));
        };
        // dr^2 + dg^2 + db^2 of eight entries, as two vectors of four.
        const auto sums = [&](__m128i r, __m128i g, __m128i b, __m128i& low, __m128i& high) {
            const __m128i rg_low = _mm_unpacklo_epi16(r, g), rg_high = _mm_unpackhi_epi16(r, g);
            const __m128i b_low = _mm_unpacklo_epi16(b, zero), b_high = _mm_unpackhi_epi16(b, zero);
            low = _mm_add_epi32(_mm_madd_epi16(rg_low, rg_low), _mm_madd_epi16(b_low, b_low));
            high = _mm_add_epi32(_mm_madd_epi16(rg_high, rg_high), _mm_madd_epi16(b_high, b_high));
        };
        const auto min32 = [](__m128i a, __m128i b) {
            const __m128i a_greater = _mm_cmpgt_epi32(a, b);
            return _mm_or_si128(_mm_and_si128(a_greater, b), _mm_andnot_si128(a_greater, a));
        };
        __m128i bounds = _mm_set1_epi32(std::numeric_limits<int>::max());
        for (; i < count_; i += 8) {
            __m128i nr, fr, ng, fg, nb, fb, low, high;
            steps(r16_.data() + i, ra, nr, fr);
            steps(g16_.data() + i, ga, ng, fg);
            steps(b16_.data() + i, ba, nb, fb);
            sums(nr, ng, nb, low, high);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(least + i), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(least + i + 4), high);
            sums(fr, fg, fb, low, high);
            bounds = min32(bounds, min32(low, high));
        }
        alignas(16) int each[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(each), bounds);
        bound = std::min({each[0], each[1], each[2], each[3]});
    }
#endif
    for (; i < count_; ++i) {
        const int dr = std::max({0, ra - r_[i], r_[i] - ra - 15}), fr = std::max(r_[i] - ra, ra + 15 - r_[i]);
        const int dg = std::max({0, ga - g_[i], g_[i] - ga - 15}), fg = std::max(g_[i] - ga, ga + 15 - g_[i]);
        const int db = std::max({0, ba - b_[i], b_[i] - ba - 15}), fb = std::max(b_[i] - ba, ba + 15 - b_[i]);
        least[i] = dr * dr + dg * dg + db * db;
        bound = std::min(bound, fr * fr + fg * fg + fb * fb);
    }
    // The candidates nearest the cell first, so that a search can stop at the first one that
    // cannot come closer than the best found.
    const std::size_t start = candidates_.size();
    cell_start_[cell] = static_cast<std::uint32_t>(start);
    for (int i = 0; i < count_; ++i) {
        if (least[i] > bound) continue;
        candidates_.push_back(Candidate{least[i], static_cast<std::uint8_t>(i)});
        for (std::size_t at = candidates_.size() - 1; at > start && candidates_[at - 1].least > least[i]; --at)
            std::swap(candidates_[at - 1], candidates_[at]);
    }
    cell_count_[cell] = static_cast<std::uint16_t>(candidates_.size() - start);
    cell_generation_[cell] = generation_;
}

std::uint8_t NearestColour::find(Rgb c) {
    const unsigned cell = cell_of(c);
    if (cell_generation_[cell] != generation_) build_cell(cell);
    const int r = static_cast<int>(red_of(c)), g = static_cast<int>(green_of(c)), b = static_cast<int>(blue_of(c));
    const Candidate* list = candidates_.data() + cell_start_[cell];
    const unsigned n = cell_count_[cell];
    int best = std::numeric_limits<int>::max();
    std::uint8_t index = 0;
    for (unsigned k = 0; k < n && list[k].least <= best; ++k) {
        const int i = list[k].index;
        const int dr = r - r_[i], dg = g - g_[i], db = b - b_[i];
        const int d = dr * dr + dg * dg + db * db;
        if (d < best || (d == best && i < index)) {
            best = d;
            index = static_cast<std::uint8_t>(i);
        }
    }
    return index;
}

std::vector<Rgb> make_colour_table(std::span<const Rgb> pixels, int max_colours, int passes,
                                   std::span<NearestColour, 2> nearest, ColourTableScratch& scratch, bool* is_exact,
                                   const PartRunner& run_parts) {
    if (is_exact) *is_exact = false;
    const std::size_t limit = static_cast<std::size_t>(std::clamp(max_colours, 1, 256));
    // Kept by the caller: a table is made for every frame, and buffers this large would otherwise
    // go back to the system and come back as fresh pages each time.
    ColourTableScratch::Buffers& buffers = scratch.buffers();
    std::vector<Point>& points = buffers.points;
    {
        // Many pixels are gathered in two halves at once, the second taken into the first after.
        ExactColours* const halves = buffers.exact;
        bool gathered = false;
        if (run_parts && pixels.size() >= kPixelHalvesFrom) {
            std::atomic<bool> over{false};
            const std::size_t middle = pixels.size() / 2;
            run_parts(2, [&](std::size_t k) {
                const std::span<const Rgb> half = k == 0 ? pixels.first(middle) : pixels.subspan(middle);
                if (!halves[k].gather(half, k == 0 ? pixels.size() : half.size(), &over)) over = true;
            });
            gathered = !over && halves[0].take(halves[1]);
        } else {
            gathered = halves[0].gather(pixels, pixels.size());
        }
        if (gathered) {
            halves[0].points(points);
            if (points.size() <= limit) {
                if (is_exact) *is_exact = true;
                return ordered_table(points);
            }
        } else {
            binned_points(pixels, points, buffers, run_parts);
        }
    }
    std::vector<Point> centres = median_cut(points, limit);
    std::vector<Rgb> table(centres.size());
    // Many colours are gone over in two halves, each with sums of its own, added in order after:
    // the same sums however the halves are run.
    const std::size_t halves = run_parts && points.size() >= kColourHalvesFrom ? 2 : 1;
    std::vector<double> sums(centres.size() * 4 * halves);
    // Named here: a half run on another thread would otherwise see that thread's points.
    const std::vector<Point>& colours = points;
    const auto pass_over = [&](std::size_t k) {
        NearestColour& near = nearest[k];
        near.reset(table);
        double* own = sums.data() + k * centres.size() * 4;
        const std::size_t from = colours.size() * k / halves, to = colours.size() * (k + 1) / halves;
        for (std::size_t j = from; j < to; ++j) {
            const Point& p = colours[j];
            const std::size_t i = near.find(p.key);
            double* s = own + 4 * i;
            s[0] += p.weight * p.c[0];
            s[1] += p.weight * p.c[1];
            s[2] += p.weight * p.c[2];
            s[3] += p.weight;
        }
    };
    for (int pass = 0; pass < passes; ++pass) {
        for (std::size_t i = 0; i < centres.size(); ++i) table[i] = rounded(centres[i].c);
        std::fill(sums.begin(), sums.end(), 0.0);
        run_each(run_parts, halves, pass_over);
        for (std::size_t k = 1; k < halves; ++k)
            for (std::size_t i = 0; i < centres.size() * 4; ++i) sums[i] += sums[k * centres.size() * 4 + i];
        for (std::size_t i = 0; i < centres.size(); ++i) {
            const double* s = &sums[4 * i];
            centres[i].weight = s[3];
            if (s[3] == 0) continue;  // an entry nobody chose keeps its place
            for (int k = 0; k < 3; ++k) centres[i].c[k] = static_cast<float>(s[k] / s[3]);
        }
    }
    return ordered_table(centres);
}

}  // namespace gifanim
