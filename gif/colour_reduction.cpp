#include "gif/colour_reduction.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace gifanim {

namespace {

constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

// Cube level (0..5) of a channel value under threshold t.
constexpr unsigned dither_level(unsigned v, unsigned t) {
    if (v <= 64) return 0;
    if (2 * (v % 32) < t) return v / 32 - 2;
    return std::min(v / 32 - 1, 5u);
}

struct DitherTables {
    // level[t][v] for every threshold and channel value
    std::uint8_t level[64][256];
    constexpr DitherTables() : level{} {
        for (unsigned t = 0; t < 64; ++t)
            for (unsigned v = 0; v < 256; ++v) level[t][v] = static_cast<std::uint8_t>(dither_level(v, t));
    }
};
constexpr DitherTables kDither{};

void prepare(const platform::Dib24& picture, IndexedImage& out) {
    out.width = picture.width;
    out.height = picture.height;
    out.indices.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
}

}  // namespace

PopularityPalette popularity_palette(const std::array<std::uint32_t, 4096>& histogram) {
    // The non-empty bins in ascending bin order, then ordered by count with an exchange procedure:
    // for each i, every later j whose count is strictly greater than the one at i is swapped into
    // place i. Only places 0..255 make the palette; they are final once i has passed them.
    std::uint16_t bins[4096];
    std::uint32_t counts[4096];
    std::size_t n = 0;
    for (unsigned bin = 0; bin < 4096; ++bin) {
        if (histogram[bin] != 0) {
            bins[n] = static_cast<std::uint16_t>(bin);
            counts[n] = histogram[bin];
            ++n;
        }
    }
    const std::size_t fixed = std::min<std::size_t>(n, 256);
    // A swap only ever lowers the count at a later place, so the largest count of a block of places
    // stays an upper bound for it: a pass skips every block whose bound cannot beat the count at
    // place i, and compares and swaps exactly as above inside the others.
    constexpr std::size_t kBlock = 32;
    std::uint32_t block_max[4096 / kBlock] = {};
    for (std::size_t j = 0; j < n; ++j) block_max[j / kBlock] = std::max(block_max[j / kBlock], counts[j]);
    for (std::size_t i = 0; i + 1 < n && i < 256; ++i) {
        std::uint32_t best = counts[i];
        const auto exchange = [&](std::size_t j) {
            if (counts[j] > best) {
                std::swap(counts[i], counts[j]);
                std::swap(bins[i], bins[j]);
                best = counts[i];
            }
        };
        std::size_t j = i + 1;
        for (const std::size_t to_block = std::min(n, (j + kBlock - 1) / kBlock * kBlock); j < to_block; ++j)
            exchange(j);
        for (; j < n; j += kBlock) {
            std::uint32_t& bound = block_max[j / kBlock];
            if (bound <= best) continue;
            std::uint32_t largest = 0;
            for (std::size_t k = j; k < std::min(n, j + kBlock); ++k) {
                exchange(k);
                largest = std::max(largest, counts[k]);
            }
            bound = largest;
        }
    }

    PopularityPalette result;
    // 4-bit grid colour of each palette entry, for the nearest-colour search.
    std::int16_t pr[256] = {}, pg[256] = {}, pb[256] = {};
    for (std::size_t k = 0; k < fixed; ++k) {
        const unsigned bin = bins[k];
        pr[k] = static_cast<std::int16_t>(bin & 0xF);
        pg[k] = static_cast<std::int16_t>((bin >> 4) & 0xF);
        pb[k] = static_cast<std::int16_t>(bin >> 8);
        result.palette[3 * k] = static_cast<std::uint8_t>(pr[k] << 4);
        result.palette[3 * k + 1] = static_cast<std::uint8_t>(pg[k] << 4);
        result.palette[3 * k + 2] = static_cast<std::uint8_t>(pb[k] << 4);
        result.index_of_bin[bin] = static_cast<std::uint8_t>(k);
    }
    // Entries beyond 255 take the palette entry at the smallest squared distance; the lowest
    // index wins a tie.
    for (std::size_t k = fixed; k < n; ++k) {
        const unsigned bin = bins[k];
        const int r = static_cast<int>(bin & 0xF), g = static_cast<int>((bin >> 4) & 0xF),
                  b = static_cast<int>(bin >> 8);
        // Every entry's squared distance (at most 3 x 15^2, so 16 bits hold it: the loops run on
        // whole vectors), then the first entry at the least.
        std::int16_t distance[256];
        for (int p = 0; p < 256; ++p) {
            const auto dr = static_cast<std::int16_t>(r - pr[p]), dg = static_cast<std::int16_t>(g - pg[p]),
                       db = static_cast<std::int16_t>(b - pb[p]);
            distance[p] = static_cast<std::int16_t>(dr * dr + dg * dg + db * db);
        }
        std::int16_t least = distance[0];
        for (int p = 1; p < 256; ++p) least = std::min(least, distance[p]);
        int nearest = 0;
        while (distance[nearest] != least) ++nearest;
        result.index_of_bin[bin] = static_cast<std::uint8_t>(nearest);
    }
    return result;
}

namespace {

// The bins of every pixel into `bins`, then each pixel's palette index into `indices`, which may
// be the bins' own memory.
void reduce(const platform::Dib24& picture, std::array<std::uint8_t, 768>& palette, Unset<std::uint16_t>& bins,
            std::uint8_t* indices) {
    const int w = picture.width, h = picture.height;

    // Four histograms side by side, so that runs of one colour do not serialise on one counter.
    std::array<std::array<std::uint32_t, 4096>, 4> partial{};
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* src = picture.row(h - 1 - r);
        std::uint16_t* dst = bins.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(w);
        int x = 0;
        for (; x + 4 <= w; x += 4, src += 12) {
            const unsigned b0 = colour_bin(src[0], src[1], src[2]);
            const unsigned b1 = colour_bin(src[3], src[4], src[5]);
            const unsigned b2 = colour_bin(src[6], src[7], src[8]);
            const unsigned b3 = colour_bin(src[9], src[10], src[11]);
            dst[x] = static_cast<std::uint16_t>(b0);
            dst[x + 1] = static_cast<std::uint16_t>(b1);
            dst[x + 2] = static_cast<std::uint16_t>(b2);
            dst[x + 3] = static_cast<std::uint16_t>(b3);
            ++partial[0][b0];
            ++partial[1][b1];
            ++partial[2][b2];
            ++partial[3][b3];
        }
        for (; x < w; ++x, src += 3) {
            const unsigned b0 = colour_bin(src[0], src[1], src[2]);
            dst[x] = static_cast<std::uint16_t>(b0);
            ++partial[0][b0];
        }
    }
    std::array<std::uint32_t, 4096> histogram;
    for (std::size_t i = 0; i < 4096; ++i) histogram[i] = partial[0][i] + partial[1][i] + partial[2][i] + partial[3][i];

    const PopularityPalette pal = popularity_palette(histogram);
    palette = pal.palette;
    const std::uint8_t* map = pal.index_of_bin.data();
    const std::uint16_t* in = bins.data();
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    // Forwards: byte i lies in bin i / 2, which is read by then.
    for (std::size_t i = 0; i < count; ++i) indices[i] = map[in[i]];
}

}  // namespace

void popularity_reduce(const platform::Dib24& picture, IndexedImage& out, Unset<std::uint16_t>& bins) {
    prepare(picture, out);
    bins.resize(out.indices.size());
    reduce(picture, out.palette, bins, out.indices.data());
}

const std::uint8_t* popularity_reduce_in_place(const platform::Dib24& picture, std::array<std::uint8_t, 768>& palette,
                                               Unset<std::uint16_t>& bins) {
    bins.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
    std::uint8_t* indices = reinterpret_cast<std::uint8_t*>(bins.data());
    reduce(picture, palette, bins, indices);
    return indices;
}

void dither_reduce(const platform::Dib24& picture, IndexedImage& out) {
    prepare(picture, out);
    const int w = picture.width, h = picture.height;
    out.palette.fill(0);
    for (unsigned r = 0; r < 6; ++r)
        for (unsigned g = 0; g < 6; ++g)
            for (unsigned b = 0; b < 6; ++b) {
                const unsigned k = 36 * r + 6 * g + b;
                out.palette[3 * k] = static_cast<std::uint8_t>(64 + 32 * r);
                out.palette[3 * k + 1] = static_cast<std::uint8_t>(64 + 32 * g);
                out.palette[3 * k + 2] = static_cast<std::uint8_t>(64 + 32 * b);
            }
    for (int r = 0; r < h; ++r) {
        const int y = h - 1 - r;  // threshold rows count from the bottom row of the picture
        const std::uint8_t* src = picture.row(y);
        std::uint8_t* dst = out.indices.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(w);
        const std::uint8_t* thresholds = kBayer[y & 7];
        for (int x = 0; x < w; ++x, src += 3) {
            const auto& level = kDither.level[thresholds[x & 7]];
            dst[x] = static_cast<std::uint8_t>(36 * level[src[2]] + 6 * level[src[1]] + level[src[0]]);
        }
    }
}

}  // namespace gifanim
