// The Win32 image codecs (GDI+), run under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bmp.h"
#include "platform/codecs.h"
#include "platform/picture.h"

namespace gifanim::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 37;  // odd, so that every 24-bit row carries padding
constexpr int kHeight = 23;

std::uint32_t get16(const Bytes& v, std::size_t at) { return v[at] | (v[at + 1] << 8); }
std::uint32_t get32(const Bytes& v, std::size_t at) { return get16(v, at) | (get16(v, at + 2) << 16); }

std::array<std::uint8_t, 3> colour_at(int x, int y) {  // red, green, blue; y from the top
    return {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 11), static_cast<std::uint8_t>(x ^ y)};
}

// A bottom-up BMP with a BITMAPINFOHEADER: 24 bits with many distinct colours, or 8 bits whose
// palette entry i is colour_at(i % kWidth, i / kWidth) and whose pixel (x, y) is entry (x + y) % 256.
Bytes make_bmp(int bits) {
    const std::size_t stride = ((kWidth * static_cast<std::size_t>(bits) + 31) / 32) * 4;
    const std::size_t palette = bits == 8 ? 256 * 4 : 0;
    const std::size_t offset = 54 + palette;
    const std::size_t size = offset + stride * kHeight;
    Bytes v(size, 0);
    auto put16 = [&](std::size_t at, std::uint32_t x) {
        v[at] = static_cast<std::uint8_t>(x);
        v[at + 1] = static_cast<std::uint8_t>(x >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t x) {
        put16(at, x & 0xFFFF);
        put16(at + 2, x >> 16);
    };
    v[0] = 'B';
    v[1] = 'M';
    put32(2, static_cast<std::uint32_t>(size));
    put32(10, static_cast<std::uint32_t>(offset));
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    put16(26, 1);
    put16(28, static_cast<std::uint32_t>(bits));
    put32(34, static_cast<std::uint32_t>(stride * kHeight));
    if (bits == 8) {
        put32(46, 256);
        for (int i = 0; i < 256; ++i) {
            const auto c = colour_at(i % kWidth, i / kWidth);
            v[54 + i * 4] = c[2];
            v[54 + i * 4 + 1] = c[1];
            v[54 + i * 4 + 2] = c[0];
        }
    }
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = v.data() + offset + stride * static_cast<std::size_t>(kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) {
            if (bits == 8) {
                row[x] = static_cast<std::uint8_t>((x + y) % 256);
                continue;
            }
            const auto c = colour_at(x, y);
            row[x * 3] = c[2];
            row[x * 3 + 1] = c[1];
            row[x * 3 + 2] = c[0];
        }
    }
    return v;
}

// The colour the picture of make_bmp(bits) has at (x, y), y from the top.
std::array<std::uint8_t, 3> expected_colour(int bits, int x, int y) {
    if (bits == 24) return colour_at(x, y);
    const int index = (x + y) % 256;
    return colour_at(index % kWidth, index / kWidth);
}

// Converts to BMP and compares every pixel with what make_bmp(bits) holds.
void expect_pixels_of(int bits, const Bytes& encoded) {
    Bytes bmp;
    ASSERT_TRUE(transcode(encoded, ImageFormat::bmp, bmp));
    Dib24 dib;
    ASSERT_EQ(decode_bmp(bmp, dib), LoadResult::ok);
    ASSERT_EQ(dib.width, kWidth);
    ASSERT_EQ(dib.height, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* row = dib.row(kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) {
            const auto c = expected_colour(bits, x, y);
            ASSERT_EQ(row[x * 3 + 2], c[0]) << x << ',' << y;
            ASSERT_EQ(row[x * 3 + 1], c[1]) << x << ',' << y;
            ASSERT_EQ(row[x * 3], c[2]) << x << ',' << y;
        }
    }
}

bool starts_with(const Bytes& v, std::string_view prefix) {
    return v.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), v.begin(),
                                                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}
bool ends_with(const Bytes& v, std::string_view suffix) {
    return v.size() >= suffix.size() && std::equal(suffix.begin(), suffix.end(), v.end() - suffix.size(),
                                                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

struct Case {
    ImageFormat format;
    std::string_view signature;
    std::string_view alternative;  // a second valid signature (TIFF's byte orders), or empty
};

constexpr std::array<Case, 5> kCases{{
    {ImageFormat::bmp, "BM", ""},
    {ImageFormat::jpeg, "\xFF\xD8\xFF", ""},
    {ImageFormat::gif, "GIF8", ""},
    {ImageFormat::tiff, std::string_view("II*\0", 4), std::string_view("MM\0*", 4)},
    {ImageFormat::png, "\x89PNG\r\n\x1A\n", ""},
}};

TEST(Win32Codecs, EncodesEveryFormatWithItsSignatureAndTheSameSize) {
    const Bytes true_colour = make_bmp(24);
    const Bytes palette = make_bmp(8);  // see GifKeepsEveryPixelOfAPalettePicture
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        Bytes encoded;
        ASSERT_TRUE(transcode(c.format == ImageFormat::gif ? palette : true_colour, c.format, encoded));
        EXPECT_TRUE(starts_with(encoded, c.signature) || (!c.alternative.empty() && starts_with(encoded, c.alternative)));

        // Decoding it again proves the whole file is there, and it keeps the picture's size.
        Bytes back;
        ASSERT_TRUE(transcode(encoded, ImageFormat::bmp, back));
        ASSERT_GE(back.size(), 54u);
        ASSERT_TRUE(starts_with(back, "BM"));
        EXPECT_EQ(get32(back, 18), static_cast<std::uint32_t>(kWidth));
        const auto height = static_cast<std::int32_t>(get32(back, 22));
        EXPECT_EQ(height < 0 ? -height : height, kHeight);
    }
}

// The stream's block is rounded up; the result must stop where the encoder stopped.
TEST(Win32Codecs, ResultHoldsExactlyTheEncodedFile) {
    const Bytes bmp = make_bmp(24);
    Bytes out;
    ASSERT_TRUE(transcode(bmp, ImageFormat::png, out));
    EXPECT_TRUE(ends_with(out, std::string_view("\0\0\0\0IEND\xAE\x42\x60\x82", 12)));
    ASSERT_TRUE(transcode(bmp, ImageFormat::jpeg, out));
    EXPECT_TRUE(ends_with(out, "\xFF\xD9"));
    ASSERT_TRUE(transcode(bmp, ImageFormat::bmp, out));
    ASSERT_GE(out.size(), 6u);
    EXPECT_EQ(get32(out, 2), out.size());
    const std::uint32_t stride = ((get32(out, 18) * get16(out, 28) + 31) / 32) * 4;
    const auto height = static_cast<std::int32_t>(get32(out, 22));
    EXPECT_EQ(out.size(), get32(out, 10) + stride * static_cast<std::uint32_t>(height < 0 ? -height : height));
}

TEST(Win32Codecs, LosslessFormatsKeepEveryPixel) {
    for (const ImageFormat format : {ImageFormat::png, ImageFormat::tiff, ImageFormat::bmp}) {
        SCOPED_TRACE(static_cast<int>(format));
        Bytes encoded;
        ASSERT_TRUE(transcode(make_bmp(24), format, encoded));
        expect_pixels_of(24, encoded);
    }
}

// True-colour pictures are not tried here: the GIF encoder of Wine's GDI+ writes no pixels for
// them (an image descriptor followed by the trailer), where Windows' reduces the colours.
TEST(Win32Codecs, GifKeepsEveryPixelOfAPalettePicture) {
    Bytes gif;
    ASSERT_TRUE(transcode(make_bmp(8), ImageFormat::gif, gif));
    EXPECT_TRUE(starts_with(gif, "GIF8"));
    EXPECT_TRUE(ends_with(gif, ";"));
    expect_pixels_of(8, gif);
}

TEST(Win32Codecs, RefusesWhatItCannotDecodeAndLeavesTheResultEmpty) {
    const std::string text = "this is plain text and no picture at all, however long it is made to be";
    const Bytes junk(text.begin(), text.end());
    const Bytes two_bytes{'B', 'M'};
    Bytes truncated = make_bmp(24);  // headers without pixels
    truncated.resize(30);
    for (const Bytes* input : std::array<const Bytes*, 3>{&junk, &two_bytes, &truncated}) {
        for (const Case& c : kCases) {
            Bytes out{1, 2, 3};
            EXPECT_FALSE(transcode(*input, c.format, out)) << input->size() << ' ' << static_cast<int>(c.format);
            EXPECT_TRUE(out.empty());
        }
    }
    Bytes out{1, 2, 3};
    EXPECT_FALSE(transcode({}, ImageFormat::png, out));
    EXPECT_TRUE(out.empty());
}

// The halves of a conversion, for the formats a caller decodes or encodes itself: GDI+ does GIF
// here, but the halves still work for every format.
TEST(Win32Codecs, DecodeAndEncodeApartKeepThePixels) {
    EXPECT_TRUE(platform_handles_gif());
    Dib24 picture;
    ASSERT_EQ(decode_image(make_bmp(24), picture), LoadResult::ok);
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    Bytes png;
    ASSERT_TRUE(encode_image(picture, ImageFormat::png, png));
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
    Dib24 back;
    ASSERT_EQ(decode_image(png, back), LoadResult::ok);
    ASSERT_EQ(back.height, kHeight);
    const auto bottom_left = colour_at(0, kHeight - 1);
    EXPECT_EQ(back.row(0)[2], bottom_left[0]);
    EXPECT_EQ(back.row(0)[1], bottom_left[1]);
    EXPECT_EQ(decode_image(Bytes{'n', 'o', 'p', 'e'}, back), LoadResult::undecodable);
}

}  // namespace
}  // namespace gifanim::platform
