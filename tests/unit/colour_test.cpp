#include <gtest/gtest.h>

#include <algorithm>

#include "gif/colour_reduction.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

// The whole exchange procedure over every list entry, and a brute-force nearest search.
PopularityPalette model_palette(const std::array<std::uint32_t, 4096>& histogram) {
    std::vector<std::pair<unsigned, std::uint32_t>> list;
    for (unsigned bin = 0; bin < 4096; ++bin)
        if (histogram[bin]) list.push_back({bin, histogram[bin]});
    const std::size_t n = list.size();
    for (std::size_t i = 0; i + 1 < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (list[j].second > list[i].second) std::swap(list[i], list[j]);
    PopularityPalette out;
    auto channel = [](unsigned bin, int shift) { return static_cast<int>((bin >> shift) & 0xF); };
    for (std::size_t k = 0; k < 256 && k < n; ++k) {
        out.palette[3 * k] = static_cast<std::uint8_t>(channel(list[k].first, 0) << 4);
        out.palette[3 * k + 1] = static_cast<std::uint8_t>(channel(list[k].first, 4) << 4);
        out.palette[3 * k + 2] = static_cast<std::uint8_t>(channel(list[k].first, 8) << 4);
        out.index_of_bin[list[k].first] = static_cast<std::uint8_t>(k);
    }
    for (std::size_t k = 256; k < n; ++k) {
        int best = 1000000000, best_p = 0;
        for (int p = 0; p < 256; ++p) {
            const unsigned pb = list[static_cast<std::size_t>(p)].first, b = list[k].first;
            const int dr = channel(b, 0) - channel(pb, 0), dg = channel(b, 4) - channel(pb, 4),
                      db = channel(b, 8) - channel(pb, 8);
            const int d = dr * dr + dg * dg + db * db;
            if (d < best) best = d, best_p = p;
        }
        out.index_of_bin[list[k].first] = static_cast<std::uint8_t>(best_p);
    }
    return out;
}

void expect_model(const std::array<std::uint32_t, 4096>& histogram, const std::string& what) {
    const PopularityPalette fast = popularity_palette(histogram);
    const PopularityPalette model = model_palette(histogram);
    EXPECT_TRUE(fast.palette == model.palette) << what;
    for (unsigned bin = 0; bin < 4096; ++bin) {
        if (histogram[bin] == 0) continue;
        ASSERT_EQ(fast.index_of_bin[bin], model.index_of_bin[bin]) << what << " bin " << bin;
    }
}

TEST(PopularityPalette, MatchesTheFullExchangeProcedureWithManyTies) {
    Lcg rng(11);
    for (unsigned bins : {3u, 200u, 256u, 257u, 600u, 4096u}) {
        for (unsigned spread : {1u, 3u, 1000u}) {
            std::array<std::uint32_t, 4096> h{};
            for (unsigned i = 0; i < bins; ++i) h[bins == 4096 ? i : rng.next() % 4096] = 1 + rng.next() % spread;
            expect_model(h, std::to_string(bins) + " bins, counts 1.." + std::to_string(spread));
        }
    }
}

TEST(PopularityPalette, EqualCountsKeepTheExchangeOrderAndUnusedEntriesAreBlack) {
    std::array<std::uint32_t, 4096> h{};
    // Bins in ascending order a < b < c < d with counts 1, 3, 2, 3: the procedure yields b, d, c, a.
    const unsigned a = 0x001, b = 0x010, c = 0x100, d = 0x111;
    h[a] = 1, h[b] = 3, h[c] = 2, h[d] = 3;
    const PopularityPalette p = popularity_palette(h);
    EXPECT_EQ(p.index_of_bin[b], 0);
    EXPECT_EQ(p.index_of_bin[d], 1);
    EXPECT_EQ(p.index_of_bin[c], 2);
    EXPECT_EQ(p.index_of_bin[a], 3);
    // Entry 1 is bin 0x111: every channel 0x10.
    EXPECT_EQ(p.palette[3], 0x10);
    EXPECT_EQ(p.palette[4], 0x10);
    EXPECT_EQ(p.palette[5], 0x10);
    EXPECT_TRUE(std::all_of(p.palette.begin() + 12, p.palette.end(), [](std::uint8_t v) { return v == 0; }));
}

platform::Dib24 picture(int w, int h, const PixelFn& fn) {
    platform::Dib24 dib;
    dib.allocate(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = dib.row(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const Rgb c = fn(x, y);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
    return dib;
}

TEST(PopularityReduce, LowBitsFallIntoOneBinAndFrequencyOrdersThePalette) {
    // Left third red 0x47, middle third red 0x4F (same bin), right third blue: red wins.
    const auto dib = picture(9, 2, [](int x, int) {
        if (x < 3) return Rgb{0x47, 0, 0};
        if (x < 6) return Rgb{0x4F, 0x0F, 0x01};
        return Rgb{0, 0, 0xFF};
    });
    IndexedImage out;
    Unset<std::uint16_t> scratch;
    popularity_reduce(dib, out, scratch);
    ASSERT_EQ(out.width, 9);
    ASSERT_EQ(out.height, 2);
    EXPECT_EQ(out.palette[0], 0x40);
    EXPECT_EQ(out.palette[1], 0x00);
    EXPECT_EQ(out.palette[2], 0x00);
    EXPECT_EQ(out.palette[5], 0xF0);  // blue of entry 1
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 9; ++x) EXPECT_EQ(out.indices[y * 9 + x], x < 6 ? 0 : 1) << x << "," << y;
    }
}

TEST(PopularityReduce, RowsComeOutTopDown) {
    const auto dib = picture(3, 4, [](int, int y) { return y == 0 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; });
    IndexedImage out;
    Unset<std::uint16_t> scratch;
    popularity_reduce(dib, out, scratch);
    // Black is more frequent (index 0); the top row is white (index 1).
    EXPECT_EQ(std::vector<std::uint8_t>(out.indices.begin(), out.indices.end()),
              (std::vector<std::uint8_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DitherReduce, BlackAndWhiteBecomeTheDullCorners) {
    IndexedImage out;
    dither_reduce(picture(9, 9, [](int, int) { return Rgb{0, 0, 0}; }), out);
    EXPECT_TRUE(std::all_of(out.indices.begin(), out.indices.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(out.palette[0], 64);
    EXPECT_EQ(out.palette[1], 64);
    EXPECT_EQ(out.palette[2], 64);
    dither_reduce(picture(9, 9, [](int, int) { return Rgb{255, 255, 255}; }), out);
    EXPECT_TRUE(std::all_of(out.indices.begin(), out.indices.end(), [](std::uint8_t v) { return v == 215; }));
    EXPECT_EQ(out.palette[3 * 215], 224);
    EXPECT_EQ(out.palette[3 * 215 + 2], 224);
    EXPECT_TRUE(std::all_of(out.palette.begin() + 3 * 216, out.palette.end(), [](std::uint8_t v) { return v == 0; }));
}

TEST(DitherReduce, ThresholdPatternCountsRowsFromTheBottom) {
    static constexpr int kBayer[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
        {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
    };
    const int w = 19, h = 13;
    IndexedImage out;
    // Red 80 in the top half, exactly 64 in the bottom half; green and blue 0.
    dither_reduce(picture(w, h, [](int, int y) { return Rgb{static_cast<std::uint8_t>(y < 6 ? 80 : 64), 0, 0}; }), out);
    for (int r = 0; r < h; ++r) {
        const int y = h - 1 - r;  // bitmap row, 0 at the bottom
        for (int x = 0; x < w; ++x) {
            const int expected_level = r < 6 && kBayer[y % 8][x % 8] <= 32 ? 1 : 0;
            EXPECT_EQ(out.indices[r * w + x], 36 * expected_level) << "x=" << x << " row=" << r;
        }
    }
}

}  // namespace
}  // namespace gifanim::test
