#include "gif/frame_optimizer.h"

#include "gif/lossy_lzw.h"

#include <algorithm>
#include <cstring>

namespace gifanim {

namespace {

constexpr unsigned kCacheBits = 16;
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
    b.first_tolerance2 = 3 * s * s / 4;
    b.passes = q >= 95 ? 8 : q >= 70 ? 1 : 0;
    b.first_passes = q >= 95 ? 8 : 3;
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
    choices.stride = 1;
    choices.wanted = &f.palette[0];
    choices.shown = &f.palette[0];
    choices.fallback = &transparent_pixel;
    choices.loose = &transparent_pixel;
    choices.table = std::span<const Rgb>(f.palette).first(1);
    choices.transparent = 1;
    LossyLzwScratch scratch;
    lossy_lzw_encode(choices, 1, false, scratch, f.data);
    return f;
}

void FrameOptimizer::start(int width, int height, int quality, bool interlace) {
    interlace_ = interlace;
    width_ = width;
    height_ = height;
    first_ = true;
    bounds_ = quality_bounds(quality);
    const std::size_t places = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    target_.assign(places * 3, 0);
    wanted_.assign(places, 0);
    shown_.assign(places, 0);
    accepted_.assign(places, 0);
    redraw_.assign(places, 0);
    changed_.clear();
    changed_.reserve(places);
    cache_keys_.assign(kCacheSize, 0);
    cache_values_.assign(kCacheSize, 0);
}

std::uint8_t FrameOptimizer::lookup(Rgb c) {
    const std::size_t slot = (c * 2654435761u) >> (32 - kCacheBits);
    if (cache_keys_[slot] == c + 1) return cache_values_[slot];
    const std::uint8_t index = nearest_.find(c);
    cache_keys_[slot] = c + 1;
    cache_values_[slot] = index;
    return index;
}

bool FrameOptimizer::add(const platform::Dib24& picture, int left, int top, OptimizedFrame& out) {
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int x1 = std::min(width_, left + picture.width), y1 = std::min(height_, top + picture.height);
    const bool first = first_;
    const std::size_t w = static_cast<std::size_t>(width_);

    // The places whose pixel changed and whose shown colour is now too far from it.
    int bx0 = width_, by0 = height_, bx1 = -1, by1 = -1;
    std::size_t redraws = 0;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* src = picture.row(picture.height - 1 - (y - top)) + 3 * static_cast<std::size_t>(x0 - left);
        const std::size_t row = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x0);
        std::uint8_t* tgt = target_.data() + 3 * row;
        const std::size_t n = static_cast<std::size_t>(x1 - x0);
        if (std::memcmp(src, tgt, 3 * n) == 0) continue;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* s = src + 3 * i;
            std::uint8_t* t = tgt + 3 * i;
            if (s[0] == t[0] && s[1] == t[1] && s[2] == t[2]) continue;
            t[0] = s[0];
            t[1] = s[1];
            t[2] = s[2];
            const std::size_t p = row + i;
            const Rgb c = rgb(s[2], s[1], s[0]);
            wanted_[p] = c;
            if (first || distance2(shown_[p], c) <= std::max(bounds_.keep_distance2, accepted_[p])) continue;
            redraw_[p] = 1;
            ++redraws;
            const int x = x0 + static_cast<int>(i);
            bx0 = std::min(bx0, x);
            bx1 = std::max(bx1, x);
            by0 = std::min(by0, y);
            by1 = std::max(by1, y);
        }
    }
    if (first) {
        // The first frame draws the whole canvas, black where its picture does not reach.
        std::fill(redraw_.begin(), redraw_.end(), 1);
        redraws = redraw_.size();
        bx0 = 0;
        by0 = 0;
        bx1 = width_ - 1;
        by1 = height_ - 1;
        first_ = false;
    }
    if (redraws == 0) return false;

    out.left = bx0;
    out.top = by0;
    out.width = bx1 - bx0 + 1;
    out.height = by1 - by0 + 1;
    const std::size_t area = static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    const std::size_t origin = static_cast<std::size_t>(by0) * w + static_cast<std::size_t>(bx0);
    out.transparent = redraws < area;

    changed_.clear();
    for (int y = 0; y < out.height; ++y) {
        const std::size_t row = origin + static_cast<std::size_t>(y) * w;
        for (std::size_t x = 0; x < static_cast<std::size_t>(out.width); ++x)
            if (redraw_[row + x]) changed_.push_back(wanted_[row + x]);
    }
    out.palette = make_colour_table(changed_, out.transparent ? 255 : 256,
                                    first ? bounds_.first_passes : bounds_.passes, nearest_);
    nearest_.reset(out.palette);
    std::fill(cache_keys_.begin(), cache_keys_.end(), 0);

    // The transparent entry follows the colours; only a frame with transparency has one (and then
    // at most 255 colours), so in a frame of 256 colours no index stands for it.
    const std::size_t colours = out.palette.size();
    const auto clear = static_cast<std::uint8_t>(out.transparent ? colours : 0);

    // Each place falls back to its nearest entry, or with a transparent entry to what it shows now
    // where that is as close or the place needs no change; a place may stray from its fallback
    // within a few pixels of a change along its row, where LZW strings gain from it.
    constexpr int kNear = 8;
    fallback_.resize(area);
    loose_.resize(area);
    for (int y = 0; y < out.height; ++y) {
        const std::size_t row = origin + static_cast<std::size_t>(y) * w;
        std::uint8_t* fallback = fallback_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width);
        std::uint8_t* loose = loose_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width);
        int since = kNear + 1;
        for (std::size_t x = 0; x < static_cast<std::size_t>(out.width); ++x) {
            const std::size_t p = row + x;
            if (!redraw_[p]) {
                fallback[x] = clear;
                loose[x] = ++since <= kNear;
                continue;
            }
            redraw_[p] = 0;
            const Rgb c = wanted_[p];
            const std::uint8_t i = lookup(c);
            fallback[x] = out.transparent && distance2(out.palette[i], c) >= distance2(shown_[p], c) ? clear : i;
            since = 0;
            loose[x] = 1;
        }
        since = kNear + 1;
        for (std::size_t x = static_cast<std::size_t>(out.width); x-- > 0;) {
            since = fallback[x] != clear || !out.transparent ? 0 : since + 1;
            loose[x] |= since <= kNear;
        }
    }
    if (out.transparent) out.palette.push_back(0);
    out.bits = bits_for(out.palette.size());

    PixelChoices choices;
    choices.width = out.width;
    choices.height = out.height;
    choices.stride = w;
    choices.wanted = wanted_.data() + origin;
    choices.shown = shown_.data() + origin;
    choices.fallback = fallback_.data();
    choices.loose = loose_.data();
    choices.table = std::span<const Rgb>(out.palette).first(colours);
    choices.transparent = out.transparent ? clear : -1;
    choices.max_tolerance2 = first ? bounds_.first_tolerance2 : bounds_.tolerance2;
    choices.flat_tolerance2 = first ? bounds_.first_flat_tolerance2 : bounds_.flat_tolerance2;
    choices.detail_scale = bounds_.detail_scale;
    out.data.clear();
    lossy_lzw_encode(choices, out.bits, interlace_, lzw_, out.data);

    bool drew_any = false;
    const std::uint8_t* chosen = lzw_.chosen.data();
    for (int y = 0; y < out.height; ++y) {
        const std::size_t row = origin + static_cast<std::size_t>(y) * w;
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width);
        for (std::size_t x = 0; x < static_cast<std::size_t>(out.width); ++x) {
            const std::uint8_t i = chosen[at + x];
            const std::size_t p = row + x;
            if (out.transparent && i == clear) {
                if (fallback_[at + x] != clear) accepted_[p] = distance2(shown_[p], wanted_[p]);
                continue;
            }
            shown_[p] = out.palette[i];
            accepted_[p] = distance2(out.palette[i], wanted_[p]);
            drew_any = true;
        }
    }
    return drew_any;
}

}  // namespace gifanim
