#include "gif/frame_optimizer.h"

#include "gif/lossy_lzw.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gifanim {

namespace {

constexpr unsigned kCacheBits = 16;
// The LZW of a rectangle is cut into parts of whole rows of about this many pixels.
constexpr std::size_t kPartPixels = std::size_t{1} << 17;
constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;

// Rows [0, rows) cut into parts of whole rows of about kPartPixels pixels.
struct RowParts {
    int rows = 0;
    int rows_each = 1;
    std::size_t count = 0;
};
RowParts row_parts(int rows, std::size_t row_pixels) {
    RowParts p;
    p.rows = std::max(0, rows);
    p.rows_each = static_cast<int>(
        std::clamp<std::size_t>(kPartPixels / std::max<std::size_t>(1, row_pixels), 1, std::max(1, p.rows)));
    p.count = static_cast<std::size_t>((p.rows + p.rows_each - 1) / p.rows_each);
    return p;
}

// Runs body(k, from, to) for each part k, rows [from, to), on the runner's threads when there are
// several parts.
template <class Body>
void run_row_parts(const PartRunner& run_parts, const RowParts& parts, const Body& body) {
    run_each(run_parts, parts.count, [&](std::size_t k) {
        const int from = static_cast<int>(k) * parts.rows_each;
        body(k, from, std::min(parts.rows, from + parts.rows_each));
    });
}

// Four bytes from p on, the first the lowest.
std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

// Eight bytes from p on, as one number (nonzero where any is).
std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The first place in [from, to) whose mark is nonzero, or `to`: eight places at a time while they
// hold none.
std::size_t first_mark(const std::uint8_t* marks, std::size_t from, std::size_t to) {
    while (from + 8 <= to && load64(marks + from) == 0) from += 8;
    while (from < to && !marks[from]) ++from;
    return from;
}

#if defined(__SSE2__)
// 16 bytes from anywhere.
__m128i load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Four places of three bytes (the first twelve of v) as four lanes of 32 bits, each byte of a
// place moved to the low three of its lane, the high one zero.
__m128i spread_places(__m128i v) {
    const __m128i lane0 = _mm_set_epi32(0, 0, 0, 0xFFFFFF), lane1 = _mm_set_epi32(0, 0, 0xFFFFFF, 0),
                  lane2 = _mm_set_epi32(0, 0xFFFFFF, 0, 0), lane3 = _mm_set_epi32(0xFFFFFF, 0, 0, 0);
    const __m128i r = _mm_or_si128(_mm_and_si128(v, lane0), _mm_and_si128(_mm_slli_si128(v, 1), lane1));
    return _mm_or_si128(_mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 2), lane2)),
                        _mm_and_si128(_mm_slli_si128(v, 3), lane3));
}

// The squared distances of four pairs of colours at once, as distance2 gives them.
__m128i distances2(__m128i a, __m128i b) {
    const __m128i d = _mm_and_si128(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)), _mm_set1_epi32(0xFFFFFF));
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_unpacklo_epi8(d, zero), high = _mm_unpackhi_epi8(d, zero);
    // Per colour, blue^2 + green^2 and red^2 side by side; added, each sum lands in lanes 0 and 2.
    __m128i l = _mm_madd_epi16(low, low), h = _mm_madd_epi16(high, high);
    l = _mm_add_epi32(l, _mm_shuffle_epi32(l, _MM_SHUFFLE(2, 3, 0, 1)));
    h = _mm_add_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_unpacklo_epi64(_mm_shuffle_epi32(l, _MM_SHUFFLE(3, 1, 2, 0)),
                              _mm_shuffle_epi32(h, _MM_SHUFFLE(3, 1, 2, 0)));
}
#endif

unsigned bits_for(std::size_t entries) {
    unsigned bits = 1;
    while ((std::size_t{1} << bits) < entries) ++bits;
    return bits;
}

}  // namespace

void MarkedRect::add_row(int y, int left, const std::uint8_t* marks, std::size_t n) {
    // From the end, too, eight places at a time while they hold no mark.
    const std::size_t a = first_mark(marks, 0, n);
    std::size_t b = n;
    while (b >= a + 8 && load64(marks + b - 8) == 0) b -= 8;
    --b;
    while (!marks[b]) --b;
    x0 = std::min(x0, left + static_cast<int>(a));
    x1 = std::max(x1, left + static_cast<int>(b));
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
}

void MarkedRect::take(const MarkedRect& other) {
    x0 = std::min(x0, other.x0);
    y0 = std::min(y0, other.y0);
    x1 = std::max(x1, other.x1);
    y1 = std::max(y1, other.y1);
    count += other.count;
}

QualityBounds quality_bounds(int quality) {
    const int q = std::clamp(quality, 1, 100);
    // s = 100 - q: 20 at the default quality, 0 at 100, where nothing strays.
    const unsigned s = static_cast<unsigned>(100 - q);
    QualityBounds b;
    // A shown pixel is kept while within s / 5 levels a channel of its frame's pixel: 4 by default.
    b.keep_distance2 = 3 * s * s / 25;
    // A colour continuing an LZW string may stray by s / 3.5 levels a channel in a flat area, more
    // where the picture has detail to hide it, up to s levels.
    b.flat_tolerance2 = s * s / 4;
    b.detail_scale = s * 16 / 10;
    b.tolerance2 = 3 * s * s;
    // The first frame stays under everything that follows: it strays far less, above all where the
    // picture is flat, and its colours are refined harder.
    b.first_flat_tolerance2 = s * s / 40;
    b.first_tolerance2 = s * s;
    // A later frame's table is refined by one k-means pass from quality 85 up; below that the
    // median cut's means do nearly as well (0.06 dB on a desktop recording) in far less time.
    b.passes = q >= 85 ? 1 : 0;
    b.first_passes = q >= 95 ? 8 : 3;
    // Up to 3 levels a channel, 1.4 where flat.
    b.rough_flat_tolerance2 = 6;
    b.rough_detail_scale = 4;
    b.rough_tolerance2 = 27;
    return b;
}

OptimizedFrame empty_frame() {
    OptimizedFrame f;
    f.width = 1;
    f.height = 1;
    f.palette = {0, 0};
    f.transparent = true;
    f.bits = 1;
    const std::uint8_t transparent_pixel = 1;
    PixelChoices choices;
    choices.width = 1;
    choices.height = 1;
    choices.wanted = &f.palette[0];
    choices.shown = &f.palette[0];
    choices.fallback = &transparent_pixel;
    choices.loose = &transparent_pixel;
    choices.table = std::span<const Rgb>(f.palette).first(1);
    choices.transparent = 1;
    LossyLzwScratch scratch;
    std::vector<std::uint8_t> chosen;
    lossy_lzw_encode(choices, 1, false, scratch, chosen, f.data);
    return f;
}

void ChangeFinder::start(int width, int height, const QualityBounds& bounds) {
    width_ = width;
    height_ = height;
    first_ = true;
    bounds_ = bounds;
    const std::size_t places = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    target_.reset(places * 3 + 1);  // a byte past the last place, read with it
    changes_.reset(places);
    changed_.clear();
    changed_.reserve(places);
    for (Lookup& l : lookups_) {
        l.keys.clear();
        l.values.clear();
    }
}

std::uint8_t ChangeFinder::Lookup::find(NearestColour& nearest, Rgb c) {
    const std::size_t slot = (c * 2654435761u) >> (32 - kCacheBits);
    if (keys[slot] == c + 1) return values[slot];
    const std::uint8_t index = nearest.find(c);
    keys[slot] = c + 1;
    values[slot] = index;
    return index;
}

void ChangeFinder::find(const platform::Dib24& picture, int left, int top, FramePlan& plan, bool with_table,
                        const PartRunner& run_parts) {
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int x1 = std::min(width_, left + picture.width), y1 = std::min(height_, top + picture.height);
    const std::size_t w = static_cast<std::size_t>(width_);
    const std::size_t places = w * static_cast<std::size_t>(height_);
    const bool first = first_;
    plan.first = first;
    // Only the first frame is worked in parts: a later one is planned while the one before is
    // drawn, which keeps the other cores busy. The first frame's table is always made in halves,
    // the same on one thread as on many.
    static const PartRunner no_parts;
    static const PartRunner here = [](std::size_t count, const std::function<void(std::size_t)>& work) {
        for (std::size_t k = 0; k < count; ++k) work(k);
    };
    const PartRunner& runner = !first ? no_parts : run_parts ? run_parts : here;

    // The picture into the latest pixels, row by row, with the first and last changed place of
    // each row; the first frame changes every place, so there it is only copied.
    const std::size_t n = static_cast<std::size_t>(std::max(0, x1 - x0));
    const auto copy_rows = [&](MarkedRect& found, int from, int to) {
        for (int y = from; y < to; ++y) {
            const std::uint8_t* src =
                picture.row(picture.height - 1 - (y - top)) + 3 * static_cast<std::size_t>(x0 - left);
            const std::size_t row = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x0);
            std::uint8_t* tgt = target_.data() + 3 * row;
            if (first) {
                std::memcpy(tgt, src, 3 * n);
                continue;
            }
            if (std::memcmp(src, tgt, 3 * n) == 0) continue;
            // Without branches, the row's first and last changed places found after. A place's
            // three bytes are the low ones of the four from it on; the picture's last place has no
            // byte after it, so it is compared byte by byte.
            std::uint8_t* changed = changes_.data() + row;
            std::size_t i = 0;
#if defined(__SSE2__)
            // Four places at a time, away from the row's end (16 bytes are read for 12).
            for (; i + 6 <= n; i += 4) {
                const __m128i same = _mm_cmpeq_epi32(
                    spread_places(_mm_xor_si128(load128(src + 3 * i), load128(tgt + 3 * i))), _mm_setzero_si128());
                const __m128i moved = _mm_andnot_si128(same, _mm_set1_epi32(1));
                const auto four = static_cast<std::uint32_t>(_mm_cvtsi128_si32(
                    _mm_packus_epi16(_mm_packs_epi32(moved, _mm_setzero_si128()), _mm_setzero_si128())));
                std::memcpy(changed + i, &four, 4);
            }
#endif
            for (; i + 1 < n; ++i)
                changed[i] = static_cast<std::uint8_t>(((load32(src + 3 * i) ^ load32(tgt + 3 * i)) & 0xFFFFFF) != 0);
            const std::uint8_t* s = src + 3 * (n - 1);
            const std::uint8_t* t = tgt + 3 * (n - 1);
            changed[n - 1] = static_cast<std::uint8_t>((s[0] != t[0]) | (s[1] != t[1]) | (s[2] != t[2]));
            std::memcpy(tgt, src, 3 * n);
            found.add_row(y, x0, changed, n);
        }
    };
    MarkedRect all{width_, height_};
    const RowParts parts = row_parts(y1 - y0, n);
    part_bounds_.assign(parts.count, all);
    run_row_parts(runner, parts,
                  [&](std::size_t k, int from, int to) { copy_rows(part_bounds_[k], y0 + from, y0 + to); });
    for (const MarkedRect& b : part_bounds_) all.take(b);
    if (first) {
        // The first frame draws the whole canvas, black where its picture does not reach.
        all = {0, 0, width_ - 1, height_ - 1};
        first_ = false;
    }
    plan.changed = all.x1 >= 0;
    if (!plan.changed) return;

    plan.left = all.x0;
    plan.top = all.y0;
    plan.width = all.x1 - all.x0 + 1;
    plan.height = all.y1 - all.y0 + 1;
    const std::size_t plan_width = static_cast<std::size_t>(plan.width);
    const std::size_t area = plan_width * static_cast<std::size_t>(plan.height);
    const std::size_t origin = static_cast<std::size_t>(all.y0) * w + static_cast<std::size_t>(all.x0);
    resize_within(plan.wanted, area, places);
    resize_within(plan.changes, area, places);
    changed_.clear();
    if (!first && changed_.capacity() < area) changed_.reserve(places);
    const auto wanted_rows = [&](int from, int to) {
        for (int y = from; y < to; ++y) {
            const std::size_t row = origin + static_cast<std::size_t>(y) * w;
            const std::size_t at = static_cast<std::size_t>(y) * plan_width;
            const std::uint8_t* t = target_.data() + 3 * row;
            Rgb* wanted = plan.wanted.data() + at;
            std::size_t x = 0;
#if defined(__SSE2__)
            // Four places at a time, away from the row's end (16 bytes are read for 12).
            for (; x + 6 <= plan_width; x += 4, t += 12) {
                const __m128i v = load128(t);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(wanted + x), spread_places(v));
            }
#endif
            // B, G, R and the byte after (the array has one past its last place) read as one.
            for (; x < plan_width; ++x, t += 3) wanted[x] = load32(t) & 0xFFFFFF;
            if (first) {
                std::fill_n(plan.changes.data() + at, plan_width, std::uint8_t{1});
                continue;
            }
            std::uint8_t* changes = changes_.data() + row;
            const std::size_t had = changed_.size();
            changed_.resize(had + plan_width);  // within the room taken for the plan
            Rgb* kept = changed_.data() + had;
            for (x = first_mark(changes, 0, plan_width); x < plan_width; x = first_mark(changes, x + 1, plan_width))
                *kept++ = wanted[x];
            changed_.resize(static_cast<std::size_t>(kept - changed_.data()));
            std::copy_n(changes, plan_width, plan.changes.data() + at);
            std::fill_n(changes, plan_width, std::uint8_t{0});
        }
    };
    if (first) {
        // Every place of the first frame changes: its colours are all of the plan's, so its rows
        // need not go in order.
        run_row_parts(runner, row_parts(plan.height, plan_width),
                      [&](std::size_t, int from, int to) { wanted_rows(from, to); });
    } else {
        wanted_rows(0, plan.height);
    }
    if (!with_table) return;
    resize_within(plan.nearest, area, places);
    // Room for the transparent entry, which every frame but the first may need.
    plan.palette =
        make_colour_table(first ? std::span<const Rgb>(plan.wanted) : std::span<const Rgb>(changed_), first ? 256 : 255,
                          first ? bounds_.first_passes : bounds_.passes, nearest_, table_scratch_, &plan.exact, runner);
    // A large plan's nearest entries are looked up in halves at once, each with its own cache:
    // blocks of 16 rows taken in turn, so that each half sees much the same colours.
    const std::size_t halves = runner && area >= 2 * kPartPixels ? 2 : 1;
    const std::size_t block = 16 * plan_width;
    const auto look_up = [&](std::size_t k) {
        Lookup& l = lookups_[k];
        NearestColour& nearest = nearest_[k];
        nearest.reset(plan.palette);
        l.keys.assign(kCacheSize, 0);
        l.values.resize(kCacheSize);
        Rgb last = 0;
        std::uint8_t last_entry = 0;
        bool found = false;
        for (std::size_t from = k * block; from < area; from += halves * block) {
            const std::size_t to = std::min(area, from + block);
            const std::uint8_t* changes = plan.changes.data();
            for (std::size_t i = first_mark(changes, from, to); i < to; i = first_mark(changes, i + 1, to)) {
                // Runs of one colour are common on screens: they are looked up once.
                const Rgb c = plan.wanted[i];
                if (c != last || !found) {
                    last = c;
                    last_entry = l.find(nearest, c);
                    found = true;
                }
                plan.nearest[i] = last_entry;
            }
        }
    };
    run_each(runner, halves, look_up);
}

void FrameDrawer::start(int width, int height, const QualityBounds& bounds, bool interlace) {
    width_ = width;
    height_ = height;
    interlace_ = interlace;
    bounds_ = bounds;
    const std::size_t places = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    shown_.reset(places);
    accepted_.reset(places);
}

void FrameDrawer::take_as_shown(const FramePlan& plan) {
    if (!plan.changed) return;
    const std::size_t w = static_cast<std::size_t>(width_);
    const std::size_t plan_width = static_cast<std::size_t>(plan.width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(plan.height); ++y) {
        const std::size_t row = (static_cast<std::size_t>(plan.top) + y) * w + static_cast<std::size_t>(plan.left);
        for (std::size_t x = 0; x < plan_width; ++x) {
            if (!plan.changes[y * plan_width + x]) continue;
            shown_[row + x] = plan.wanted[y * plan_width + x];
            accepted_[row + x] = 0;
        }
    }
}

bool FrameDrawer::draw(const FramePlan& plan, OptimizedFrame& out, const PartRunner& run_parts) {
    if (!plan.changed) return false;
    const bool first = plan.first;
    const std::size_t w = static_cast<std::size_t>(width_);
    const std::size_t places = w * static_cast<std::size_t>(height_);
    const std::size_t plan_width = static_cast<std::size_t>(plan.width);
    const std::size_t plan_origin = static_cast<std::size_t>(plan.top) * w + static_cast<std::size_t>(plan.left);

    // The changed places whose shown colour is now too far from their pixel.
    const std::size_t plan_area = plan_width * static_cast<std::size_t>(plan.height);
    resize_within(redraw_, plan_area, places);
    const unsigned keep = bounds_.keep_distance2;
    const RowParts plan_parts = row_parts(plan.height, plan_width);
    part_bounds_.assign(plan_parts.count, MarkedRect{plan.width, plan.height});
    const auto find_redraws = [&, first, keep, plan_width](MarkedRect& found, int from, int to) {
        for (int y = from; y < to; ++y) {
            const std::size_t row = plan_origin + static_cast<std::size_t>(y) * w;
            const std::size_t at = static_cast<std::size_t>(y) * plan_width;
            const std::uint8_t* changes = plan.changes.data() + at;
            const Rgb* wanted = plan.wanted.data() + at;
            const Rgb* shown = shown_.data() + row;
            const std::uint32_t* accepted = accepted_.data() + row;
            std::uint8_t* redraw = redraw_.data() + at;
            // Without branches, so that the loop runs on whole vectors; the row's first and last
            // redrawn places are found after.
            std::size_t in_row = 0;
            std::size_t x = 0;
#if defined(__SSE2__)
            if (!first) {
                // Four places at a time; squared distances stay far below 2^31, so signed compares do.
                const __m128i keep4 = _mm_set1_epi32(static_cast<int>(std::min(keep, 0x7FFFFFFFu)));
                const __m128i zero = _mm_setzero_si128();
                __m128i count = zero;
                for (; x + 4 <= plan_width; x += 4) {
                    const __m128i d = distances2(load128(shown + x), load128(wanted + x));
                    const __m128i far =
                        _mm_and_si128(_mm_cmpgt_epi32(d, keep4), _mm_cmpgt_epi32(d, load128(accepted + x)));
                    std::uint32_t four;
                    std::memcpy(&four, changes + x, 4);
                    const __m128i changed =
                        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero), zero);
                    const __m128i r = _mm_and_si128(far, changed);  // 0 or 1 a lane
                    count = _mm_add_epi32(count, r);
                    four =
                        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(r, zero), zero)));
                    std::memcpy(redraw + x, &four, 4);
                }
                alignas(16) std::uint32_t counts[4];
                _mm_store_si128(reinterpret_cast<__m128i*>(counts), count);
                in_row = std::size_t{counts[0]} + counts[1] + counts[2] + counts[3];
            }
#endif
            for (; x < plan_width; ++x) {
                const bool far = first || distance2(shown[x], wanted[x]) > std::max(keep, accepted[x]);
                const auto r = static_cast<std::uint8_t>(changes[x] & static_cast<std::uint8_t>(far));
                redraw[x] = r;
                in_row += r;
            }
            if (in_row == 0) continue;
            found.count += in_row;
            found.add_row(y, 0, redraw, plan_width);
        }
    };
    run_row_parts(run_parts, plan_parts,
                  [&](std::size_t k, int from, int to) { find_redraws(part_bounds_[k], from, to); });
    MarkedRect redrawn{plan.width, plan.height};
    for (const MarkedRect& b : part_bounds_) redrawn.take(b);
    const std::size_t redraws = redrawn.count;
    if (redraws == 0) return false;

    out.left = plan.left + redrawn.x0;
    out.top = plan.top + redrawn.y0;
    out.width = redrawn.x1 - redrawn.x0 + 1;
    out.height = redrawn.y1 - redrawn.y0 + 1;
    const std::size_t width = static_cast<std::size_t>(out.width);
    const std::size_t area = width * static_cast<std::size_t>(out.height);
    const std::size_t origin = static_cast<std::size_t>(out.top) * w + static_cast<std::size_t>(out.left);
    const std::size_t plan_at =
        static_cast<std::size_t>(redrawn.y0) * plan_width + static_cast<std::size_t>(redrawn.x0);
    out.transparent = !first && redraws < area;
    out.palette = plan.palette;

    // The transparent entry follows the colours; only a frame with transparency has one, so in a
    // frame of 256 colours no index stands for it.
    const std::size_t colours = out.palette.size();
    const auto clear = static_cast<std::uint8_t>(out.transparent ? colours : 0);

    // Each place falls back to its nearest entry, or with a transparent entry to what it shows now
    // where that is as close or the place needs no change; a place may stray from its fallback
    // within a few pixels of a change along its row, where LZW strings gain from it.
    constexpr int kNear = 8;
    // The rectangle's wanted and shown colours, row after row: where its rows are whole rows of
    // the plan (of the canvas) they are read where they lie, otherwise copied.
    const Rgb* wanted_here = plan.wanted.data() + plan_at;
    const Rgb* shown_here = shown_.data() + origin;
    if (width != plan_width) {
        resize_within(wanted_here_, area, places);
        wanted_here = wanted_here_.data();
    }
    if (width != w) {
        resize_within(shown_here_, area, places);
        shown_here = shown_here_.data();
    }
    resize_within(fallback_, area, places);
    resize_within(loose_, area, places);
    const RowParts parts = row_parts(out.height, width);
    const auto choose_fallbacks = [&, width, clear](int first_row, int end_row) {
        // Locals, so that the loop keeps them in registers.
        const bool transparent = out.transparent;
        const Rgb* palette = out.palette.data();
        const std::uint8_t* redraws = redraw_.data();
        const std::uint8_t* nearest = plan.nearest.data();
        for (std::size_t y = static_cast<std::size_t>(first_row); y < static_cast<std::size_t>(end_row); ++y) {
            const std::size_t row = origin + y * w;
            const std::size_t from = plan_at + y * plan_width;
            const std::size_t at = y * width;
            if (width != plan_width) {
                std::copy_n(plan.wanted.begin() + static_cast<std::ptrdiff_t>(from), width,
                            wanted_here_.begin() + static_cast<std::ptrdiff_t>(at));
            }
            if (width != w) {
                std::copy_n(shown_.data() + row, width, shown_here_.begin() + static_cast<std::ptrdiff_t>(at));
            }
            std::uint8_t* fallback = fallback_.data() + at;
            std::uint8_t* loose = loose_.data() + at;
            const Rgb* wanted = wanted_here + at;
            const Rgb* shown = shown_here + at;
            const std::uint8_t* redrawn = redraws + from;
            const std::uint8_t* near = nearest + from;
            std::size_t x = 0;
#if defined(__SSE2__)
            if (transparent) {
                // Four places at a time; a place not redrawn reads entry 0 (its nearest is unset).
                const __m128i zero = _mm_setzero_si128(), clear4 = _mm_set1_epi32(clear);
                for (; x + 4 <= width; x += 4) {
                    std::uint32_t four;
                    std::memcpy(&four, redrawn + x, 4);
                    if (four == 0) {
                        std::memset(fallback + x, clear, 4);
                        continue;
                    }
                    alignas(16) std::uint32_t index[4], entry[4];
                    for (std::size_t k = 0; k < 4; ++k) {
                        index[k] = redrawn[x + k] ? near[x + k] : 0;
                        entry[k] = palette[index[k]];
                    }
                    const __m128i c = load128(wanted + x);
                    // The entry where it is closer than what is shown, on a place redrawn.
                    const __m128i redraw4 = _mm_cmpgt_epi32(
                        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero), zero),
                        zero);
                    const __m128i take = _mm_and_si128(
                        redraw4, _mm_cmpgt_epi32(distances2(load128(shown + x), c), distances2(load128(entry), c)));
                    const __m128i chosen =
                        _mm_or_si128(_mm_and_si128(take, load128(index)), _mm_andnot_si128(take, clear4));
                    four = static_cast<std::uint32_t>(
                        _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(chosen, zero), zero)));
                    std::memcpy(fallback + x, &four, 4);
                }
            }
#endif
            for (; x < width; ++x) {
                if (!redrawn[x]) {
                    fallback[x] = clear;
                    continue;
                }
                const std::uint8_t i = near[x];
                const Rgb c = wanted[x];
                fallback[x] = transparent && distance2(palette[i], c) >= distance2(shown[x], c) ? clear : i;
            }
            if (!transparent) {
                std::fill_n(loose, width, std::uint8_t{1});  // every place is drawn, so every one may stray
                continue;
            }
            // Loose within kNear places after a redrawn one or before one not left transparent.
            // The row's length and the transparent entry are locals, kept in registers (a store of
            // a byte could change anything else, as far as the compiler knows).
            const std::size_t n = width;
            const std::uint8_t none = clear;
            constexpr std::size_t reach = kNear;
            const auto one = [&](std::size_t at) {
                std::uint8_t m = 0;
                for (std::size_t k = at >= reach ? at - reach : 0; k <= at; ++k) m |= redrawn[k];
                for (std::size_t k = at; k < std::min(n, at + reach + 1); ++k) m |= fallback[k] != none;
                return m;
            };
            x = 0;
#if defined(__SSE2__)
            // Sixteen places at a time, away from the row's ends: the redrawn marks (0 or 1) of
            // the places up to kNear before, and the fallbacks up to kNear after, side by side.
            for (; x < reach && x < n; ++x) loose[x] = one(x);
            const __m128i ones = _mm_set1_epi8(1), none16 = _mm_set1_epi8(static_cast<char>(none));
            for (; x + 16 + reach <= n; x += 16) {
                __m128i after = _mm_setzero_si128(), all_clear = _mm_cmpeq_epi8(after, after);
                for (std::size_t k = 0; k <= reach; ++k) {
                    after = _mm_or_si128(after, load128(redrawn + x - k));
                    all_clear = _mm_and_si128(all_clear, _mm_cmpeq_epi8(load128(fallback + x + k), none16));
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(loose + x),
                                 _mm_or_si128(after, _mm_andnot_si128(all_clear, ones)));
            }
#endif
            for (; x < n; ++x) loose[x] = one(x);
        }
    };
    run_row_parts(run_parts, parts, [&](std::size_t, int from, int to) { choose_fallbacks(from, to); });
    if (out.transparent) out.palette.push_back(0);
    out.bits = bits_for(out.palette.size());

    PixelChoices choices;
    choices.width = out.width;
    choices.height = out.height;
    choices.wanted = wanted_here;
    choices.shown = shown_here;
    choices.fallback = fallback_.data();
    choices.loose = loose_.data();
    choices.table = std::span<const Rgb>(out.palette).first(colours);
    choices.transparent = out.transparent ? clear : -1;
    choices.max_tolerance2 = first ? bounds_.first_tolerance2 : bounds_.tolerance2;
    choices.flat_tolerance2 = first ? bounds_.first_flat_tolerance2 : bounds_.flat_tolerance2;
    choices.detail_scale = bounds_.detail_scale;
    if (!first && !plan.exact) {
        choices.max_tolerance2 = std::max(choices.max_tolerance2, bounds_.rough_tolerance2);
        choices.flat_tolerance2 = std::max(choices.flat_tolerance2, bounds_.rough_flat_tolerance2);
        choices.detail_scale = std::max(choices.detail_scale, bounds_.rough_detail_scale);
    }
    out.data.clear();
    resize_within(chosen_, area, places);
    if (choices.max_tolerance2 > 0) resize_within(tolerances_, area, places);
    // The same parts of rows, in the order they are sent.
    if (part_scratch_.size() < parts.count) part_scratch_.resize(parts.count);
    parts_.resize(parts.count);
    const LzwPixels results{chosen_.data(), tolerances_.data()};
    run_row_parts(run_parts, parts, [&](std::size_t k, int from, int to) {
        lossy_lzw_encode_part(choices, out.bits, interlace_, from, to, part_scratch_[k], results, parts_[k]);
    });
    join_lzw_parts(out.bits, parts_, out.data);

    const std::uint8_t* chosen = chosen_.data();
    drew_.assign(parts.count, 0);
    // Locals, so that the loop keeps them in registers.
    const bool transparent = out.transparent;
    const Rgb* palette = out.palette.data();
    Rgb* shown = shown_.data();
    std::uint32_t* accepted = accepted_.data();
    const std::uint8_t* fallback = fallback_.data();
    const auto show = [&](int from, int to) {
        std::size_t drawn = 0;
        for (std::size_t y = static_cast<std::size_t>(from); y < static_cast<std::size_t>(to); ++y) {
            const std::size_t row = origin + y * w;
            const std::size_t at = y * width;
            std::size_t x = 0;
            const auto one = [&](std::size_t col) {
                const std::uint8_t i = chosen[at + col];
                const std::size_t p = row + col;
                if (transparent && i == clear) {
                    if (fallback[at + col] != clear) accepted[p] = distance2(shown[p], wanted_here[at + col]);
                    return;
                }
                shown[p] = palette[i];
                accepted[p] = distance2(palette[i], wanted_here[at + col]);
                ++drawn;
            };
#if defined(__SSE2__)
            if (transparent) {
                // Sixteen places at a time where all of them are left transparent and needed no
                // change, which changes nothing; the others one by one.
                const __m128i clear16 = _mm_set1_epi8(static_cast<char>(clear));
                for (; x + 16 <= width; x += 16) {
                    const __m128i untouched = _mm_and_si128(_mm_cmpeq_epi8(load128(chosen + at + x), clear16),
                                                            _mm_cmpeq_epi8(load128(fallback + at + x), clear16));
                    if (_mm_movemask_epi8(untouched) == 0xFFFF) continue;
                    for (std::size_t k = x; k < x + 16; ++k) one(k);
                }
            }
#endif
            for (; x < width; ++x) one(x);
        }
        return drawn > 0;
    };
    run_row_parts(run_parts, parts, [&](std::size_t k, int from, int to) { drew_[k] = show(from, to); });
    return std::find(drew_.begin(), drew_.end(), 1) != drew_.end();
}

}  // namespace gifanim
