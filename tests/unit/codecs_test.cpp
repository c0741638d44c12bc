// Re-encoding through the POSIX codecs, every result judged by a decoder other than ours.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <time.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "gif/picture_loader.h"
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

// ---- Headers that promise far more than their data -------------------------------------------

using Bytes = std::vector<std::uint8_t>;

void put_be32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A PNG of 8-bit RGB or 1-bit grey pixels whose one IDAT chunk is `idat`.
Bytes png_file(std::uint32_t w, std::uint32_t h, bool one_bit, const Bytes& idat) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(one_bit ? 1 : 8), static_cast<std::uint8_t>(one_bit ? 0 : 2), 0, 0, 0});
    for (const auto& [type, data] : {std::pair{"IHDR", ihdr}, std::pair{"IDAT", idat}, std::pair{"IEND", Bytes{}}}) {
        put_be32(png, static_cast<std::uint32_t>(data.size()));
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        put_be32(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
    }
    return png;
}

// A JPEG of ours whose baseline frame header is patched to another size and marker.
Bytes jpeg_claiming(std::uint16_t w, std::uint16_t h, std::uint8_t sof_marker) {
    Bytes jpeg = imaging::Convert(test::make_bmp(64, 64, full_pixel), imaging::kJpeg);
    std::size_t i = 2;
    while (i + 9 < jpeg.size() && jpeg[i + 1] != 0xC0) i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    EXPECT_LT(i + 9, jpeg.size()) << "no baseline frame header";
    if (i + 9 >= jpeg.size()) return {};
    jpeg[i + 1] = sof_marker;
    for (const auto& [at, v] : {std::pair{5, h}, std::pair{7, w}})
        jpeg[i + at] = static_cast<std::uint8_t>(v >> 8), jpeg[i + at + 1] = static_cast<std::uint8_t>(v);
    return jpeg;
}

// A little-endian TIFF of one 8-bit grey strip of `data_bytes` bytes, whatever size it states.
Bytes tiff_claiming(std::uint32_t w, std::uint32_t h, std::uint16_t compression, std::uint32_t data_bytes) {
    const std::pair<std::uint16_t, std::uint32_t> tags[] = {
        {256, w}, {257, h}, {258, 8}, {259, compression}, {262, 1}, {273, 8 + 2 + 9 * 12 + 4}, {277, 1}, {278, h},
        {279, data_bytes}};
    Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    auto put = [&](std::uint32_t v, int n) {
        for (int k = 0; k < n; ++k) t.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    };
    for (const auto& [tag, value] : tags) put(tag, 2), put(4, 2), put(1, 4), put(value, 4);  // LONG values
    put(0, 4);
    t.resize(t.size() + data_bytes, 0);
    return t;
}

double seconds_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST(CodecsBombs, SizesOutOfProportionToTheirDataAreRefused) {
    // One stored deflate block of one zero byte behind a 16384 x 16384 header: 69 bytes.
    const Bytes one_byte = {0x78, 0x01, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01};
    ASSERT_EQ(png_file(16384, 16384, false, one_byte).size(), 69u);
    const std::pair<const char*, Bytes> bombs[] = {
        {"png", png_file(16384, 16384, false, one_byte)},
        {"1-bit png", png_file(30000, 30000, true, one_byte)},
        {"baseline jpeg", jpeg_claiming(30000, 30000, 0xC0)},
        {"progressive jpeg", jpeg_claiming(30000, 30000, 0xC2)},
        {"arithmetic jpeg", jpeg_claiming(30000, 30000, 0xC9)},
        {"uncompressed tiff", tiff_claiming(30000, 30000, COMPRESSION_NONE, 4096)},
        {"deflate tiff", tiff_claiming(30000, 30000, COMPRESSION_ADOBE_DEFLATE, 4096)},
        {"lzw tiff", tiff_claiming(32000, 32000, COMPRESSION_LZW, 4096)},
    };
    for (const auto& [what, file] : bombs) {
        // Refused fast and before the picture buffer exists: a decoder that allocated first would
        // spend seconds and gigabytes here, or be killed.
        Dib24 dib;
        const double start = seconds_now();
        EXPECT_EQ(decode_image(file, dib), LoadResult::implausible) << what;
        EXPECT_EQ(dib.capacity, 0u) << what;
        EXPECT_LT(seconds_now() - start, 0.5) << what;
        std::vector<std::uint8_t> out;
        EXPECT_EQ(imaging::convert_image(file, imaging::kPng, out), imaging::ConvertStatus::implausible) << what;
    }
}

TEST(CodecsBombs, TheDensestValidPngStillDecodes) {
    // 4200 x 4200 black 1-bit pixels, every byte of the filtered rows 0, deflated as tightly as
    // zlib can: about 7900 pixels a byte, beyond the size that always passes and just inside what
    // deflate allows.
    const Bytes raw((1 + (4200 + 7) / 8) * 4200, 0);
    uLongf size = compressBound(raw.size());
    Bytes idat(size);
    ASSERT_EQ(compress2(idat.data(), &size, raw.data(), raw.size(), 9), Z_OK);
    idat.resize(size);
    const Bytes dense = png_file(4200, 4200, true, idat);
    ASSERT_GT(4200.0 * 4200.0 / static_cast<double>(dense.size()), 7500.0) << dense.size();
    Dib24 dib;
    ASSERT_EQ(decode_image(dense, dib), LoadResult::ok) << dense.size() << " bytes";
    EXPECT_EQ(dib.width, 4200);
    EXPECT_EQ(dib.row(4199)[3 * 4199 + 2], 0);
}

// ---- TIFF decoded a band at a time --------------------------------------------------------------

// 1100 x 1000 pixels written by libtiff, in strips of `rows_per_strip` rows or tiles of 32 x 48:
// their raster (4.4 MB) takes more than one band.
Bytes band_tiff(std::uint32_t rows_per_strip, bool tiled, std::uint16_t orientation, std::uint16_t compression) {
    constexpr int w = 1100, h = 1000, tw = 32, th = 48;
    TempFile tmp("band.tif");
    TIFF* tif = TIFFOpen(tmp.path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    if (!tif) return {};
    for (const auto& [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, w}, {TIFFTAG_IMAGELENGTH, h}, {TIFFTAG_BITSPERSAMPLE, 8},
                                    {TIFFTAG_SAMPLESPERPIXEL, 3}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB},
                                    {TIFFTAG_ORIENTATION, orientation}, {TIFFTAG_COMPRESSION, compression}})
        TIFFSetField(tif, tag, value);
    if (tiled) TIFFSetField(tif, TIFFTAG_TILEWIDTH, tw), TIFFSetField(tif, TIFFTAG_TILELENGTH, th);
    else TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    // A block of pixels at (x0, y0), rows of `cols` pixels: a tile, or one scanline.
    auto block = [](int x0, int y0, int cols, int rows) {
        std::vector<std::uint8_t> b;
        for (int y = y0; y < y0 + rows; ++y)
            for (int x = x0; x < x0 + cols; ++x) {
                const Rgb p = full_pixel(x, y);
                b.insert(b.end(), {p.r, p.g, p.b});
            }
        return b;
    };
    for (int y = 0; y < h; y += tiled ? th : 1)
        for (int x = 0; x < (tiled ? w : 1); x += tw) {
            auto b = tiled ? block(x, y, tw, th) : block(0, y, w, 1);
            EXPECT_GE(tiled ? TIFFWriteTile(tif, b.data(), static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0)
                            : TIFFWriteScanline(tif, b.data(), static_cast<std::uint32_t>(y), 0),
                      0);
        }
    TIFFClose(tif);
    return tmp.read();
}

TEST(CodecsDecode, TiffBandsGiveWhatLibtiffGivesForTheWholePicture) {
    // The bands must join seamlessly whatever the strip height, for tiles, and for files whose
    // rows are stored bottom to top or right to left.
    const std::tuple<const char*, std::uint32_t, bool, std::uint16_t, std::uint16_t> cases[] = {
        {"strips of 7 rows", 7, false, ORIENTATION_TOPLEFT, COMPRESSION_NONE},
        {"strips of 300 rows, bottom to top", 300, false, ORIENTATION_BOTLEFT, COMPRESSION_ADOBE_DEFLATE},
        {"tiles, right to left", 0, true, ORIENTATION_TOPRIGHT, COMPRESSION_NONE},
        {"tiles, bottom to top", 0, true, ORIENTATION_BOTRIGHT, COMPRESSION_LZW},
    };
    for (const auto& [what, rows_per_strip, tiled, orientation, compression] : cases) {
        SCOPED_TRACE(what);
        const Bytes file = band_tiff(rows_per_strip, tiled, orientation, compression);
        const Decoded want = decode_with_libtiff(file);
        const Decoded got = decode_with_bmp(must_transcode(file, ImageFormat::bmp));
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        EXPECT_TRUE(got.pixels == want.pixels);
    }
}

}  // namespace
}  // namespace gifanim::platform
