#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "gif/colour_reduction.h"
#include "gif/lzw_encoder.h"
#include "platform/file.h"
#include "platform/picture.h"
#include "tests/unit/lzw_reference.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

// Top-down indices, width per row.
struct Indices {
    int width = 0, height = 0;
    std::vector<std::uint8_t> top_down;
};

std::vector<std::uint8_t> ours(const Indices& img, bool interlace, int bits = 8) {
    static LzwEncoder encoder;  // reused across images, as the maker does
    std::vector<std::uint8_t> out;
    encoder.encode(img.top_down.data(), img.width, img.height, img.width, bits, interlace, out);
    return out;
}

std::vector<std::uint8_t> reference(const Indices& img, bool interlace, int bits = 8) {
    const int row_length = ((img.width * 8 + 31) / 32) * 4;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(row_length) * img.height, 0xEE);
    for (int r = 0; r < img.height; ++r)
        std::copy_n(img.top_down.begin() + static_cast<std::ptrdiff_t>(r) * img.width, img.width,
                    rows.begin() + static_cast<std::ptrdiff_t>(img.height - 1 - r) * row_length);
    return reference_encode(rows, img.width, img.height, row_length, bits, interlace);
}

void expect_same(const Indices& img, const std::string& what) {
    for (bool interlace : {false, true}) {
        const auto a = ours(img, interlace);
        const auto b = reference(img, interlace);
        ASSERT_EQ(a.size(), b.size()) << what << " interlace=" << interlace;
        ASSERT_TRUE(a == b) << what << " interlace=" << interlace << ": first difference at byte "
                            << (std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    }
}

Indices random_image(int w, int h, unsigned colours, std::uint64_t seed) {
    Indices img{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h)};
    Lcg rng(seed);
    for (auto& p : img.top_down) p = static_cast<std::uint8_t>(rng.next() % colours);
    return img;
}

TEST(LzwEncoder, MatchesReferenceOnRandomImagesOfManyShapes) {
    std::uint64_t seed = 1;
    for (int w : {1, 2, 3, 7, 31, 64, 255, 256, 257}) {
        for (int h : {1, 2, 5, 17}) {
            for (unsigned colours : {1u, 2u, 16u, 256u}) {
                expect_same(random_image(w, h, colours, seed++),
                            std::to_string(w) + "x" + std::to_string(h) + " colours " + std::to_string(colours));
            }
        }
    }
}

TEST(LzwEncoder, MatchesReferenceOnNoiseThatForcesManyClears) {
    // 600 x 500 of full-range noise emits well over 4 * 3838 codes, so the dictionary is cleared
    // repeatedly at 12 bits.
    expect_same(random_image(600, 500, 256, 99), "noise 600x500");
    expect_same(random_image(1000, 300, 7, 5), "seven colours 1000x300");
}

TEST(LzwEncoder, MatchesReferenceOnLongRunsAndMixedRuns) {
    Indices flat{4000, 30, std::vector<std::uint8_t>(4000 * 30, 9)};
    expect_same(flat, "one colour 4000x30");

    // Runs of random lengths, some of them far longer than the longest run in the dictionary.
    Indices runs{1500, 200, {}};
    Lcg rng(7);
    while (runs.top_down.size() < 1500u * 200u) {
        const auto value = static_cast<std::uint8_t>(rng.next() % 6);
        std::size_t len = 1 + rng.next() % (rng.next() % 4 == 0 ? 5000 : 40);
        len = std::min(len, 1500u * 200u - runs.top_down.size());
        runs.top_down.insert(runs.top_down.end(), len, value);
    }
    expect_same(runs, "runs");

    // Alternating run values, where a run prefix meets other pixels at every step.
    Indices stripes{333, 90, {}};
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 333; ++x) stripes.top_down.push_back(static_cast<std::uint8_t>((x / (1 + y % 9)) % 3 * 100));
    expect_same(stripes, "stripes");
}

TEST(LzwEncoder, OnePixelIsClearPixelEndInOneSubBlock) {
    Indices one{1, 1, {0x2A}};
    const auto data = ours(one, false);
    // 9-bit codes 256, 42, 257 packed LSB first: 27 bits in 4 bytes.
    const std::vector<std::uint8_t> expected = {8, 4, 0x00, 0x55, 0x04, 0x04};
    EXPECT_EQ(data, expected);
    EXPECT_EQ(data, reference(one, false));
}

TEST(LzwEncoder, InterlacedHeightsOneToNineMatchReference) {
    for (int h = 1; h <= 9; ++h) {
        for (int w : {1, 3, 10}) {
            Indices img{w, h, {}};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) img.top_down.push_back(static_cast<std::uint8_t>(y * 16 + x));
            expect_same(img, "interlaced " + std::to_string(w) + "x" + std::to_string(h));
        }
    }
}

std::vector<int> gif_row_order(int height, bool interlace) {
    std::vector<int> rows;
    for_each_gif_row(height, interlace, [&](int r) { rows.push_back(r); });
    return rows;
}

TEST(LzwEncoder, RowOrderFollowsTheFourPasses) {
    EXPECT_EQ(gif_row_order(5, true), (std::vector<int>{0, 4, 2, 1, 3}));
    EXPECT_EQ(gif_row_order(3, true), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(gif_row_order(10, true), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
    EXPECT_EQ(gif_row_order(3, false), (std::vector<int>{0, 1, 2}));
}

TEST(LzwEncoder, SubBlocksAreFullExceptTheLast) {
    const auto data = ours(random_image(300, 200, 256, 3), false);
    ASSERT_EQ(data[0], 8);
    std::size_t pos = 1, blocks = 0;
    while (pos < data.size()) {
        const std::size_t len = data[pos];
        ASSERT_GT(len, 0u);
        if (pos + 1 + len < data.size()) {
            EXPECT_EQ(len, 255u) << "block " << blocks;
        }
        pos += 1 + len;
        ++blocks;
    }
    EXPECT_EQ(pos, data.size());
    EXPECT_GT(blocks, 100u);
}

TEST(LzwEncoder, SmallerCodeSizesMatchReference) {
    for (int bits : {1, 2, 4}) {
        const auto img = random_image(97, 41, 1u << bits, static_cast<std::uint64_t>(bits));
        EXPECT_EQ(ours(img, false, bits), reference(img, false, bits)) << bits << " bits";
        EXPECT_EQ(ours(img, true, bits), reference(img, true, bits)) << bits << " bits";
    }
}

TEST(LzwEncoder, MatchesReferenceOnScreenLikeFrames) {
    for (int seed = 0; seed < 3; ++seed) {
        platform::Dib24 dib;
        dib.allocate(640, 400);
        for (int y = 0; y < 400; ++y) {
            std::uint8_t* row = dib.row(399 - y);
            for (int x = 0; x < 640; ++x) {
                const Rgb c = screen_like_pixel(x + seed * 13, y, seed);
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            }
        }
        IndexedImage reduced;
        Unset<std::uint16_t> scratch;
        popularity_reduce(dib, reduced, scratch);
        expect_same({reduced.width, reduced.height, {reduced.indices.begin(), reduced.indices.end()}},
                    "screen-like " + std::to_string(seed));
    }
}

// Frames of the generated desktop corpus, when the test run provides it.
TEST(LzwEncoder, MatchesReferenceOnCorpusFrames) {
    const char* dir = std::getenv("GIFANIM_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "GIFANIM_CORPUS is not set";
    const std::filesystem::path base(dir);
    ASSERT_TRUE(std::filesystem::exists(base / "seq720" / "jpg")) << base;
    IndexedImage reduced;
    Unset<std::uint16_t> scratch;
    for (const char* name : {"000.jpg", "017.jpg", "042.jpg"}) {
        platform::File f = platform::File::open_read(base / "seq720" / "jpg" / name);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(f.size()));
        f.read(bytes);
        platform::Dib24 dib;
        ASSERT_EQ(platform::load_picture(bytes, dib), platform::LoadResult::ok) << name;
        popularity_reduce(dib, reduced, scratch);
        expect_same({reduced.width, reduced.height, {reduced.indices.begin(), reduced.indices.end()}}, name);
    }
}

}  // namespace
}  // namespace gifanim::test
