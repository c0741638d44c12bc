#include <gtest/gtest.h>

#include <array>

#include "platform/bmp.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

using platform::Dib24;
using platform::LoadResult;

Rgb at(const Dib24& dib, int x, int y) {  // y = 0 at the top
    const std::uint8_t* p = dib.row(dib.height - 1 - y) + 3 * x;
    return {p[2], p[1], p[0]};
}

void expect_image(const std::vector<std::uint8_t>& bmp, int w, int h, const PixelFn& fn, const std::string& what) {
    Dib24 dib;
    ASSERT_EQ(platform::decode_bmp(bmp, dib), LoadResult::ok) << what;
    ASSERT_EQ(dib.width, w) << what;
    ASSERT_EQ(dib.height, h) << what;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(at(dib, x, y), fn(x, y)) << what << " at " << x << "," << y;
}

const PixelFn kPattern = [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 37 + y), static_cast<std::uint8_t>(y * 11), static_cast<std::uint8_t>(x ^ y)};
};

TEST(BmpDecoder, TrueColourBottomUpAndTopDown) {
    for (int bits : {24, 32})
        for (bool top_down : {false, true})
            for (int w : {1, 3, 5, 8}) {
                expect_image(make_bmp(w, 4, kPattern, bits, top_down), w, 4, kPattern,
                             std::to_string(bits) + " bits, top_down " + std::to_string(top_down) + ", width " +
                                 std::to_string(w));
            }
}

TEST(BmpDecoder, PalettedDepths) {
    const std::vector<Rgb> table = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};
    for (int bits : {1, 4, 8}) {
        const int colours = bits == 1 ? 2 : 5;
        const int w = 13, h = 3;
        std::vector<std::uint8_t> idx;
        for (int i = 0; i < w * h; ++i) idx.push_back(static_cast<std::uint8_t>((i * 7) % colours));
        const std::vector<Rgb> used(table.begin(), table.begin() + colours);
        const PixelFn fn = [&](int x, int y) { return table[idx[static_cast<std::size_t>(y) * w + x]]; };
        expect_image(make_paletted_bmp(w, h, bits, used, idx), w, h, fn, std::to_string(bits) + " bits");
        expect_image(make_paletted_bmp(w, h, bits, used, idx, true), w, h, fn, std::to_string(bits) + " bits top-down");
    }
}

TEST(BmpDecoder, SixteenBitsAndBitfields) {
    // 5-6-5 in 16 bits: full-scale channels become 255, zero stays 0.
    const auto bmp = make_bitfields_bmp(3, 1, 16, 0xF800, 0x07E0, 0x001F, {0xF800, 0x07E0, 0x001F});
    expect_image(bmp, 3, 1, [](int x, int) { return x == 0 ? Rgb{255, 0, 0} : x == 1 ? Rgb{0, 255, 0} : Rgb{0, 0, 255}; },
                 "565");
    // Unusual 32-bit masks: red in the low byte, blue in the high byte.
    const auto bmp32 = make_bitfields_bmp(2, 2, 32, 0x000000FF, 0x0000FF00, 0xFF000000, {0x11, 0x2200, 0x33000000, 0xFFFFFFFF});
    expect_image(bmp32, 2, 2,
                 [](int x, int y) {
                     const Rgb v[4] = {{0x11, 0, 0}, {0, 0x22, 0}, {0, 0, 0x33}, {255, 255, 255}};
                     return v[y * 2 + x];
                 },
                 "32-bit masks");
}

TEST(BmpDecoder, BrokenFilesAreRefusedWithoutReadingPastTheEnd) {
    const auto good = make_bmp(10, 10, kPattern);
    Dib24 dib;
    // Cut anywhere inside the pixel data (a missing final row padding is tolerated).
    for (std::size_t cut : {std::size_t{0}, std::size_t{20}, std::size_t{53}, std::size_t{54}, good.size() - 40}) {
        std::vector<std::uint8_t> b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(platform::decode_bmp(b, dib), LoadResult::undecodable) << cut;
    }
    std::vector<std::uint8_t> no_padding(good.begin(), good.end() - 2);
    EXPECT_EQ(platform::decode_bmp(no_padding, dib), LoadResult::ok);

    auto patched = [&](std::size_t at, std::uint32_t v) {
        auto b = good;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    EXPECT_EQ(platform::decode_bmp(patched(18, 0), dib), LoadResult::undecodable);         // width 0
    EXPECT_EQ(platform::decode_bmp(patched(18, 70000), dib), LoadResult::too_large);      // wider than a GIF
    EXPECT_EQ(platform::decode_bmp(patched(18, 0x7FFFFFFF), dib), LoadResult::too_large);
    EXPECT_EQ(platform::decode_bmp(patched(22, 0x80000000), dib), LoadResult::too_large);  // INT_MIN height
    EXPECT_EQ(platform::decode_bmp(patched(18, 60000), dib), LoadResult::undecodable);    // data far too short
    EXPECT_EQ(platform::decode_bmp(patched(10, 0xFFFFFFF0), dib), LoadResult::undecodable);  // pixels past the end
    EXPECT_EQ(platform::decode_bmp(patched(14, 0xFFFFFFFF), dib), LoadResult::undecodable);  // header size
    EXPECT_EQ(platform::decode_bmp(patched(30, 1), dib), LoadResult::undecodable);           // run-length data
    auto bad_depth = good;
    bad_depth[28] = 7;
    EXPECT_EQ(platform::decode_bmp(bad_depth, dib), LoadResult::undecodable);

    // A colour table that runs past the end of the file.
    auto paletted = make_paletted_bmp(4, 4, 8, {{1, 2, 3}}, std::vector<std::uint8_t>(16, 0));
    for (int i = 0; i < 4; ++i) paletted[46 + i] = i == 0 ? 200 : 0;
    EXPECT_EQ(platform::decode_bmp(paletted, dib), LoadResult::undecodable);
}

TEST(BmpDecoder, RandomDamageNeverCrashes) {
    const auto good = make_paletted_bmp(9, 7, 4, {{1, 2, 3}, {4, 5, 6}}, std::vector<std::uint8_t>(63, 1));
    Lcg rng(5);
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        auto b = good;
        for (int k = 0; k < 3; ++k) b[rng.next() % b.size()] = static_cast<std::uint8_t>(rng.next());
        b.resize(rng.next() % (b.size() + 1));
        Dib24 dib;
        if (platform::decode_bmp(b, dib) == LoadResult::ok) {
            ++decoded;
            EXPECT_GT(dib.width, 0);
            EXPECT_GT(dib.height, 0);
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(BmpHeaders, FieldsAndTheFourGibLimit) {
    std::array<std::uint8_t, platform::kBmpHeadersSize> h{};
    // A top-down 4-bit picture with a colour table of 16 entries in front of its pixels.
    ASSERT_TRUE(platform::write_bmp_headers(h, 5, -3, 4, 16, 12, 54 + 64));
    auto u32 = [&](std::size_t at) { return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<std::uint32_t>(h[at + 3]) << 24; };
    EXPECT_EQ(u32(2), 54u + 64 + 4 * 3);  // rows of 5 nibbles padded to 4 bytes
    EXPECT_EQ(u32(10), 118u);
    EXPECT_EQ(static_cast<std::int32_t>(u32(22)), -3);
    EXPECT_EQ(h[28], 4);
    EXPECT_EQ(u32(34), 12u);
    EXPECT_EQ(u32(46), 16u);

    // 2^32 - 1 is the largest size the field holds: 32-bit rows of 16383 pixels (65532 bytes).
    const std::uint64_t rows_that_fit = (0xFFFFFFFFull - 54) / 65532;
    EXPECT_EQ(platform::bmp_file_size(16383, rows_that_fit, 32, 54), 54 + 65532 * rows_that_fit);
    EXPECT_FALSE(platform::bmp_file_size(16383, rows_that_fit + 1, 32, 54));
    EXPECT_FALSE(platform::bmp_file_size(0xFFFFFFFFull, 0xFFFFFFFFull, 32, 54));  // a plain product would wrap
    h.fill(0xEE);
    EXPECT_FALSE(platform::write_bmp_headers(h, 40000, 30000, 32, 0, 0, 54));
    EXPECT_EQ(h[0], 0xEE) << "nothing written";
}

}  // namespace
}  // namespace gifanim::test
