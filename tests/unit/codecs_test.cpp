// Re-encoding through the POSIX codecs, every result judged by a decoder other than ours.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "imaging/convert.h"
#include "platform/bmp.h"
#include "platform/codecs.h"
#include "tests/unit/gif_oracle.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::platform {
namespace {

namespace fs = std::filesystem;
using test::Rgb;

struct Decoded {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top-down
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

std::vector<Rgb> expected_pixels(int w, int h, const test::PixelFn& f) {
    std::vector<Rgb> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) v.push_back(f(x, y));
    return v;
}

Decoded decode_with_bmp(const std::vector<std::uint8_t>& file) {
    Dib24 dib;
    Decoded d;
    EXPECT_EQ(decode_bmp(file, dib), LoadResult::ok);
    d.width = dib.width;
    d.height = dib.height;
    for (int y = 0; y < dib.height; ++y) {
        const std::uint8_t* row = dib.row(dib.height - 1 - y);
        for (int x = 0; x < dib.width; ++x) d.pixels.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return d;
}

Decoded decode_with_turbojpeg(const std::vector<std::uint8_t>& file) {
    Decoded d;
    tjhandle tj = tjInitDecompress();
    int subsamp = 0, cs = 0;
    auto* src = const_cast<unsigned char*>(file.data());
    if (tjDecompressHeader3(tj, src, file.size(), &d.width, &d.height, &subsamp, &cs) == 0) {
        EXPECT_EQ(subsamp, TJSAMP_420);
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(d.width) * d.height * 3);
        EXPECT_EQ(tjDecompress2(tj, src, file.size(), rgb.data(), d.width, 0, d.height, TJPF_RGB, 0), 0);
        for (std::size_t i = 0; i < rgb.size(); i += 3) d.pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    } else {
        ADD_FAILURE() << "libjpeg-turbo rejects the file: " << tjGetErrorStr2(tj);
    }
    tjDestroy(tj);
    return d;
}

Decoded decode_with_libpng(const std::vector<std::uint8_t>& file) {
    Decoded d;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        ADD_FAILURE() << "libpng rejects the file: " << image.message;
        return d;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    d.width = static_cast<int>(image.width);
    d.height = static_cast<int>(image.height);
    for (std::size_t i = 0; i < rgb.size(); i += 3) d.pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    return d;
}

// Temporary files for the decoders that want a path, each in a scratch folder of its own.
struct TempFile {
    test::ScratchDir folder;
    fs::path path;
    explicit TempFile(const char* name, const std::vector<std::uint8_t>& bytes = {})
        : folder(std::string("gifanim-codecs-") + name + "-"), path(folder.dir / name) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::uint8_t> read() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

Decoded decode_with_libtiff(const std::vector<std::uint8_t>& file) {
    Decoded d;
    TempFile tmp("read.tif", file);
    TIFF* tif = TIFFOpen(tmp.path.c_str(), "r");
    if (!tif) {
        ADD_FAILURE() << "libtiff rejects the file";
        return d;
    }
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
    EXPECT_TRUE(TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0));
    TIFFClose(tif);
    d.width = static_cast<int>(w);
    d.height = static_cast<int>(h);
    for (std::uint32_t p : raster)
        d.pixels.push_back({static_cast<std::uint8_t>(TIFFGetR(p)), static_cast<std::uint8_t>(TIFFGetG(p)),
                            static_cast<std::uint8_t>(TIFFGetB(p))});
    return d;
}

Decoded decode_with_giflib(const std::vector<std::uint8_t>& file) {
    Decoded d;
    TempFile tmp("read.gif", file);
    const test::OracleGif gif = test::oracle_decode(tmp.path);
    if (gif.frames.size() != 1) {
        ADD_FAILURE() << "expected one frame, giflib found " << gif.frames.size();
        return d;
    }
    const test::OracleFrame& f = gif.frames[0];
    EXPECT_EQ(gif.global_palette.size(), 768u);
    EXPECT_TRUE(f.local_palette.empty());
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.width, gif.width);
    EXPECT_EQ(f.height, gif.height);
    d.width = f.width;
    d.height = f.height;
    for (std::uint8_t i : f.pixels)
        d.pixels.push_back({gif.global_palette[3u * i], gif.global_palette[3u * i + 1], gif.global_palette[3u * i + 2]});
    return d;
}

// Through the conversion, which leaves GIF to the GIF library and the rest to the platform.
std::vector<std::uint8_t> must_transcode(const std::vector<std::uint8_t>& in, ImageFormat f) {
    std::vector<std::uint8_t> out = imaging::Convert(in, static_cast<int>(f));
    EXPECT_FALSE(out.empty()) << "format " << static_cast<int>(f);
    return out;
}

// Colours on the 4-bit grid, at most 256 of them, so a single GIF frame holds them exactly.
Rgb grid_pixel(int x, int y) {
    return {static_cast<std::uint8_t>((x * 3 % 16) << 4), static_cast<std::uint8_t>((y % 4) << 6),
            static_cast<std::uint8_t>(((x + y) % 4) << 4)};
}

// Any colour at all: the lossless formats must keep every bit.
Rgb full_pixel(int x, int y) { return test::screen_like_pixel(x, y, 7); }

// Odd widths exercise the row padding of the bottom-up buffers.
struct Size {
    int w, h;
};
constexpr Size kSizes[] = {{1, 1}, {7, 3}, {101, 37}, {64, 48}};

TEST(CodecsLossless, BmpPngTiffKeepEveryPixel) {
    for (const Size s : kSizes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const auto source = test::make_bmp(s.w, s.h, full_pixel);
        const auto want = expected_pixels(s.w, s.h, full_pixel);
        for (auto [format, decode] : {std::pair{ImageFormat::bmp, &decode_with_bmp},
                                      std::pair{ImageFormat::png, &decode_with_libpng},
                                      std::pair{ImageFormat::tiff, &decode_with_libtiff}}) {
            SCOPED_TRACE(static_cast<int>(format));
            const Decoded d = decode(must_transcode(source, format));
            EXPECT_EQ(d.width, s.w);
            EXPECT_EQ(d.height, s.h);
            EXPECT_TRUE(d.pixels == want);
        }
    }
}

TEST(CodecsLossless, BmpFileIsExactly24BitWithZeroPadding) {
    // A 32-bit source puts data where the 24-bit rows of the copy have padding.
    const auto out = must_transcode(test::make_bmp(7, 3, full_pixel, 32, true), ImageFormat::bmp);
    const std::size_t stride = 24;  // 7 * 3 = 21, padded to 24
    ASSERT_EQ(out.size(), 54 + stride * 3);
    auto u32 = [&](std::size_t at) { return out[at] | out[at + 1] << 8 | out[at + 2] << 16 | out[at + 3] << 24; };
    EXPECT_EQ(out[0], 'B');
    EXPECT_EQ(out[1], 'M');
    EXPECT_EQ(u32(2), out.size());
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 7u);
    EXPECT_EQ(u32(22), 3u);  // positive height: bottom-up
    EXPECT_EQ(out[28], 24);
    EXPECT_EQ(u32(34), stride * 3);
    for (int r = 0; r < 3; ++r)
        for (std::size_t i = 21; i < stride; ++i) EXPECT_EQ(out[54 + r * stride + i], 0) << "row " << r;
    // The first row in the file is the bottom one.
    const Rgb bottom_left = full_pixel(0, 2);
    EXPECT_EQ(out[54], bottom_left.b);
    EXPECT_EQ(out[55], bottom_left.g);
    EXPECT_EQ(out[56], bottom_left.r);
}

TEST(CodecsJpeg, DecodesToSameSizeAndNearColours) {
    // Flat 8x8-aligned blocks survive quality 75 within a few levels; a flipped image would not.
    auto blocks = [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x < 32 ? 230 : 20), static_cast<std::uint8_t>(y < 16 ? 200 : 40),
                   static_cast<std::uint8_t>(x < 32 && y >= 16 ? 180 : 60)};
    };
    for (const Size s : {Size{64, 32}, Size{101, 37}}) {
        SCOPED_TRACE(s.w);
        const Decoded d = decode_with_turbojpeg(must_transcode(test::make_bmp(s.w, s.h, blocks), ImageFormat::jpeg));
        ASSERT_EQ(d.width, s.w);
        ASSERT_EQ(d.height, s.h);
        for (auto [x, y] : {std::pair{4, 4}, std::pair{44, 4}, std::pair{4, 28}, std::pair{44, 28}}) {
            const Rgb want = blocks(x, y), got = d.at(x, y);
            EXPECT_NEAR(got.r, want.r, 8) << x << "," << y;
            EXPECT_NEAR(got.g, want.g, 8) << x << "," << y;
            EXPECT_NEAR(got.b, want.b, 8) << x << "," << y;
        }
    }
}

TEST(CodecsGif, OneFrameWithGridColoursIsExact) {
    for (const Size s : kSizes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const auto gif = must_transcode(test::make_bmp(s.w, s.h, grid_pixel), ImageFormat::gif);
        ASSERT_GE(gif.size(), 13u + 768 + 10 + 2);
        EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
        EXPECT_EQ(gif[10], 0xF7);
        EXPECT_EQ(gif[13 + 768], 0x2C);
        EXPECT_EQ(gif[13 + 768 + 9], 0x07);
        EXPECT_EQ(gif[gif.size() - 2], 0x00);
        EXPECT_EQ(gif.back(), 0x3B);
        const Decoded d = decode_with_giflib(gif);
        EXPECT_EQ(d.width, s.w);
        EXPECT_EQ(d.height, s.h);
        EXPECT_TRUE(d.pixels == expected_pixels(s.w, s.h, grid_pixel));
    }
}

TEST(CodecsDecode, EveryFormatReadsBack) {
    // Our outputs as inputs: the TIFF goes through libtiff, the others through the picture loader.
    const auto source = test::make_bmp(101, 37, grid_pixel);
    const auto want = expected_pixels(101, 37, grid_pixel);
    for (ImageFormat f : {ImageFormat::bmp, ImageFormat::png, ImageFormat::tiff, ImageFormat::gif}) {
        SCOPED_TRACE(static_cast<int>(f));
        const Decoded d = decode_with_bmp(must_transcode(must_transcode(source, f), ImageFormat::bmp));
        EXPECT_EQ(d.width, 101);
        EXPECT_EQ(d.height, 37);
        EXPECT_TRUE(d.pixels == want);
    }
    const Decoded j = decode_with_bmp(must_transcode(must_transcode(source, ImageFormat::jpeg), ImageFormat::bmp));
    EXPECT_EQ(j.width, 101);
    EXPECT_EQ(j.height, 37);
}

TEST(CodecsDecode, ForeignBigEndianTiff) {
    // Written by libtiff itself, big-endian and in strips of two rows, as another program would.
    TempFile tmp("foreign.tif");
    TIFF* tif = TIFFOpen(tmp.path.c_str(), "wb");
    ASSERT_NE(tif, nullptr);
    const int w = 13, h = 5;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
    for (int y = 0; y < h; ++y) {
        std::vector<std::uint8_t> line;
        for (int x = 0; x < w; ++x) {
            const Rgb p = full_pixel(x, y);
            line.insert(line.end(), {p.r, p.g, p.b});
        }
        ASSERT_EQ(TIFFWriteScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0), 1);
    }
    TIFFClose(tif);
    const auto bytes = tmp.read();
    ASSERT_EQ(bytes[0], 'M');
    const Decoded d = decode_with_bmp(must_transcode(bytes, ImageFormat::bmp));
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_TRUE(d.pixels == expected_pixels(w, h, full_pixel));
}

TEST(CodecsDecode, UndecodableBytesGiveFalseAndNothing) {
    const auto png = must_transcode(test::make_bmp(16, 16, full_pixel), ImageFormat::png);
    const auto tiff = must_transcode(test::make_bmp(16, 16, full_pixel), ImageFormat::tiff);
    const std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {'I', 'I'},
        {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'},
        {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3},
        {'M', 'M', 0, 42, 0, 0, 0, 8},
        std::vector<std::uint8_t>(png.begin(), png.begin() + 40),
        std::vector<std::uint8_t>(tiff.begin(), tiff.begin() + 8),
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        std::vector<std::uint8_t> out = {1, 2, 3};
        EXPECT_FALSE(transcode(bad[i], ImageFormat::png, out)) << "case " << i;
        EXPECT_TRUE(out.empty()) << "case " << i;
    }
}

}  // namespace
}  // namespace gifanim::platform
