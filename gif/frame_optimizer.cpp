#include "gif/frame_optimizer.h"

#include "gif/lossy_lzw.h"

#include <algorithm>
#include <cstring>

namespace gifanim {

namespace {

constexpr unsigned kCacheBits = 16;
// The LZW of a rectangle is cut into parts of whole rows of about this many pixels.
constexpr std::size_t kPartPixels = std::size_t{1} << 17;
constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;

unsigned bits_for(std::size_t entries) {
    unsigned bits = 1;
    while ((std::size_t{1} << bits) < entries) ++bits;
    return bits;
}

}  // namespace

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
    target_.assign(places * 3, 0);
    changes_.assign(places, 0);
    changed_.clear();
    changed_.reserve(places);
    cache_keys_.assign(kCacheSize, 0);
    cache_values_.assign(kCacheSize, 0);
}

std::uint8_t ChangeFinder::lookup(Rgb c) {
    const std::size_t slot = (c * 2654435761u) >> (32 - kCacheBits);
    if (cache_keys_[slot] == c + 1) return cache_values_[slot];
    const std::uint8_t index = nearest_.find(c);
    cache_keys_[slot] = c + 1;
    cache_values_[slot] = index;
    return index;
}

void ChangeFinder::find(const platform::Dib24& picture, int left, int top, FramePlan& plan, bool with_table) {
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int x1 = std::min(width_, left + picture.width), y1 = std::min(height_, top + picture.height);
    const std::size_t w = static_cast<std::size_t>(width_);
    plan.first = first_;

    int bx0 = width_, by0 = height_, bx1 = -1, by1 = -1;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* src = picture.row(picture.height - 1 - (y - top)) + 3 * static_cast<std::size_t>(x0 - left);
        const std::size_t row = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x0);
        std::uint8_t* tgt = target_.data() + 3 * row;
        const std::size_t n = static_cast<std::size_t>(x1 - x0);
        if (std::memcmp(src, tgt, 3 * n) == 0) continue;
        // Without branches, so that the loop runs on whole vectors; the row's first and last
        // changed places are found after.
        std::uint8_t* changed = changes_.data() + row;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* s = src + 3 * i;
            const std::uint8_t* t = tgt + 3 * i;
            changed[i] = static_cast<std::uint8_t>((s[0] != t[0]) | (s[1] != t[1]) | (s[2] != t[2]));
        }
        std::memcpy(tgt, src, 3 * n);
        std::size_t a = 0, b = n - 1;
        while (!changed[a]) ++a;
        while (!changed[b]) --b;
        bx0 = std::min(bx0, x0 + static_cast<int>(a));
        bx1 = std::max(bx1, x0 + static_cast<int>(b));
        by0 = std::min(by0, y);
        by1 = y;
    }
    if (first_) {
        // The first frame draws the whole canvas, black where its picture does not reach.
        std::fill(changes_.begin(), changes_.end(), 1);
        bx0 = 0;
        by0 = 0;
        bx1 = width_ - 1;
        by1 = height_ - 1;
        first_ = false;
    }
    plan.changed = bx1 >= 0;
    if (!plan.changed) return;

    plan.left = bx0;
    plan.top = by0;
    plan.width = bx1 - bx0 + 1;
    plan.height = by1 - by0 + 1;
    const std::size_t area = static_cast<std::size_t>(plan.width) * static_cast<std::size_t>(plan.height);
    const std::size_t origin = static_cast<std::size_t>(by0) * w + static_cast<std::size_t>(bx0);
    plan.wanted.resize(area);
    plan.changes.resize(area);
    changed_.clear();
    // Every place of the first frame changes: its colours are all of the plan's.
    const bool all_changed = plan.first;
    for (int y = 0; y < plan.height; ++y) {
        const std::size_t row = origin + static_cast<std::size_t>(y) * w;
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(plan.width);
        const std::uint8_t* t = target_.data() + 3 * row;
        for (std::size_t x = 0; x < static_cast<std::size_t>(plan.width); ++x, t += 3) {
            const Rgb colour = rgb(t[2], t[1], t[0]);
            plan.wanted[at + x] = colour;
            const std::uint8_t c = changes_[row + x];
            plan.changes[at + x] = c;
            if (c && !all_changed) changed_.push_back(colour);
            changes_[row + x] = 0;
        }
    }
    if (!with_table) return;
    plan.nearest.resize(area);
    // Room for the transparent entry, which every frame but the first may need.
    plan.palette = make_colour_table(all_changed ? std::span<const Rgb>(plan.wanted) : std::span<const Rgb>(changed_),
                                     plan.first ? 256 : 255, plan.first ? bounds_.first_passes : bounds_.passes,
                                     nearest_, &plan.exact);
    nearest_.reset(plan.palette);
    std::fill(cache_keys_.begin(), cache_keys_.end(), 0);
    for (std::size_t i = 0; i < area; ++i)
        if (plan.changes[i]) plan.nearest[i] = lookup(plan.wanted[i]);
}

void FrameDrawer::start(int width, int height, const QualityBounds& bounds, bool interlace) {
    width_ = width;
    height_ = height;
    interlace_ = interlace;
    bounds_ = bounds;
    const std::size_t places = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    shown_.assign(places, 0);
    accepted_.assign(places, 0);
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
    const std::size_t plan_width = static_cast<std::size_t>(plan.width);
    const std::size_t plan_origin = static_cast<std::size_t>(plan.top) * w + static_cast<std::size_t>(plan.left);

    // The changed places whose shown colour is now too far from their pixel.
    const std::size_t plan_area = plan_width * static_cast<std::size_t>(plan.height);
    redraw_.resize(plan_area);
    int bx0 = plan.width, by0 = plan.height, bx1 = -1, by1 = -1;
    std::size_t redraws = 0;
    const unsigned keep = bounds_.keep_distance2;
    for (int y = 0; y < plan.height; ++y) {
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
        for (std::size_t x = 0; x < plan_width; ++x) {
            const bool far = first || distance2(shown[x], wanted[x]) > std::max(keep, accepted[x]);
            const auto r = static_cast<std::uint8_t>(changes[x] & static_cast<std::uint8_t>(far));
            redraw[x] = r;
            in_row += r;
        }
        if (in_row == 0) continue;
        redraws += in_row;
        std::size_t a = 0, b = plan_width - 1;
        while (!redraw[a]) ++a;
        while (!redraw[b]) --b;
        bx0 = std::min(bx0, static_cast<int>(a));
        bx1 = std::max(bx1, static_cast<int>(b));
        by0 = std::min(by0, y);
        by1 = y;
    }
    if (redraws == 0) return false;

    out.left = plan.left + bx0;
    out.top = plan.top + by0;
    out.width = bx1 - bx0 + 1;
    out.height = by1 - by0 + 1;
    const std::size_t width = static_cast<std::size_t>(out.width);
    const std::size_t area = width * static_cast<std::size_t>(out.height);
    const std::size_t origin = static_cast<std::size_t>(out.top) * w + static_cast<std::size_t>(out.left);
    const std::size_t plan_at = static_cast<std::size_t>(by0) * plan_width + static_cast<std::size_t>(bx0);
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
        wanted_here_.resize(area);
        wanted_here = wanted_here_.data();
    }
    if (width != w) {
        shown_here_.resize(area);
        shown_here = shown_here_.data();
    }
    fallback_.resize(area);
    loose_.resize(area);
    for (std::size_t y = 0; y < static_cast<std::size_t>(out.height); ++y) {
        const std::size_t row = origin + y * w;
        const std::size_t from = plan_at + y * plan_width;
        const std::size_t at = y * width;
        if (width != plan_width) {
            std::copy_n(plan.wanted.begin() + static_cast<std::ptrdiff_t>(from), width,
                        wanted_here_.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (width != w) {
            std::copy_n(shown_.begin() + static_cast<std::ptrdiff_t>(row), width,
                        shown_here_.begin() + static_cast<std::ptrdiff_t>(at));
        }
        std::uint8_t* fallback = fallback_.data() + at;
        std::uint8_t* loose = loose_.data() + at;
        int since = kNear + 1;
        for (std::size_t x = 0; x < width; ++x) {
            if (!redraw_[from + x]) {
                fallback[x] = clear;
                loose[x] = ++since <= kNear;
                continue;
            }
            const std::uint8_t i = plan.nearest[from + x];
            const Rgb c = wanted_here[at + x];
            fallback[x] =
                out.transparent && distance2(out.palette[i], c) >= distance2(shown_here[at + x], c) ? clear : i;
            since = 0;
            loose[x] = 1;
        }
        if (!out.transparent) {
            std::fill_n(loose, width, std::uint8_t{1});  // every place is drawn, so every one may stray
            continue;
        }
        since = kNear + 1;
        for (std::size_t x = width; x-- > 0;) {
            since = fallback[x] != clear ? 0 : since + 1;
            loose[x] |= since <= kNear;
        }
    }
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
    chosen_.resize(area);
    if (choices.max_tolerance2 > 0) tolerances_.assign(area, kToleranceUnknown);
    const int part_rows = std::max(1, static_cast<int>(kPartPixels / width));
    const std::size_t part_count = static_cast<std::size_t>((out.height + part_rows - 1) / part_rows);
    if (part_scratch_.size() < part_count) part_scratch_.resize(part_count);
    parts_.resize(part_count);
    const LzwPixels results{chosen_.data(), tolerances_.data()};
    const auto encode_part = [&](std::size_t k) {
        const int first_row = static_cast<int>(k) * part_rows;
        lossy_lzw_encode_part(choices, out.bits, interlace_, first_row, std::min(out.height, first_row + part_rows),
                              part_scratch_[k], results, parts_[k]);
    };
    if (part_count > 1 && run_parts) {
        run_parts(part_count, encode_part);
    } else {
        for (std::size_t k = 0; k < part_count; ++k) encode_part(k);
    }
    join_lzw_parts(out.bits, parts_, out.data);

    bool drew_any = false;
    const std::uint8_t* chosen = chosen_.data();
    for (std::size_t y = 0; y < static_cast<std::size_t>(out.height); ++y) {
        const std::size_t row = origin + y * w;
        const std::size_t at = y * width;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t i = chosen[at + x];
            const std::size_t p = row + x;
            if (out.transparent && i == clear) {
                if (fallback_[at + x] != clear) accepted_[p] = distance2(shown_[p], wanted_here[at + x]);
                continue;
            }
            shown_[p] = out.palette[i];
            accepted_[p] = distance2(out.palette[i], wanted_here[at + x]);
            drew_any = true;
        }
    }
    return drew_any;
}

}  // namespace gifanim
