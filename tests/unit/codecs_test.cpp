// Re-encoding through the POSIX codecs, every result judged by a decoder other than ours.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <time.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

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

void put_png_chunk(Bytes& png, const char* type, const Bytes& data) {
    put_be32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = start; i < png.size(); ++i) {
        c ^= png[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    put_be32(png, ~c);
}

// A PNG of the given size whose IDAT is `idat`, in 1-bit grey or 8-bit RGB.
Bytes png_file(std::uint32_t w, std::uint32_t h, bool one_bit, const Bytes& idat) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(one_bit ? 1 : 8), static_cast<std::uint8_t>(one_bit ? 0 : 2),
                             0, 0, 0});
    put_png_chunk(png, "IHDR", ihdr);
    put_png_chunk(png, "IDAT", idat);
    put_png_chunk(png, "IEND", {});
    return png;
}

// A JPEG of ours with the frame header's size (and on request its marker) patched.
Bytes jpeg_claiming(std::uint16_t w, std::uint16_t h, std::uint8_t sof_marker) {
    Bytes jpeg = imaging::Convert(test::make_bmp(64, 64, full_pixel), imaging::kJpeg);
    for (std::size_t i = 2; i + 9 < jpeg.size();) {
        EXPECT_EQ(jpeg[i], 0xFF);
        if (jpeg[i + 1] == 0xC0) {
            jpeg[i + 1] = sof_marker;
            jpeg[i + 5] = static_cast<std::uint8_t>(h >> 8), jpeg[i + 6] = static_cast<std::uint8_t>(h);
            jpeg[i + 7] = static_cast<std::uint8_t>(w >> 8), jpeg[i + 8] = static_cast<std::uint8_t>(w);
            return jpeg;
        }
        i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    ADD_FAILURE() << "no baseline frame header";
    return jpeg;
}

// A little-endian TIFF of one 8-bit grey strip of `data_bytes` bytes, however large it says it is.
Bytes tiff_claiming(std::uint32_t w, std::uint32_t h, std::uint16_t compression, std::uint32_t data_bytes) {
    Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](std::uint16_t v) { t.insert(t.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); };
    auto u32 = [&](std::uint32_t v) { u16(static_cast<std::uint16_t>(v)), u16(static_cast<std::uint16_t>(v >> 16)); };
    const std::uint16_t entries = 9;
    const std::uint32_t data_at = 8 + 2 + entries * 12 + 4;
    u16(entries);
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        u16(tag), u16(type), u32(1);
        if (type == 3) u16(static_cast<std::uint16_t>(value)), u16(0);
        else u32(value);
    };
    entry(256, 4, w);
    entry(257, 4, h);
    entry(258, 3, 8);
    entry(259, 3, compression);
    entry(262, 3, 1);  // black is zero
    entry(273, 4, data_at);
    entry(277, 3, 1);
    entry(278, 4, h);
    entry(279, 4, data_bytes);
    u32(0);
    t.resize(t.size() + data_bytes, 0);
    return t;
}

// Refused, fast and before the picture buffer exists: a decoder that allocated first would spend
// seconds and gigabytes here (or be killed).
double seconds_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void expect_refused(const Bytes& file, const std::string& what) {
    Dib24 dib;
    const double start = seconds_now();
    EXPECT_EQ(decode_image(file, dib), LoadResult::implausible) << what;
    EXPECT_EQ(dib.capacity, 0u) << what;
    EXPECT_LT(seconds_now() - start, 0.5) << what;
    std::vector<std::uint8_t> out;
    EXPECT_EQ(imaging::convert_image(file, imaging::kPng, out), imaging::ConvertStatus::implausible) << what;
    EXPECT_TRUE(out.empty()) << what;
}

TEST(CodecsBombs, SizesOutOfProportionToTheirDataAreRefused) {
    // One stored deflate block of one zero byte behind a 16384 x 16384 header: 69 bytes.
    const Bytes one_byte = {0x78, 0x01, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01};
    const Bytes png = png_file(16384, 16384, false, one_byte);
    ASSERT_EQ(png.size(), 69u);
    expect_refused(png, "png");
    expect_refused(png_file(30000, 30000, true, one_byte), "1-bit png");
    expect_refused(jpeg_claiming(30000, 30000, 0xC0), "baseline jpeg");
    expect_refused(jpeg_claiming(30000, 30000, 0xC2), "progressive jpeg");
    expect_refused(jpeg_claiming(30000, 30000, 0xC9), "arithmetic jpeg");
    expect_refused(tiff_claiming(30000, 30000, COMPRESSION_NONE, 4096), "uncompressed tiff");
    expect_refused(tiff_claiming(30000, 30000, COMPRESSION_ADOBE_DEFLATE, 4096), "deflate tiff");
    expect_refused(tiff_claiming(32000, 32000, COMPRESSION_LZW, 4096), "lzw tiff");
}

TEST(CodecsBombs, TheDensestValidFilesStillDecode) {
    // 4200 x 4200 black 1-bit pixels, every byte of the filtered rows 0 and deflated as tightly as
    // zlib can: about 8200 pixels a byte, beyond the size that always passes and just inside what
    // deflate allows.
    const std::size_t row = 1 + (4200 + 7) / 8;
    const std::vector<std::uint8_t> raw(row * 4200, 0);
    // Written with libpng's full interface: its simplified one has no 1-bit pixels.
    TempFile tmp("dense.png");
    {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        FILE* f = std::fopen(tmp.path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        png_init_io(png, f);
        png_set_compression_level(png, 9);
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_IHDR(png, info, 4200, 4200, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (std::size_t r = 0; r < 4200; ++r) png_write_row(png, raw.data() + r * row + 1);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    const Bytes dense = tmp.read();
    ASSERT_GT(4200.0 * 4200.0 / static_cast<double>(dense.size()), 7500.0) << dense.size();
    Dib24 dib;
    ASSERT_EQ(decode_image(dense, dib), LoadResult::ok) << dense.size() << " bytes";
    EXPECT_EQ(dib.width, 4200);
    EXPECT_EQ(dib.row(0)[0], 0);
    EXPECT_EQ(dib.row(4199)[3 * 4199 + 2], 0);
}

// ---- TIFF decoded a band at a time --------------------------------------------------------------

// A TIFF written by libtiff: strips of `rows_per_strip` rows, or tiles of 32 x 48 when tiled.
Bytes foreign_tiff(int w, int h, std::uint32_t rows_per_strip, bool tiled, std::uint16_t orientation,
                   std::uint16_t compression) {
    TempFile tmp("band.tif");
    TIFF* tif = TIFFOpen(tmp.path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    if (!tif) return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    auto sample = [](int x, int y, int c) {
        const Rgb p = full_pixel(x, y);
        return c == 0 ? p.r : c == 1 ? p.g : p.b;
    };
    if (tiled) {
        const int tw = 32, th = 48;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, th);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(tw) * th * 3);
        for (int ty = 0; ty < h; ty += th)
            for (int tx = 0; tx < w; tx += tw) {
                for (int y = 0; y < th; ++y)
                    for (int x = 0; x < tw; ++x)
                        for (int c = 0; c < 3; ++c)
                            tile[(static_cast<std::size_t>(y) * tw + x) * 3 + c] = sample(tx + x, ty + y, c);
                EXPECT_GE(TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty), 0, 0), 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
        std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) line[static_cast<std::size_t>(x) * 3 + c] = sample(x, y, c);
            EXPECT_EQ(TIFFWriteScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0), 1);
        }
    }
    TIFFClose(tif);
    return tmp.read();
}

TEST(CodecsDecode, TiffBandsGiveWhatLibtiffGivesForTheWholePicture) {
    // 1100 x 1000 needs a raster of 4.4 MB, more than one band: the bands must join seamlessly,
    // whatever the strip height and in files whose rows are stored bottom to top.
    struct Case {
        const char* what;
        std::uint32_t rows_per_strip;
        bool tiled;
        std::uint16_t orientation;
        std::uint16_t compression;
    };
    const Case cases[] = {
        {"strips of 7 rows", 7, false, ORIENTATION_TOPLEFT, COMPRESSION_NONE},
        {"strips of 1 row, lzw", 1, false, ORIENTATION_TOPLEFT, COMPRESSION_LZW},
        {"strips of 300 rows, bottom to top", 300, false, ORIENTATION_BOTLEFT, COMPRESSION_ADOBE_DEFLATE},
        {"tiles, right to left", 0, true, ORIENTATION_TOPRIGHT, COMPRESSION_NONE},
        {"tiles, bottom to top", 0, true, ORIENTATION_BOTRIGHT, COMPRESSION_LZW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes file = foreign_tiff(1100, 1000, c.rows_per_strip, c.tiled, c.orientation, c.compression);
        const Decoded want = decode_with_libtiff(file);
        const Decoded got = decode_with_bmp(must_transcode(file, ImageFormat::bmp));
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        EXPECT_TRUE(got.pixels == want.pixels);
    }
}

}  // namespace
}  // namespace gifanim::platform
