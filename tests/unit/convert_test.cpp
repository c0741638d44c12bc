// Conversion rules and BMP packing that hold on every platform.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/grab.h"
#include "imaging/convert.h"
#include "platform/bmp.h"
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
    const fs::path dir = fs::temp_directory_path() / "gifanim-convert-test";
    fs::create_directories(dir);
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
    fs::remove_all(dir);
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
    // 100 x 50 at 32 bits: 20,054 bytes.
    platform::ScreenPixels px;
    px.bits_per_pixel = 32;
    px.rows.assign(400 * 50, 0x11);
    Bytes bmp;
    capture::pack_bmp(100, 50, px, bmp);
    ASSERT_EQ(bmp.size(), 20054u);
    const Bytes header = {'B', 'M', 0x56, 0x4E, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 100, 0, 0, 0, 50, 0, 0, 0, 1, 0, 32, 0};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bmp.begin()));
    EXPECT_TRUE(std::all_of(bmp.begin() + 30, bmp.begin() + 54, [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(bmp[54], 0x11);

    // Width 101 at 24 bits: rows of 304 bytes, decoded exactly.
    platform::ScreenPixels rgb;
    rgb.bits_per_pixel = 24;
    rgb.rows.assign(304 * 3, 0);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 101; ++x) {
            std::uint8_t* p = rgb.rows.data() + 304 * r + 3 * x;
            p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(r), p[2] = 200;
        }
    platform::Dib24 dib;
    Bytes packed;
    capture::pack_bmp(101, 3, rgb, packed);
    ASSERT_EQ(packed.size(), 54u + 912u);
    ASSERT_EQ(platform::decode_bmp(packed, dib), platform::LoadResult::ok);
    EXPECT_EQ(dib.row(0)[3 * 100], 100);  // first stored row is the bottom screen row
    EXPECT_EQ(dib.row(2)[3 * 5 + 1], 2);

    // Nothing to grab in an empty rectangle, whatever the format.
    for (int format : {0, 1, 2, 7}) {
        EXPECT_TRUE(capture::GrabRegion({10, 10, 10, 20}, format, false).empty());
        EXPECT_TRUE(capture::GrabRegion({10, 10, 20, 10}, format, true).empty());
        EXPECT_TRUE(capture::GrabRegion({20, 10, 10, 20}, format, true).empty());
    }
}

}  // namespace
}  // namespace gifanim::test
