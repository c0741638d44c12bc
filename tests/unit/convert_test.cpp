// Conversion rules and BMP packing that hold on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/grab.h"
#include "gif/colour_reduction.h"
#include "gif/lzw_encoder.h"
#include "gif/still_gif.h"
#include "imaging/convert.h"
#include "platform/bmp.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(Convert, ShortInputsAndUnknownFormats) {
    const Bytes two = {'B', 'M'};
    for (int format = 0; format <= 6; ++format) EXPECT_TRUE(imaging::Convert(two, format).empty()) << format;
    const Bytes junk = {1, 2, 3, 4, 5};
    EXPECT_EQ(imaging::Convert(junk, 0), junk);
    EXPECT_EQ(imaging::Convert(junk, 6), junk);
    EXPECT_EQ(imaging::Convert(junk, -1), junk);
    for (int format = 1; format <= 5; ++format) EXPECT_TRUE(imaging::Convert(junk, format).empty()) << format;
}

TEST(Convert, BmpBecomesEveryFormatAndTheDestinationGetsItsExtension) {
    const Bytes bmp = make_bmp(31, 17, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(y * 15), 77}; });
    const std::pair<int, Bytes> signatures[] = {
        {imaging::kBmp, {'B', 'M'}}, {imaging::kJpeg, {0xFF, 0xD8}}, {imaging::kGif, {'G', 'I', 'F', '8'}},
        {imaging::kTiff, {}}, {imaging::kPng, {0x89, 'P', 'N', 'G'}}};
    const ScratchDir scratch("gifanim-convert-");
    const fs::path& dir = scratch.dir;
    for (const auto& [format, signature] : signatures) {
#ifdef _WIN32
        // Wine's GIF encoder writes a header and no image; on Windows proper this format works.
        if (format == imaging::kGif && std::getenv("WINEPREFIX")) continue;
#endif
        Bytes out;
        ASSERT_TRUE(imaging::Convert(bmp, format, dir / "Picture", out)) << format;
        ASSERT_GE(out.size(), 8u);
        EXPECT_TRUE(std::equal(signature.begin(), signature.end(), out.begin())) << format;
        if (format == imaging::kTiff) {
            EXPECT_TRUE((out[0] == 'I' && out[1] == 'I') || (out[0] == 'M' && out[1] == 'M'));
        }
        // Back to BMP: the same size.
        const Bytes back = imaging::Convert(out, imaging::kBmp);
        platform::Dib24 dib;
        ASSERT_EQ(platform::decode_bmp(back, dib), platform::LoadResult::ok) << format;
        EXPECT_EQ(dib.width, 31);
        EXPECT_EQ(dib.height, 17);
        // The file got the format's extension, and holds the bytes.
        const fs::path written = dir / ("Picture" + std::string(imaging::extension_of(format)));
        std::ifstream in(written, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), out) << written;
    }
}

TEST(Convert, AFileThatCannotBeWrittenIsAFailureNotAnException) {
    const Bytes bmp = make_bmp(4, 4, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 9}; });
    const ScratchDir scratch("gifanim-convert-");
    Bytes out = {1, 2, 3};
    EXPECT_FALSE(imaging::Convert(bmp, imaging::kPng, scratch.dir / "missing" / "folder" / "x", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(imaging::Convert(bmp, 0, scratch.dir / "missing" / "x", out));  // the copy, not written
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(imaging::Convert(bmp, 0, scratch.dir / "x", out));
    EXPECT_EQ(out, bmp);
}

TEST(Convert, ExtensionRule) {
    EXPECT_EQ(imaging::with_extension("a/b.JPG", imaging::kJpeg), fs::path("a/b.JPG"));
    EXPECT_EQ(imaging::with_extension("b.jpeg", imaging::kJpeg), fs::path("b.jpeg.jpg"));
    EXPECT_EQ(imaging::with_extension("b.Tiff", imaging::kTiff), fs::path("b.Tiff"));
    EXPECT_EQ(imaging::with_extension("b.tif", imaging::kTiff), fs::path("b.tif.tiff"));
    EXPECT_EQ(imaging::with_extension("png", imaging::kPng), fs::path("png.png"));
    EXPECT_EQ(imaging::with_extension("x.bmp.gif", imaging::kGif), fs::path("x.bmp.gif"));
}

TEST(GrabRegion, BmpLayoutOfScreenPixels) {
    // 100 x 50 at 32 bits: 20,054 bytes, the headers written into the room in front of the rows.
    platform::ScreenPixels px;
    px.bits_per_pixel = 32;
    px.offset = 54;
    px.data.assign(54 + 400 * 50, 0x11);
    std::fill_n(px.data.begin(), 54, 0);
    ASSERT_TRUE(capture::pack_bmp(100, 50, px));
    const Bytes& bmp = px.data;
    ASSERT_EQ(bmp.size(), 20054u);
    const Bytes header = {'B', 'M', 0x56, 0x4E, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 100, 0, 0, 0, 50, 0, 0, 0, 1, 0, 32, 0};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bmp.begin()));
    EXPECT_TRUE(std::all_of(bmp.begin() + 30, bmp.begin() + 54, [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(bmp[54], 0x11);

    // Width 101 at 24 bits: rows of 304 bytes, decoded exactly.
    platform::ScreenPixels rgb;
    rgb.bits_per_pixel = 24;
    rgb.offset = 54;
    rgb.data.assign(54 + 304 * 3, 0);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 101; ++x) {
            std::uint8_t* p = rgb.data.data() + 54 + 304 * r + 3 * x;
            p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(r), p[2] = 200;
        }
    platform::Dib24 dib;
    ASSERT_TRUE(capture::pack_bmp(101, 3, rgb));
    ASSERT_EQ(rgb.data.size(), 54u + 912u);
    ASSERT_EQ(platform::decode_bmp(rgb.data, dib), platform::LoadResult::ok);
    EXPECT_EQ(dib.row(0)[3 * 100], 100);  // first stored row is the bottom screen row
    EXPECT_EQ(dib.row(2)[3 * 5 + 1], 2);

    // Nothing to grab in an empty rectangle, whatever the format.
    for (int format : {0, 1, 2, 7}) {
        EXPECT_TRUE(capture::GrabRegion({10, 10, 10, 20}, format, false).empty());
        EXPECT_TRUE(capture::GrabRegion({10, 10, 20, 10}, format, true).empty());
        EXPECT_TRUE(capture::GrabRegion({20, 10, 10, 20}, format, true).empty());
    }
}

// The still GIF of a conversion, written out field by field as a plain reference: header, the
// popularity palette as the global table, one descriptor at (0, 0) with no local table and rows in
// order, the LZW data, trailer.
Bytes reference_still_gif(const platform::Dib24& dib) {
    IndexedImage indexed;
    Unset<std::uint16_t> bins;
    popularity_reduce(dib, indexed, bins);
    Bytes file = {'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](int v) {
        file.push_back(static_cast<std::uint8_t>(v));
        file.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    word(dib.width);
    word(dib.height);
    file.insert(file.end(), {0xF7, 0, 0});  // global table of 256 colours; background 0; no aspect
    file.insert(file.end(), indexed.palette.begin(), indexed.palette.end());
    file.push_back(0x2C);
    word(0);
    word(0);
    word(dib.width);
    word(dib.height);
    file.push_back(0x07);
    LzwEncoder encoder;
    encoder.encode(indexed.indices.data(), dib.width, dib.height, dib.width, 8, false, file);
    file.insert(file.end(), {0x00, 0x3B});
    return file;
}

TEST(StillGif, TheOneFrameLayoutByteForByte) {
    struct Case {
        int w, h;
        PixelFn pixel;
    };
    const Case cases[] = {
        {1, 1, [](int, int) { return Rgb{10, 20, 30}; }},
        {7, 3, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x * 36), static_cast<std::uint8_t>(y * 80), 5}; }},
        {101, 37, [](int x, int y) { return screen_like_pixel(x, y, 3); }},
        {640, 480, [](int x, int y) { return screen_like_pixel(x, y, 11); }},  // far more than 256 colours
    };
    for (const Case& c : cases) {
        platform::Dib24 dib;
        ASSERT_EQ(platform::decode_bmp(make_bmp(c.w, c.h, c.pixel), dib), platform::LoadResult::ok);
        EXPECT_EQ(encode_still_gif(dib), reference_still_gif(dib)) << c.w << "x" << c.h;
    }
}

}  // namespace
}  // namespace gifanim::test
