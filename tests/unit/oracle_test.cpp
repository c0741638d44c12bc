// Everything here is judged by giflib decoding the files we write.
#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <filesystem>
#include <fstream>

#include "gif/gif_maker.h"
#include "tests/unit/gif_oracle.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"
#include "tools/gifanim_tool.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Scratch : ScratchDir {
    Scratch() : ScratchDir("gifanim-oracle-") {}
};

Rgb quantised(Rgb c) {
    return {static_cast<std::uint8_t>(c.r & 0xF0), static_cast<std::uint8_t>(c.g & 0xF0),
            static_cast<std::uint8_t>(c.b & 0xF0)};
}

Rgb colour_at(const std::vector<std::uint8_t>& palette, std::uint8_t index) {
    return {palette[3 * index], palette[3 * index + 1], palette[3 * index + 2]};
}

// Every pixel of the decoded frame shows the expected colour through its palette.
void expect_pixels(const OracleFrame& frame, const std::vector<std::uint8_t>& palette, int w, int h,
                   const PixelFn& expected, const std::string& what) {
    ASSERT_EQ(frame.width, w) << what;
    ASSERT_EQ(frame.height, h) << what;
    ASSERT_EQ(palette.size(), 768u) << what;
    int bad = 0;
    for (int y = 0; y < h && bad < 5; ++y)
        for (int x = 0; x < w && bad < 5; ++x) {
            const Rgb got = colour_at(palette, frame.pixels[static_cast<std::size_t>(y) * w + x]);
            const Rgb want = expected(x, y);
            if (!(got == want)) {
                ++bad;
                ADD_FAILURE() << what << " pixel " << x << "," << y << ": got " << int(got.r) << "," << int(got.g) << ","
                              << int(got.b) << " want " << int(want.r) << "," << int(want.g) << "," << int(want.b);
            }
        }
}

// A palette of exactly 256 bins scattered at random: the LZW stream is close to noise.
Rgb noise_pixel(int x, int y) {
    Lcg rng(static_cast<std::uint64_t>(y) * 100003u + static_cast<std::uint64_t>(x));
    const unsigned bin = rng.next() % 256;
    return {static_cast<std::uint8_t>((bin & 0xF) << 4), static_cast<std::uint8_t>(bin & 0xF0), 0x30};
}

TEST(Oracle, AnimationRoundTripsThroughGiflib) {
    Scratch s;
    struct Case {
        int w, h;
        PixelFn fn;
    };
    const std::vector<Case> cases = {
        {1, 1, [](int, int) { return Rgb{0x10, 0x30, 0x50}; }},
        {640, 400, [](int x, int y) { return quantised(screen_like_pixel(x, y, 4)); }},
        {600, 500, noise_pixel},
        {37, 9, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 16), 0}; }},
    };
    for (bool interlace : {false, true}) {
        GifMaker maker;
        AnimationInfo info;
        info.Interlace = interlace;
        info.LoopCount = 3;
        info.exposition = "anim";
        maker.Create(info);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            FrameInfo f;
            f.DelayTime = static_cast<std::int16_t>(10 + i);
            f.Left = static_cast<std::int16_t>(i);
            f.Top = static_cast<std::int16_t>(2 * i);
            f.DisposalMethod = static_cast<std::uint8_t>(i % 4);
            f.exposition = i == 1 ? "second" : "";
            ASSERT_TRUE(maker.AddFrame(f, {}, make_bmp(cases[i].w, cases[i].h, cases[i].fn))) << maker.GetError();
        }
        ASSERT_TRUE(maker.SaveGif(s.dir / "anim.gif"));
        const OracleGif gif = oracle_decode(s.dir / "anim.gif");
        ASSERT_EQ(gif.frames.size(), cases.size());
        EXPECT_EQ(gif.width, 1);  // logical size from the first frame; later frames are larger
        EXPECT_EQ(gif.height, 1);
        EXPECT_TRUE(gif.has_loop);
        EXPECT_EQ(gif.loop_count, 3);
        EXPECT_EQ(gif.trailing_comments, std::vector<std::string>{"anim"});
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const OracleFrame& f = gif.frames[i];
            const std::string what = "frame " + std::to_string(i) + " interlace " + std::to_string(interlace);
            EXPECT_EQ(f.interlaced, interlace) << what;
            EXPECT_EQ(f.left, static_cast<int>(i)) << what;
            EXPECT_EQ(f.top, static_cast<int>(2 * i)) << what;
            EXPECT_TRUE(f.has_control) << what;
            EXPECT_EQ(f.delay, static_cast<int>(10 + i)) << what;
            EXPECT_EQ(f.disposal, static_cast<int>(i % 4)) << what;
            EXPECT_EQ(f.transparent_index, -1) << what;
            EXPECT_EQ(f.comments, i == 1 ? std::vector<std::string>{"second"} : std::vector<std::string>{}) << what;
            expect_pixels(f, f.local_palette, cases[i].w, cases[i].h, cases[i].fn, what);
        }
        EXPECT_EQ(gif.global_palette, gif.frames[0].local_palette);
    }
}

TEST(Oracle, InterlacedHeightsOneToNineDecodeInPlace) {
    Scratch s;
    for (int h = 1; h <= 9; ++h) {
        GifMaker maker;
        AnimationInfo info;
        info.Interlace = 1;
        maker.Create(info);
        const PixelFn fn = [](int x, int y) { return Rgb{static_cast<std::uint8_t>(y * 16), 0, static_cast<std::uint8_t>(x * 64)}; };
        ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, make_bmp(3, h, fn)));
        ASSERT_TRUE(maker.SaveGif(s.dir / "i.gif"));
        const OracleGif gif = oracle_decode(s.dir / "i.gif");
        ASSERT_EQ(gif.frames.size(), 1u);
        EXPECT_TRUE(gif.frames[0].interlaced);
        EXPECT_FALSE(gif.frames[0].has_control);  // still image: no graphic control extension
        EXPECT_TRUE(gif.frames[0].local_palette.empty());
        expect_pixels(gif.frames[0], gif.global_palette, 3, h, fn, "height " + std::to_string(h));
    }
}

TEST(Oracle, TransparencyMarksIndexZeroAndPalettesAreIndependent) {
    Scratch s;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    FrameInfo f;
    f.Transparency = 1;
    f.TransparencyIndex = 7;  // ignored: index 0 is written
    ASSERT_TRUE(maker.AddFrame(f, {}, make_bmp(8, 8, [](int, int) { return Rgb{255, 0, 0}; })));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, make_bmp(8, 8, [](int x, int) { return x < 4 ? Rgb{0, 255, 0} : Rgb{0, 0, 255}; })));
    ASSERT_TRUE(maker.SaveGif(s.dir / "t.gif"));
    const OracleGif gif = oracle_decode(s.dir / "t.gif");
    ASSERT_EQ(gif.frames.size(), 2u);
    EXPECT_EQ(gif.background, 0);
    EXPECT_EQ(gif.frames[0].transparent_index, 0);
    EXPECT_EQ(gif.frames[1].transparent_index, -1);
    EXPECT_EQ(colour_at(gif.frames[0].local_palette, 0), (Rgb{0xF0, 0, 0}));
    EXPECT_EQ(colour_at(gif.frames[0].local_palette, 1), (Rgb{0, 0, 0}));
    // The second frame's palette holds only its own colours.
    EXPECT_EQ(colour_at(gif.frames[1].local_palette, 0), (Rgb{0, 0xF0, 0}));
    EXPECT_EQ(colour_at(gif.frames[1].local_palette, 1), (Rgb{0, 0, 0xF0}));
    EXPECT_EQ(colour_at(gif.frames[1].local_palette, 2), (Rgb{0, 0, 0}));
}

TEST(Oracle, DitheredFramesUseTheColourCube) {
    Scratch s;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    FrameInfo f;
    f.Dither = 1;
    ASSERT_TRUE(maker.AddFrame(f, {}, make_bmp(16, 16, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 16), 128}; })));
    ASSERT_TRUE(maker.SaveGif(s.dir / "d.gif"));
    const OracleGif gif = oracle_decode(s.dir / "d.gif");
    ASSERT_EQ(gif.frames.size(), 1u);
    for (std::uint8_t idx : gif.frames[0].pixels) {
        const Rgb c = colour_at(gif.global_palette, idx);
        // 128 is a cube level: it stays 128 except where the threshold is 0.
        EXPECT_TRUE(c.b == 128 || c.b == 160) << int(idx);
        EXPECT_GE(c.r, 64);
        EXPECT_LE(c.r, 224);
        EXPECT_EQ((c.r - 64) % 32, 0);
    }
}

Bytes jpeg_of(int w, int h, const PixelFn& fn) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = fn(x, y);
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 95, 0), 0);
    Bytes bytes(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

Bytes png_of(int w, int h, const PixelFn& fn, bool alpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const int channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * channels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = fn(x, y);
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * channels];
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
            if (alpha) p[3] = x < w / 2 ? 0 : 255;
        }
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr);
    Bytes out(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, px.data(), 0, nullptr));
    out.resize(size);
    return out;
}

TEST(Oracle, JpegAndPngInputsKeepTheirSizeAndColours) {
    Scratch s;
    const PixelFn quads = [](int x, int y) {
        if (y < 25) return x < 50 ? Rgb{240, 16, 16} : Rgb{16, 240, 16};
        return x < 50 ? Rgb{16, 16, 240} : Rgb{240, 240, 240};
    };
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, jpeg_of(100, 50, quads))) << maker.GetError();
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, png_of(100, 50, quads, false))) << maker.GetError();
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, png_of(100, 50, quads, true))) << maker.GetError();
    ASSERT_TRUE(maker.SaveGif(s.dir / "j.gif"));
    const OracleGif gif = oracle_decode(s.dir / "j.gif");
    ASSERT_EQ(gif.frames.size(), 3u);
    for (const auto& f : gif.frames) {
        EXPECT_EQ(f.width, 100);
        EXPECT_EQ(f.height, 50);
    }
    // Away from the block edges the JPEG keeps each quadrant's colour within a bin or so.
    for (auto [x, y] : {std::pair{10, 10}, {90, 10}, {10, 40}, {90, 40}}) {
        const Rgb got = colour_at(gif.frames[0].local_palette, gif.frames[0].pixels[y * 100 + x]);
        const Rgb want = quantised(quads(x, y));
        EXPECT_LE(std::abs(got.r - want.r), 16) << x << "," << y;
        EXPECT_LE(std::abs(got.g - want.g), 16) << x << "," << y;
        EXPECT_LE(std::abs(got.b - want.b), 16) << x << "," << y;
    }
    expect_pixels(gif.frames[1], gif.frames[1].local_palette, 100, 50, [&](int x, int y) { return quantised(quads(x, y)); }, "png");
    // Transparent PNG areas are composed over black.
    expect_pixels(gif.frames[2], gif.frames[2].local_palette, 100, 50,
                  [&](int x, int y) { return x < 50 ? Rgb{0, 0, 0} : quantised(quads(x, y)); }, "png with alpha");
}

TEST(Oracle, GifInputGivesItsFirstFrameOnTheLogicalScreen) {
    Scratch s;
    // A 4 x 3 frame at (2, 1) on an 8 x 6 screen, then a second frame that must not matter.
    GifMaker source;
    AnimationInfo info;
    info.Width = 8;
    info.Depth = 6;
    source.Create(info);
    FrameInfo at;
    at.Left = 2;
    at.Top = 1;
    ASSERT_TRUE(source.AddFrame(at, {}, make_bmp(4, 3, [](int, int) { return Rgb{0xF0, 0x80, 0x10}; })));
    ASSERT_TRUE(source.AddFrame(FrameInfo{}, {}, make_bmp(8, 6, [](int, int) { return Rgb{0x10, 0x10, 0xF0}; })));
    ASSERT_TRUE(source.SaveGif(s.dir / "in.gif"));

    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, s.dir / "in.gif")) << maker.GetError();
    ASSERT_TRUE(maker.SaveGif(s.dir / "out.gif"));
    const OracleGif gif = oracle_decode(s.dir / "out.gif");
    ASSERT_EQ(gif.frames.size(), 1u);
    expect_pixels(gif.frames[0], gif.global_palette, 8, 6,
                  [](int x, int y) {
                      return x >= 2 && x < 6 && y >= 1 && y < 4 ? Rgb{0xF0, 0x80, 0x10} : Rgb{0, 0, 0};
                  },
                  "first frame");
}

// The command-line tool, run in-process.
int run_tool(std::vector<std::string> words) {
    std::vector<tool::Argument> args;
    for (auto& w : words) args.push_back({fs::path(w), w});
    return tool::run(args);
}

TEST(Tool, MakeBuildsTheAnimationWithTheOptions) {
    Scratch s;
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        const fs::path p = s.dir / ("f" + std::to_string(i) + ".bmp");
        const Bytes bmp = make_bmp(20 + i, 10, [i](int, int) { return Rgb{static_cast<std::uint8_t>(16 * (i + 1)), 0, 0}; });
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
        files.push_back(p.string());
    }
    const std::string out = (s.dir / "out.gif").string();
    ASSERT_EQ(run_tool({"make", "-o", out, "--delay", "7", "--disposal", "2", "--loop-count", "4", "--interlace",
                        "--comment", "hi there", "--reverse", files[0], files[1], files[2]}),
              0);
    const OracleGif gif = oracle_decode(out);
    ASSERT_EQ(gif.frames.size(), 3u);
    EXPECT_EQ(gif.width, 22);  // the first frame added is the last image
    EXPECT_EQ(gif.loop_count, 4);
    EXPECT_EQ(gif.trailing_comments, std::vector<std::string>{"hi there"});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gif.frames[i].delay, 7);
        EXPECT_EQ(gif.frames[i].disposal, 2);
        EXPECT_TRUE(gif.frames[i].interlaced);
        EXPECT_EQ(gif.frames[i].width, 22 - i);
    }

    ASSERT_EQ(run_tool({"make", "-o", out, "--no-loop", files[0], files[1]}), 0);
    EXPECT_FALSE(oracle_decode(out).has_loop);
}

TEST(Tool, ExitStatusSaysWhatWentWrong) {
    Scratch s;
    const std::string out = (s.dir / "out.gif").string();
    EXPECT_EQ(run_tool({}), 2);
    EXPECT_EQ(run_tool({"--help"}), 0);
    EXPECT_EQ(run_tool({"frobnicate"}), 2);
    EXPECT_EQ(run_tool({"make", "-o", out}), 2);
    EXPECT_EQ(run_tool({"make", "x.bmp"}), 2);
    EXPECT_EQ(run_tool({"make", "-o", out, "--delay", "70000", "x.bmp"}), 2);
    EXPECT_EQ(run_tool({"make", "-o", out, "--delay", "abc", "x.bmp"}), 2);
    EXPECT_EQ(run_tool({"make", "-o", out, "--bogus", "x.bmp"}), 2);
    EXPECT_EQ(run_tool({"make", "-o", out, (s.dir / "missing.bmp").string()}), 1);
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace gifanim::test
