#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gif/colour_reduction.h"
#include "gif/gif_frame.h"
#include "gif/gif_maker.h"
#include "gif/gif_reader.h"
#include "gif/lzw_decoder.h"
#include "gif/picture_loader.h"
#include "platform/picture.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A BMP file as the reader writes it, taken apart.
struct Bmp {
    int width = 0, height = 0, depth = 0;
    std::vector<Rgb> table;
    std::vector<std::uint8_t> pixels;  // top-down indices
};

Bmp parse_bmp(const Bytes& b) {
    Bmp out;
    auto u32 = [&](std::size_t at) { return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24); };
    EXPECT_GE(b.size(), 54u);
    if (b.size() < 54) return out;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(u32(2), b.size());
    out.width = static_cast<int>(u32(18));
    out.height = static_cast<int>(u32(22));
    out.depth = b[28];
    const std::uint32_t colours = u32(46);
    EXPECT_EQ(colours, 1u << out.depth);
    EXPECT_EQ(u32(10), 54 + 4 * colours);
    for (std::uint32_t i = 0; i < colours; ++i) out.table.push_back({b[56 + 4 * i], b[55 + 4 * i], b[54 + 4 * i]});
    const std::size_t stride = ((static_cast<std::size_t>(out.width) * out.depth + 31) / 32) * 4;
    EXPECT_EQ(b.size(), 54 + 4 * colours + stride * out.height);
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* row = b.data() + u32(10) + stride * static_cast<std::size_t>(out.height - 1 - y);
        for (int x = 0; x < out.width; ++x) {
            const int bit = x * out.depth;
            out.pixels.push_back(static_cast<std::uint8_t>((row[bit / 8] >> (8 - out.depth - bit % 8)) & ((1 << out.depth) - 1)));
        }
    }
    return out;
}

std::vector<std::uint8_t> counting(int n, int modulo) {
    std::vector<std::uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<std::uint8_t>((i * 7 + i / 5) % modulo));
    return v;
}

const std::string kNotCreated = "对象还未创建";

TEST(GifReader, StatesAndArgumentChecks) {
    GifReader reader;
    EXPECT_EQ(reader.GetError(), kNotCreated);
    EXPECT_FALSE(reader.LoadGif({}, GifBuilder().header(2, 2, 1).image(0, 0, 2, 2, {0, 1, 1, 0}).trailer().bytes));
    EXPECT_EQ(reader.GetGifInfo().Width, 0);
    EXPECT_EQ(reader.GetPalette(0, 0), -1);
    EXPECT_EQ(reader.GetError(), kNotCreated);

    ASSERT_TRUE(reader.Create());
    EXPECT_EQ(reader.GetError(), "");
    EXPECT_EQ(reader.GetGifInfo().FrameCount, 0);
    EXPECT_EQ(reader.GetError(), "还未载入GIF动画");
    EXPECT_TRUE(reader.GetGifData(0).empty());
    EXPECT_EQ(reader.GetError(), "还未载入GIF动画");

    const Bytes one = GifBuilder().header(2, 2, 1).image(0, 0, 2, 2, {0, 1, 1, 0}).trailer().bytes;
    ASSERT_TRUE(reader.LoadGif({}, one)) << reader.GetError();
    EXPECT_EQ(reader.FrameCount(), 1);

    // Checks on data keep the loaded GIF.
    EXPECT_FALSE(reader.LoadGif());
    EXPECT_EQ(reader.GetError(), "没有指定载入文件路径和图片数据");
    EXPECT_FALSE(reader.LoadGif({}, Bytes(33, 'G')));
    EXPECT_EQ(reader.GetError(), "不是有效的GIF图片数据");
    Bytes bad = one;
    bad[1] = 'X';
    EXPECT_FALSE(reader.LoadGif({}, bad));
    EXPECT_EQ(reader.GetError(), "不是GIF图片数据");
    bad = one;
    bad[4] = '8';
    EXPECT_FALSE(reader.LoadGif({}, bad));
    EXPECT_EQ(reader.GetError(), "GIF图片版本号不正确");
    EXPECT_EQ(reader.FrameCount(), 1);
    EXPECT_EQ(reader.GetGifData(0), one);

    // Letter case does not matter.
    Bytes upper = one;
    upper[0] = 'g', upper[5] = 'A';
    EXPECT_TRUE(reader.LoadGif({}, upper));

    EXPECT_TRUE(reader.GetFrameInfo(0).Width == 0);
    EXPECT_EQ(reader.GetError(), "帧序号超出范围");
    EXPECT_TRUE(reader.GetGifData(2).empty());
    EXPECT_EQ(reader.GetError(), "帧序号超出范围");
    reader.Clear();
    EXPECT_EQ(reader.GetError(), kNotCreated);
}

TEST(GifReader, FileLoadsAndAVersionFailureLeavesNothingLoaded) {
    const ScratchDir scratch("gifanim-reader-");
    const fs::path& dir = scratch.dir;
    const Bytes one = GifBuilder().header(2, 2, 1).image(0, 0, 2, 2, {0, 1, 1, 0}).trailer().bytes;
    Bytes bad = one;
    bad[3] = '9';
    std::ofstream(dir / "good.gif", std::ios::binary).write(reinterpret_cast<const char*>(one.data()), static_cast<std::streamsize>(one.size()));
    std::ofstream(dir / "bad.gif", std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    std::ofstream(dir / "short.gif", std::ios::binary).write("GIF89a", 6);

    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif(dir / "good.gif", Bytes(40, 0)));  // the path wins
    EXPECT_FALSE(reader.LoadGif(dir / "missing.gif"));
    EXPECT_FALSE(reader.GetError().empty());
    EXPECT_FALSE(reader.LoadGif(dir / "short.gif"));
    EXPECT_EQ(reader.GetError(), "不是有效的GIF图片数据");
    EXPECT_EQ(reader.FrameCount(), 1);  // both failures come before the old GIF is released
    EXPECT_FALSE(reader.LoadGif(dir / "bad.gif"));
    EXPECT_EQ(reader.GetError(), "GIF图片版本号不正确");
    EXPECT_TRUE(reader.GetGifData(0).empty());
    EXPECT_EQ(reader.GetError(), "还未载入GIF动画");

    ASSERT_TRUE(reader.LoadGif(dir / "good.gif"));
    ASSERT_TRUE(reader.SaveGif(dir / "copy.gif"));
    {
        std::ifstream in(dir / "copy.gif", std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), one);
    }
}

TEST(GifReader, IndexesFramesCommentsAndLoops) {
    // Two frames with control extensions, a comment inside the second, and one after the last image.
    const Bytes gif = GifBuilder()
                          .header(10, 6, 2)
                          .looping(7)
                          // Another encoder's application extension with text data: not a loop count.
                          .raw({0x21, 0xFF, 11, 'I', 'm', 'a', 'g', 'e', 'M', 'a', 'g', 'i', 'c', 'k', 5, 'g', 'a', 'm', 'm', 'a', 0})
                          .raw({0, 0})  // stray zeros
                          .control(0x09, 25, 3)
                          .image(1, 2, 3, 2, counting(6, 4), 0)
                          .control(0x04, 40)
                          .comment("inside")
                          .image(0, 0, 10, 6, counting(60, 4), 3)
                          .comment("the end")
                          .trailer()
                          .bytes;
    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif({}, gif));
    const AnimationInfo info = reader.GetGifInfo();
    EXPECT_EQ(info.Width, 10);
    EXPECT_EQ(info.Depth, 6);
    EXPECT_EQ(info.LOOP, 1);
    EXPECT_EQ(info.LoopCount, 7);
    EXPECT_EQ(info.FrameCount, 2);
    EXPECT_EQ(info.ColorNum, 4);
    EXPECT_EQ(info.exposition, "the end");
    EXPECT_EQ(info.Interlace, 0);
    AnimationInfo loop = info;
    loop.LoopCount = 0x0102;
    ASSERT_TRUE(reader.SetGifInfo(loop));
    const Bytes patched = reader.GetGifData(0);
    const std::size_t count_at = 13 + 12 + 16;  // header, table, 0x21 0xFF 11 "NETSCAPE2.0" 3 1
    EXPECT_EQ(patched[count_at], 0x02);
    EXPECT_EQ(patched[count_at + 1], 0x01);
    EXPECT_TRUE(std::equal(gif.begin() + count_at + 2, gif.end(), patched.begin() + count_at + 2));

    const FrameInfo f1 = reader.GetFrameInfo(1);
    EXPECT_EQ(f1.DelayTime, 25);
    EXPECT_EQ(f1.Transparency, 1);
    EXPECT_EQ(f1.DisposalMethod, 2);
    EXPECT_EQ(f1.TransparencyIndex, 3);
    EXPECT_EQ(f1.Left, 1);
    EXPECT_EQ(f1.Top, 2);
    EXPECT_EQ(f1.Width, 3);
    EXPECT_EQ(f1.Depth, 2);
    EXPECT_EQ(f1.ColorNum, 0);
    EXPECT_EQ(f1.exposition, "");
    const FrameInfo f2 = reader.GetFrameInfo(2);
    EXPECT_EQ(f2.DelayTime, 40);
    EXPECT_EQ(f2.DisposalMethod, 1);
    EXPECT_EQ(f2.ColorNum, 8);
    EXPECT_EQ(f2.exposition, "inside");
    EXPECT_EQ(f2.Dither, 0);
}

TEST(GifReader, Gif87aImagesAreFramesAtTheirDescriptors) {
    GifBuilder b;
    b.header(4, 4, 1, "87a");
    for (int i = 0; i < 3; ++i) b.image(i, 0, 2, 2, {0, 1, 1, 0}, 0, false, 1);
    const Bytes gif = b.trailer().bytes;
    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif({}, gif));
    ASSERT_EQ(reader.FrameCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(reader.GetFrameInfo(i).DelayTime, 0);
        EXPECT_EQ(reader.GetFrameInfo(i).Left, i - 1);
    }
    EXPECT_EQ(reader.GetGifInfo().LOOP, 0);
}

// Positions where two byte strings differ.
std::vector<std::size_t> diff(const Bytes& a, const Bytes& b) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.push_back(i);
    return out;
}

TEST(GifReader, EditsPatchExactlyTheirBytes) {
    const Bytes gif = GifBuilder()
                          .header(8, 8, 2)
                          .image(0, 0, 2, 2, {0, 1, 2, 3})  // no control extension
                          .control(0x00, 10)
                          .image(0, 0, 2, 2, {0, 1, 2, 3}, 2)
                          .trailer()
                          .bytes;
    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif({}, gif));
    ASSERT_EQ(reader.FrameCount(), 2);

    FrameInfo f;
    f.DelayTime = 300;
    f.DisposalMethod = 0xFA;  // lowest three bits: 2
    f.Transparency = 3;       // lowest bit: 1
    f.Left = 5;
    f.Top = 0x102;
    f.TransparencyIndex = 9;  // not written
    ASSERT_TRUE(reader.SetFrameInfo(f, 1));
    const Bytes after1 = reader.GetGifData(0);
    const std::size_t d1 = 13 + 12;  // first descriptor
    EXPECT_EQ(diff(gif, after1), (std::vector<std::size_t>{d1 + 1, d1 + 3, d1 + 4}));

    ASSERT_TRUE(reader.SetFrameInfo(f, 2));
    const FrameInfo back = reader.GetFrameInfo(2);
    EXPECT_EQ(back.DelayTime, 300);
    EXPECT_EQ(back.DisposalMethod, 2);
    EXPECT_EQ(back.Transparency, 1);
    EXPECT_EQ(back.TransparencyIndex, 0);
    EXPECT_EQ(back.Top, 0x102);

    // No looping extension: the loop count stays absent.
    AnimationInfo info = reader.GetGifInfo();
    const Bytes before = reader.GetGifData(0);
    info.Width = 300;
    info.BgColorIndex = 2;
    info.LOOP = 1;
    info.LoopCount = 9;
    ASSERT_TRUE(reader.SetGifInfo(info));
    EXPECT_EQ(diff(before, reader.GetGifData(0)), (std::vector<std::size_t>{6, 7, 11}));
    EXPECT_EQ(reader.GetGifInfo().LOOP, 0);

    // One palette entry: three bytes.
    const Bytes before_palette = reader.GetGifData(0);
    ASSERT_TRUE(reader.SetPalette(2, 3, 0x00332211));
    EXPECT_EQ(reader.GetPalette(2, 3), 0x00332211);
    EXPECT_EQ(diff(before_palette, reader.GetGifData(0)).size(), 3u);
    EXPECT_EQ(reader.GetPalette(0, 1), 0x030201);
}

TEST(GifReader, PaletteFailures) {
    const Bytes gif = GifBuilder().header(2, 2, 2).image(0, 0, 2, 2, {0, 1, 2, 3}).trailer().bytes;
    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif({}, gif));
    EXPECT_EQ(reader.GetPalette(0, 4), -1);
    EXPECT_EQ(reader.GetError(), "调色板序号超出范围");
    EXPECT_EQ(reader.GetPalette(1, 0), -1);
    EXPECT_EQ(reader.GetError(), "没有局部调色板");
    EXPECT_FALSE(reader.SetPalette(2, 0, 0));
    EXPECT_EQ(reader.GetError(), "帧序号超出范围");

    const Bytes no_global = GifBuilder().header(2, 2, 0).image(0, 0, 2, 2, {0, 1, 2, 3}, 1).trailer().bytes;
    ASSERT_TRUE(reader.LoadGif({}, no_global));
    EXPECT_FALSE(reader.SetPalette(0, 0, 0));
    EXPECT_EQ(reader.GetError(), "没有全局调色板");
    EXPECT_EQ(reader.GetPalette(1, 1), 101 | (102 << 8) | (103 << 16));
    EXPECT_EQ(reader.GetError(), "");
}

TEST(GifReader, DamagedAndTruncatedFiles) {
    GifReader reader;
    reader.Create();
    // An unknown block right after the global table.
    Bytes gif = GifBuilder().header(2, 2, 1).raw({0x2D}).image(0, 0, 2, 2, {0, 1, 1, 0}).trailer().bytes;
    EXPECT_FALSE(reader.LoadGif({}, gif));
    EXPECT_EQ(reader.GetError(), "GIF图片文件已经损坏");
    EXPECT_EQ(reader.FrameCount(), 0);
    EXPECT_EQ(reader.GetGifData(0), gif);  // the bytes stay loaded

    // A local colour table that runs past the end is damage; running out of bytes elsewhere is not.
    const Bytes two = GifBuilder()
                          .header(4, 4, 1)
                          .control(0, 5)
                          .image(0, 0, 4, 4, counting(16, 2))
                          .control(0, 6)
                          .image(0, 0, 4, 4, counting(16, 2), 8)
                          .trailer()
                          .bytes;
    std::size_t d2 = 0;
    for (std::size_t i = two.size(); i-- > 0;)
        if (two[i] == 0x2C && i + 9 < two.size() && two[i + 9] == 0x87) {
            d2 = i;
            break;
        }
    ASSERT_GT(d2, 0u);
    EXPECT_FALSE(reader.LoadGif({}, Bytes(two.begin(), two.begin() + static_cast<std::ptrdiff_t>(d2 + 10 + 100))));
    EXPECT_EQ(reader.GetError(), "GIF图片文件已经损坏");
    for (std::size_t cut = 34; cut < two.size(); ++cut) {
        const Bytes part(two.begin(), two.begin() + static_cast<std::ptrdiff_t>(cut));
        const bool ok = reader.LoadGif({}, part);
        if (!ok) {
            EXPECT_EQ(reader.GetError(), "GIF图片文件已经损坏") << cut;
            continue;
        }
        for (int f = 0; f <= reader.FrameCount() + 1; ++f) {
            reader.GetFrameInfo(f);
            reader.SetFrameInfo(FrameInfo{}, f);
            reader.GetPalette(f, 255);
            reader.SetPalette(f, 1, 0xFFFFFF);
            const Bytes bmp = reader.GetGifData(f);
            if (f >= 1 && f <= reader.FrameCount() && !bmp.empty()) {
                EXPECT_EQ(parse_bmp(bmp).width, 4) << cut;
            }
        }
    }
}

TEST(GifReader, GraphicControlCutShortAndLoopAtTheVeryEnd) {
    GifReader reader;
    reader.Create();
    // An application extension whose 11-byte sub-block is the last thing in the file.
    Bytes gif = GifBuilder().header(2, 2, 1).image(0, 0, 2, 2, {0, 1, 1, 0}).raw({0x21, 0xFF, 11}).bytes;
    for (char c : std::string("NETSCAPE2.0")) gif.push_back(static_cast<std::uint8_t>(c));
    gif.resize(std::max<std::size_t>(gif.size(), 34), 0);
    ASSERT_TRUE(reader.LoadGif({}, gif));
    EXPECT_EQ(reader.GetGifInfo().LOOP, 0);
    AnimationInfo info;
    info.LoopCount = 5;
    EXPECT_TRUE(reader.SetGifInfo(info));
    EXPECT_EQ(reader.GetGifData(0).size(), gif.size());

    // A graphic control extension whose data is cut short opens no frame.
    Bytes cut = GifBuilder().header(2, 2, 1).image(0, 0, 2, 2, {0, 1, 1, 0}).raw({0x21, 0xF9, 4, 0x01}).bytes;
    cut.resize(std::max<std::size_t>(cut.size(), 34), 0);
    cut.resize(cut.size());
    ASSERT_TRUE(reader.LoadGif({}, Bytes(cut.begin(), cut.end())));
    EXPECT_GE(reader.FrameCount(), 1);
}

TEST(GifReader, FramesAsBmpFiles) {
    GifReader reader;
    reader.Create();
    // Two-entry local table: depth 1; 16-entry table: depth 4; no table at all: fixed colours.
    const Bytes gif = GifBuilder()
                          .header(20, 20, 0)
                          .image(0, 0, 9, 3, counting(27, 2), 1, false, 2)
                          .image(0, 0, 5, 5, counting(25, 16), 4, true, 4)
                          .image(0, 0, 3, 2, counting(6, 16), 0, false, 4)
                          .trailer()
                          .bytes;
    ASSERT_TRUE(reader.LoadGif({}, gif));
    ASSERT_EQ(reader.FrameCount(), 3);

    const Bmp one = parse_bmp(reader.GetGifData(1));
    EXPECT_EQ(one.depth, 1);
    EXPECT_EQ(one.width, 9);
    EXPECT_EQ(one.height, 3);
    EXPECT_EQ(one.pixels, counting(27, 2));
    EXPECT_EQ(one.table[1], (Rgb{101, 102, 103}));

    const Bmp interlaced = parse_bmp(reader.GetGifData(2));
    EXPECT_EQ(interlaced.depth, 4);
    EXPECT_EQ(interlaced.pixels, counting(25, 16));
    EXPECT_EQ(interlaced.table[15], (Rgb{115, 130, 145}));

    // Neither table: the screen's size field (0 -> 1 bit) decides, black and white.
    const Bmp plain = parse_bmp(reader.GetGifData(3));
    EXPECT_EQ(plain.depth, 1);
    EXPECT_EQ(plain.table[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(plain.table[1], (Rgb{255, 255, 255}));

    // A screen announcing 16 colours but holding no table: the fixed 16-colour table.
    Bytes sixteen =
        GifBuilder().header(4, 4, 0).image(0, 0, 3, 2, counting(6, 16), 0, false, 4).comment("long enough").trailer().bytes;
    sixteen[10] = 0x03;
    ASSERT_TRUE(reader.LoadGif({}, sixteen));
    const Bmp fixed = parse_bmp(reader.GetGifData(1));
    EXPECT_EQ(fixed.depth, 4);
    EXPECT_EQ(fixed.table[1], (Rgb{0, 0, 128}));
    EXPECT_EQ(fixed.table[8], (Rgb{192, 192, 192}));
    EXPECT_EQ(fixed.table[15], (Rgb{255, 255, 255}));
    sixteen[10] = 0x07;  // 256 colours announced: the grey ramp
    ASSERT_TRUE(reader.LoadGif({}, sixteen));
    const Bmp grey = parse_bmp(reader.GetGifData(1));
    EXPECT_EQ(grey.depth, 8);
    EXPECT_EQ(grey.table[77], (Rgb{77, 77, 77}));
    EXPECT_EQ(grey.pixels, counting(6, 16));
}

TEST(GifReader, EveryGifTheMakerWritesReadsBackExactly) {
    for (bool interlace : {false, true}) {
        GifMaker maker;
        AnimationInfo a;
        a.Interlace = interlace;
        maker.Create(a);
        std::vector<IndexedImage> expected;
        for (int i = 0; i < 3; ++i) {
            const int w = 40 + 13 * i, h = 17 + 9 * i;
            const PixelFn fn = [i](int x, int y) { return screen_like_pixel(x * 3, y * 5, i); };
            FrameInfo f;
            f.Dither = i == 2;
            f.DelayTime = static_cast<std::int16_t>(i + 1);
            ASSERT_TRUE(maker.AddFrame(f, {}, make_bmp(w, h, fn)));
            platform::Dib24 dib;
            dib.allocate(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const Rgb c = fn(x, y);
                    std::uint8_t* p = dib.row(h - 1 - y) + 3 * x;
                    p[0] = c.b, p[1] = c.g, p[2] = c.r;
                }
            IndexedImage img;
            Unset<std::uint16_t> scratch;
            if (f.Dither) {
                dither_reduce(dib, img);
            } else {
                popularity_reduce(dib, img, scratch);
            }
            expected.push_back(img);
        }
        const ScratchDir folder("gifanim-reader-");
        const fs::path path = folder.dir / "roundtrip.gif";
        ASSERT_TRUE(maker.SaveGif(path));
        GifReader reader;
        reader.Create();
        ASSERT_TRUE(reader.LoadGif(path)) << reader.GetError();
        ASSERT_EQ(reader.FrameCount(), 3);
        for (int i = 0; i < 3; ++i) {
            const Bmp bmp = parse_bmp(reader.GetGifData(i + 1));
            EXPECT_EQ(bmp.depth, 8);
            EXPECT_EQ(bmp.width, expected[i].width);
            EXPECT_TRUE(std::equal(bmp.pixels.begin(), bmp.pixels.end(), expected[i].indices.begin(),
                                   expected[i].indices.end()))
                << "frame " << i << " interlace " << interlace;
            for (int k = 0; k < 256; ++k) {
                EXPECT_EQ(reader.GetPalette(i + 1, static_cast<std::uint8_t>(k)),
                          expected[i].palette[3 * k] | expected[i].palette[3 * k + 1] << 8 | expected[i].palette[3 * k + 2] << 16);
            }
            EXPECT_EQ(reader.GetFrameInfo(i + 1).DelayTime, i + 1);
        }
    }
}

TEST(LzwDecoder, CorruptDataKeepsWhatWasDecodedAndFillsZero) {
    const std::vector<std::uint8_t> pixels = counting(500, 200);
    Bytes data;
    LzwEncoder().encode(pixels.data(), 500, 1, 500, 8, false, data);
    std::vector<std::uint8_t> out(500, 0xEE);
    EXPECT_EQ(lzw_decode(data, out), 500u);
    EXPECT_EQ(out, pixels);

    // Data that ends early: a prefix decodes, the rest is 0.
    const Bytes cut(data.begin(), data.begin() + 40);
    std::fill(out.begin(), out.end(), 0xEE);
    const std::size_t got = lzw_decode(cut, out);
    EXPECT_GT(got, 10u);
    EXPECT_LT(got, 500u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got), pixels.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), [](std::uint8_t v) { return v == 0; }));

    // A code beyond the dictionary right after the first pixel: 9-bit codes 256, 7, 511.
    const Bytes beyond = {8, 4, 0x00, 0x0F, 0xFC, 0x07, 0};
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(lzw_decode(beyond, std::span<std::uint8_t>(out).first(5)), 1u);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[5], 0xEE);  // nothing written outside

    // A bad minimum code size decodes nothing.
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(lzw_decode(Bytes{15, 1, 0xFF, 0}, out), 0u);
    EXPECT_EQ(out[0], 0);
}

// Frames without pixels: a 0x0 frame and an interlaced frame 0 wide and 3 high, at 1 and 8 bits.
// Their BMP files hold a header and a colour table only; no row is copied from the empty pixel
// buffer (a null pointer for memset and memcpy, which UBSan reports; found by fuzzing).
TEST(GifReader, FramesWithoutPixels) {
    for (const int depth : {1, 8}) {
        GifBuilder b;
        b.header(4, 4, depth == 1 ? 1 : 0);
        if (depth == 8) b.bytes[10] = 0x07;  // 256 colours announced, no table: the grey ramp
        b.raw({0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 2, 2, 0x44, 0x01, 0});  // 0 x 0
        b.raw({0x2C, 1, 0, 1, 0, 0, 0, 3, 0, 0x40, 2, 2, 0x44, 0x01, 0});  // 0 x 3, interlaced
        const Bytes gif = b.trailer().bytes;
        GifReader reader;
        reader.Create();
        ASSERT_TRUE(reader.LoadGif({}, gif)) << reader.GetError();
        ASSERT_EQ(reader.FrameCount(), 2);
        for (int f = 1; f <= 2; ++f) {
            const Bytes bmp = reader.GetGifData(f);
            ASSERT_EQ(bmp.size(), 54u + (4u << depth)) << f;
            const Bmp parsed = parse_bmp(bmp);
            EXPECT_EQ(parsed.width, 0);
            EXPECT_EQ(parsed.height, f == 1 ? 0 : 3);
            EXPECT_EQ(parsed.depth, depth);
            EXPECT_EQ(parsed.table[1], depth == 1 ? (Rgb{1, 2, 3}) : (Rgb{1, 1, 1}));
        }
    }
}

#ifndef _WIN32  // our own GIF picture decoder; Windows decodes pictures itself
// The picture loader on a GIF whose screen is 0 high and whose first frame is 0 wide: nothing to
// show, and nothing decoded into the empty frame buffer on the way (found by fuzzing).
TEST(GifPicture, EmptyFrameOnAnEmptyScreenIsUndecodable) {
    const Bytes gif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x40, 0x00, 0x00, 0x00, 0x00, 0x73,
                       0x00, 0x2C, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x08, 0x3B, 0x3B};
    platform::Dib24 dib;
    EXPECT_EQ(decode_gif_picture(gif, dib), platform::LoadResult::undecodable);
}

// A tiny file whose first frame claims 65535 x 65535 pixels is refused before anything is decoded.
TEST(GifPicture, HugeFrameOnASmallScreenIsRefused) {
    const Bytes gif = GifBuilder()
                          .header(10, 10, 1)
                          .raw({0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 2, 2, 0x44, 0x01, 0})
                          .trailer()
                          .bytes;
    platform::Dib24 dib;
    EXPECT_EQ(decode_gif_picture(gif, dib), platform::LoadResult::too_large);
}
#endif

// An image descriptor whose left or top holds a byte that also opens a block: only a block that
// starts with 0x21 0xF9 is a graphic control extension, so such a frame keeps its own fields and
// an edit of its delay writes nothing into the descriptor.
TEST(GifReader, DescriptorBytesThatLookLikeBlocksStayADescriptor) {
    for (int low : {0xF9, 0x21, 0x2C, 0x3B}) {
        const int left = 0x0400 | low, top = 0x0100 | low;
        const Bytes gif = GifBuilder()
                              .header(1300, 400, 1, "87a")
                              .image(0, 0, 4, 4, counting(16, 2))
                              .image(left, top, 4, 4, counting(16, 2))
                              .trailer()
                              .bytes;
        GifReader reader;
        reader.Create();
        ASSERT_TRUE(reader.LoadGif({}, gif)) << low;
        ASSERT_EQ(reader.FrameCount(), 2) << low;
        const FrameInfo f = reader.GetFrameInfo(2);
        EXPECT_EQ(f.Left, left);
        EXPECT_EQ(f.Top, top);
        EXPECT_EQ(f.Width, 4);
        EXPECT_EQ(f.Depth, 4);
        EXPECT_EQ(f.DelayTime, 0);
        EXPECT_EQ(f.DisposalMethod, 0);
        FrameInfo edit = f;
        edit.DelayTime = 300;
        edit.DisposalMethod = 3;
        ASSERT_TRUE(reader.SetFrameInfo(edit, 2));
        EXPECT_EQ(reader.GetGifData(0), gif) << low;
    }
}

// Damage after the loop and the comment empties the frames only: both are still reported, and the
// loop count can still be patched.
TEST(GifReader, DamageKeepsTheLoopCountAndTheComment) {
    const Bytes gif = GifBuilder()
                          .header(2, 2, 1)
                          .looping(7)
                          .comment("kept")
                          .control(0, 5)
                          .image(0, 0, 2, 2, {0, 1, 1, 0})
                          .raw({0x2D, 1, 2, 3})
                          .trailer()
                          .bytes;
    GifReader reader;
    reader.Create();
    EXPECT_FALSE(reader.LoadGif({}, gif));
    EXPECT_EQ(reader.GetError(), "GIF图片文件已经损坏");
    EXPECT_EQ(reader.FrameCount(), 0);
    AnimationInfo info = reader.GetGifInfo();
    EXPECT_EQ(info.LOOP, 1);
    EXPECT_EQ(info.LoopCount, 7);
    EXPECT_EQ(info.exposition, "kept");
    EXPECT_EQ(info.FrameCount, 0);
    info.LoopCount = 9;
    ASSERT_TRUE(reader.SetGifInfo(info));
    EXPECT_EQ(reader.GetGifInfo().LoopCount, 9);
    EXPECT_EQ(reader.GetFrameInfo(1).DelayTime, 0);
    EXPECT_EQ(reader.GetError(), "帧序号超出范围");
}

// An extension of a label nobody defined is passed over by its sub-blocks, as by every decoder.
TEST(GifReader, ExtensionsOfUnknownLabelsArePassedOver) {
    const Bytes gif = GifBuilder()
                          .header(2, 2, 1)
                          .raw({0x21, 0x2A, 3, 9, 9, 9, 2, 0x2C, 0x3B, 0})
                          .control(0, 5)
                          .image(0, 0, 2, 2, {0, 1, 1, 0})
                          .raw({0x21, 0x77, 0})
                          .control(0, 6)
                          .image(0, 0, 2, 2, {1, 1, 0, 0})
                          .trailer()
                          .bytes;
    GifReader reader;
    reader.Create();
    ASSERT_TRUE(reader.LoadGif({}, gif)) << reader.GetError();
    ASSERT_EQ(reader.FrameCount(), 2);
    EXPECT_EQ(reader.GetFrameInfo(2).DelayTime, 6);
    EXPECT_EQ(parse_bmp(reader.GetGifData(2)).pixels, (Bytes{1, 1, 0, 0}));
}

// Frames go straight into the BMP's rows: every depth, width and height, interlaced or not, gives
// the pixels sent and zero padding.
TEST(GifReader, FrameRowsOfEveryShape) {
    for (int bits : {1, 4, 8})
        for (int w : {1, 2, 3, 5, 8, 13})
            for (int h = 1; h <= 9; ++h)
                for (bool interlace : {false, true}) {
                    const Bytes pixels = counting(w * h, 1 << bits);
                    const Bytes gif = GifBuilder()
                                          .header(16, 16, bits)
                                          .image(0, 0, w, h, pixels, 0, interlace, std::max(bits, 2))
                                          .trailer()
                                          .bytes;
                    GifReader reader;
                    reader.Create();
                    ASSERT_TRUE(reader.LoadGif({}, gif));
                    const Bytes bmp = reader.GetGifData(1);
                    const Bmp parsed = parse_bmp(bmp);
                    ASSERT_EQ(parsed.pixels, pixels) << bits << " " << w << "x" << h << " " << interlace;
                    const std::size_t stride = ((static_cast<std::size_t>(w) * parsed.depth + 31) / 32) * 4;
                    const std::size_t used = (static_cast<std::size_t>(w) * parsed.depth + 7) / 8;
                    const std::size_t offset = bmp.size() - stride * h;
                    for (int r = 0; r < h; ++r)
                        for (std::size_t i = used; i < stride; ++i) ASSERT_EQ(bmp[offset + r * stride + i], 0);
                }
}

// A frame or a screen whose declared size is out of all proportion to the image data is refused
// at once, without allocating for it; a large frame that its data fills decodes.
TEST(GifReader, SizesOutOfProportionToTheDataAreRefused) {
    GifReader reader;
    reader.Create();
    const Bytes bomb = GifBuilder()
                           .header(16, 16, 1)
                           .raw({0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 2, 2, 0x44, 0x01, 0})
                           .trailer()
                           .bytes;
    ASSERT_TRUE(reader.LoadGif({}, bomb));
    EXPECT_TRUE(reader.GetGifData(1).empty());
    EXPECT_EQ(reader.GetError(), "当前帧声明的尺寸远超其图像数据所能填满的大小");

    // 5000 x 4000 pixels of one colour: 20 million pixels in a few kilobytes, as any encoder
    // writes them.
    const Bytes large = GifBuilder().header(5000, 4000, 1).image(0, 0, 5000, 4000, Bytes(20'000'000, 1)).trailer().bytes;
    ASSERT_LT(large.size(), 100'000u);
    ASSERT_TRUE(reader.LoadGif({}, large));
    const Bytes bmp = reader.GetGifData(1);
    ASSERT_EQ(bmp.size(), 14 + 40 + 8 + 628u * 4000);
    EXPECT_EQ(bmp[62], 0xFF);
    EXPECT_EQ(bmp[62 + 624], 0xFF);
    EXPECT_EQ(bmp[62 + 625], 0x00);
#ifndef _WIN32  // our own GIF picture decoder
    platform::Dib24 dib;
    const Bytes small_frame_huge_screen =
        GifBuilder().header(18425, 17993, 1).image(0, 0, 4, 4, counting(16, 2)).trailer().bytes;
    EXPECT_EQ(decode_gif_picture(small_frame_huge_screen, dib), platform::LoadResult::implausible);
    Bytes bomb_frame = bomb;
    bomb_frame[13 + 6 + 6] = 0x40;  // 16384 x 16384: within the size limits, not the data's
    bomb_frame[13 + 6 + 8] = 0x40;
    EXPECT_EQ(decode_gif_picture(bomb_frame, dib), platform::LoadResult::implausible);
#endif
}

TEST(LzwDecoder, EmptyOutput) {
    const Bytes data = {2, 2, 0x44, 0x01, 0};
    EXPECT_EQ(lzw_decode(data, std::span<std::uint8_t>{}), 0u);
    EXPECT_EQ(lzw_decode(Bytes{}, std::span<std::uint8_t>{}), 0u);
}

}  // namespace
}  // namespace gifanim::test
