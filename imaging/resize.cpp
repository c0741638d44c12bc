#include "imaging/resize.h"

#include <algorithm>
#include <vector>

namespace gifanim::imaging {

namespace {

// The source pixels an output pixel covers along one axis and by how much: source pixel i spans
// [i * out, (i + 1) * out) and output pixel o spans [o * in, (o + 1) * in), in units of
// 1 / (in * out) of a source pixel, so every share is a whole number and they add up to `in`.
struct Span {
    int first = 0;
    std::vector<std::uint32_t> weights;
};

std::vector<Span> spans(int in, int out) {
    std::vector<Span> result(static_cast<std::size_t>(out));
    for (int o = 0; o < out; ++o) {
        const std::int64_t from = static_cast<std::int64_t>(o) * in, to = from + in;
        Span& s = result[static_cast<std::size_t>(o)];
        s.first = static_cast<int>(from / out);
        for (std::int64_t i = s.first; i * out < to; ++i) {
            const std::int64_t lo = std::max(from, i * out), hi = std::min(to, (i + 1) * out);
            s.weights.push_back(static_cast<std::uint32_t>(hi - lo));
        }
    }
    return result;
}

}  // namespace

platform::ScreenRect clamp_crop(const platform::ScreenRect& crop, int width, int height) {
    platform::ScreenRect r{std::clamp(crop.left, 0, width), std::clamp(crop.top, 0, height),
                           std::clamp(crop.right, 0, width), std::clamp(crop.bottom, 0, height)};
    if (r.right <= r.left || r.bottom <= r.top) return {};
    return r;
}

void crop_and_scale(const platform::Dib24& src, const platform::ScreenRect& crop, int width, int height,
                    platform::Dib24& out) {
    const int cw = crop.right - crop.left, ch = crop.bottom - crop.top;
    const std::vector<Span> columns = spans(cw, width), rows = spans(ch, height);
    out.allocate(width, height);
    const auto w = static_cast<std::size_t>(width);
    // One source row averaged across: sums of channel times share, each column's shares adding
    // up to cw.
    std::vector<std::uint64_t> across(w * 3), down(w * 3);
    const std::uint64_t total = static_cast<std::uint64_t>(cw) * static_cast<std::uint64_t>(ch);
    for (int oy = 0; oy < height; ++oy) {
        std::fill(down.begin(), down.end(), 0);
        const Span& vertical = rows[static_cast<std::size_t>(oy)];
        for (std::size_t k = 0; k < vertical.weights.size(); ++k) {
            const int sy = crop.top + vertical.first + static_cast<int>(k);
            const std::uint8_t* line = src.row(src.height - 1 - sy) + 3 * static_cast<std::size_t>(crop.left);
            for (std::size_t ox = 0; ox < w; ++ox) {
                const Span& horizontal = columns[ox];
                std::uint64_t b = 0, g = 0, r = 0;
                const std::uint8_t* p = line + 3 * static_cast<std::size_t>(horizontal.first);
                for (const std::uint32_t share : horizontal.weights) {
                    b += std::uint64_t{p[0]} * share;
                    g += std::uint64_t{p[1]} * share;
                    r += std::uint64_t{p[2]} * share;
                    p += 3;
                }
                across[3 * ox] = b;
                across[3 * ox + 1] = g;
                across[3 * ox + 2] = r;
            }
            const std::uint64_t share = vertical.weights[k];
            for (std::size_t i = 0; i < across.size(); ++i) down[i] += across[i] * share;
        }
        std::uint8_t* target = out.row(height - 1 - oy);
        for (std::size_t i = 0; i < down.size(); ++i)
            target[i] = static_cast<std::uint8_t>((down[i] + total / 2) / total);
    }
}

}  // namespace gifanim::imaging
