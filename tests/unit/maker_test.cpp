#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <malloc.h>
#endif

#include "gif/gif_maker.h"
#include "gif/lzw_encoder.h"
#include "platform/picture.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct TempDir : ScratchDir {
    TempDir() : ScratchDir("gifanim-maker-") {}
    fs::path operator/(const char* name) const { return dir / name; }
};

Bytes solid_bmp(int w, int h, Rgb c) {
    return make_bmp(w, h, [c](int, int) { return c; });
}

std::uint16_t word_at(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

const std::string kNotCreated = "\xB6\xD4\xCF\xF3\xBB\xB9\xCE\xB4\xB4\xB4\xBD\xA8";
const std::string kNothingGiven =
    "\xC3\xBB\xD3\xD0\xD6\xB8\xB6\xA8\xD4\xD8\xC8\xEB\xCE\xC4\xBC\xFE\xC2\xB7\xBE\xB6\xBA\xCD\xCD\xBC\xC6\xAC\xCA\xFD"
    "\xBE\xDD";
const std::string kNotImageData = "\xB2\xBB\xCA\xC7\xD3\xD0\xD0\xA7\xB5\xC4\xCD\xBC\xC6\xAC\xCA\xFD\xBE\xDD";
const std::string kNoFrames = "\xBB\xB9\xC3\xBB\xD3\xD0\xBC\xD3\xC8\xEB\xC8\xCE\xBA\xCE\xCD\xBC\xC6\xAC";
const std::string kUndecodable = "\xB6\xC1\xC8\xEB\xCD\xBC\xC6\xAC\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC";

TEST(GifMaker, NotCreatedMakerDoesNothingAndSaysSo) {
    TempDir dir;
    GifMaker maker;
    EXPECT_EQ(maker.GetError(), kNotCreated);
    EXPECT_EQ(maker.GetError(), "对象还未创建");  // the literal compiles to the same GBK bytes
    EXPECT_FALSE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {1, 2, 3})));
    EXPECT_FALSE(maker.SaveGif(dir / "x.gif"));
    EXPECT_FALSE(fs::exists(dir / "x.gif"));
    maker.Clear();
    maker.Reset();
    EXPECT_EQ(maker.GetError(), kNotCreated);

    ASSERT_TRUE(maker.Create(AnimationInfo{}));
    EXPECT_EQ(maker.GetError(), "");
    maker.Clear();
    EXPECT_EQ(maker.GetError(), kNotCreated);
    EXPECT_EQ(maker.FrameCount(), 0);
}

TEST(GifMaker, ArgumentChecksComeFirstAndKeepTheFrames) {
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {9, 9, 9})));
    EXPECT_EQ(maker.GetError(), "");

    EXPECT_FALSE(maker.AddFrame(FrameInfo{}));
    EXPECT_EQ(maker.GetError(), kNothingGiven);
    Bytes short_data = solid_bmp(4, 4, {1, 1, 1});
    short_data.resize(53);
    EXPECT_FALSE(maker.AddFrame(FrameInfo{}, {}, short_data));
    EXPECT_EQ(maker.GetError(), kNotImageData);
    EXPECT_FALSE(maker.AddFrame(FrameInfo{}, {}, Bytes(200, 0x42)));
    EXPECT_EQ(maker.GetError(), kUndecodable);
    EXPECT_EQ(maker.FrameCount(), 1);

    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {9, 9, 9})));
    EXPECT_EQ(maker.GetError(), "");
    EXPECT_EQ(maker.FrameCount(), 2);
}

TEST(GifMaker, FileErrorsCarryThePlatformText) {
    TempDir dir;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    EXPECT_FALSE(maker.AddFrame(FrameInfo{}, dir / "missing.bmp"));
    const std::string read_error = maker.GetError();
    EXPECT_FALSE(read_error.empty());
    EXPECT_LE(read_error.size(), 255u);
    EXPECT_NE(read_error, "未知错误");
    EXPECT_EQ(maker.FrameCount(), 0);

    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(2, 2, {0, 0, 0})));
    EXPECT_FALSE(maker.SaveGif(dir / "no such folder" / "out.gif"));
    EXPECT_FALSE(maker.GetError().empty());
    EXPECT_NE(maker.GetError(), "未知错误");
    ASSERT_TRUE(maker.SaveGif(dir / "out.gif"));
    EXPECT_EQ(maker.GetError(), "");
}

TEST(GifMaker, PathWinsOverData) {
    TempDir dir;
    write_bytes(dir / "small.bmp", solid_bmp(8, 4, {200, 0, 0}));
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, dir / "small.bmp", solid_bmp(16, 16, {0, 0, 200})));
    ASSERT_TRUE(maker.SaveGif(dir / "out.gif"));
    const Bytes gif = read_bytes(dir / "out.gif");
    EXPECT_EQ(word_at(gif, 6), 8);
    EXPECT_EQ(word_at(gif, 8), 4);
    EXPECT_EQ(gif[13], 0xC0);  // first palette entry is the red of the file, not the blue of the data
}

// A picture decoded already makes the same bytes as its image, plain and optimized; a picture
// without pixels, or larger than a GIF holds, is refused as its image would be.
TEST(GifMaker, DecodedPicturesMakeTheSameBytesAsTheirImages) {
    std::vector<Bytes> images;
    for (int k = 0; k < 4; ++k)
        images.push_back(make_bmp(48, 24, [k](int x, int y) { return screen_like_pixel(x + 3 * k, y, k); }));
    for (const bool optimize : {false, true}) {
        GifMaker by_bytes, by_picture;
        for (GifMaker* maker : {&by_bytes, &by_picture}) {
            maker->SetOptimization({optimize, Optimization::kDefaultQuality});
            ASSERT_TRUE(maker->Create(AnimationInfo{}));
        }
        platform::Dib24 picture;
        for (const Bytes& image : images) {
            ASSERT_TRUE(by_bytes.AddFrame(FrameInfo{}, {}, image));
            ASSERT_EQ(platform::load_picture(image, picture), platform::LoadResult::ok);
            ASSERT_TRUE(by_picture.AddFrame(FrameInfo{}, picture)) << by_picture.GetError();
        }
        platform::Dib24 none;
        EXPECT_FALSE(by_picture.AddFrame(FrameInfo{}, none));
        EXPECT_EQ(by_picture.GetError(), kUndecodable);
        none.width = 70000;
        none.height = 2;
        EXPECT_FALSE(by_picture.AddFrame(FrameInfo{}, none));
        EXPECT_EQ(by_picture.GetError(), "图片尺寸超出GIF的范围");
        Bytes plain, decoded;
        ASSERT_TRUE(by_bytes.SaveGif(plain));
        ASSERT_TRUE(by_picture.SaveGif(decoded));
        EXPECT_EQ(decoded, plain) << optimize;
    }
}

TEST(GifMaker, LogicalSizeComesFromTheFirstFrameFieldByField) {
    TempDir dir;
    GifMaker maker;
    AnimationInfo info;
    info.Depth = 200;
    maker.Create(info);
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(320, 240, {1, 2, 3})));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(400, 300, {1, 2, 3})));
    ASSERT_TRUE(maker.SaveGif(dir / "out.gif"));
    const Bytes gif = read_bytes(dir / "out.gif");
    EXPECT_EQ(word_at(gif, 6), 320);
    EXPECT_EQ(word_at(gif, 8), 200);
}

TEST(GifMaker, SaveWithoutFramesTouchesNoFile) {
    TempDir dir;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    EXPECT_FALSE(maker.SaveGif(dir / "out.gif"));
    EXPECT_EQ(maker.GetError(), kNoFrames);
    EXPECT_FALSE(fs::exists(dir / "out.gif"));
}

TEST(GifMaker, OneFrameIsAPlainStillImage) {
    TempDir dir;
    // 3 x 2: four pixels of colour A, two of colour B.
    const Bytes bmp = make_bmp(3, 2, [](int x, int y) { return x == 2 && y < 2 ? Rgb{0, 0, 255} : Rgb{255, 0, 0}; });
    GifMaker maker;
    AnimationInfo info;
    info.exposition = "hello";
    maker.Create(info);
    FrameInfo frame;
    frame.exposition = "ignored for a still image";
    frame.DelayTime = 77;
    ASSERT_TRUE(maker.AddFrame(frame, {}, bmp));
    ASSERT_TRUE(maker.SaveGif(dir / "one.gif"));

    Bytes expected = {'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0xF7, 0, 0};
    Bytes palette(768, 0);
    palette[0] = 0xF0;  // red (four pixels)
    palette[5] = 0xF0;  // blue (two pixels)
    expected.insert(expected.end(), palette.begin(), palette.end());
    const Bytes descriptor = {0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x07};
    expected.insert(expected.end(), descriptor.begin(), descriptor.end());
    const std::uint8_t indices[6] = {0, 0, 1, 0, 0, 1};
    Bytes data;
    LzwEncoder().encode(indices, 3, 2, 3, 8, false, data);
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(0x00);
    const Bytes comment = {0x21, 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 0x00, 0x3B};
    expected.insert(expected.end(), comment.begin(), comment.end());
    EXPECT_EQ(read_bytes(dir / "one.gif"), expected);
}

TEST(GifMaker, AnimationExtensionsCarryTheRecords) {
    TempDir dir;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    FrameInfo a;
    a.Transparency = 1;
    a.DisposalMethod = DisposalMethod::恢复背景;
    FrameInfo b;
    b.DelayTime = 60;
    b.Transparency = 2;  // only the lowest bit counts
    b.DisposalMethod = 0xFB;  // only the lowest three bits count
    b.exposition = std::string(300, 'c');
    ASSERT_TRUE(maker.AddFrame(a, {}, solid_bmp(4, 4, {0, 0, 0})));
    ASSERT_TRUE(maker.AddFrame(b, {}, solid_bmp(4, 4, {0, 0, 0})));
    ASSERT_TRUE(maker.SaveGif(dir / "two.gif"));
    const Bytes gif = read_bytes(dir / "two.gif");
    const Bytes loop = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01, 0, 0, 0};
    EXPECT_TRUE(std::equal(loop.begin(), loop.end(), gif.begin() + 13 + 768));
    EXPECT_TRUE(contains(gif, {0x21, 0xF9, 0x04, 0x09, 0x3C, 0x00, 0x00, 0x00}));  // frame a: delay 60 default
    EXPECT_TRUE(contains(gif, {0x21, 0xF9, 0x04, 0x0C, 0x3C, 0x00, 0x00, 0x00}));  // frame b
    Bytes comment = {0x21, 0xFE, 0xFF};
    comment.insert(comment.end(), 255, 'c');
    comment.push_back(0x00);
    comment.push_back(0x2C);
    EXPECT_TRUE(contains(gif, comment));
    EXPECT_FALSE(contains(gif, Bytes(256, 'c')));
    EXPECT_EQ(gif.back(), 0x3B);
}

TEST(GifMaker, ResetRestoresDefaultsButKeepsInterlace) {
    TempDir dir;
    GifMaker maker;
    AnimationInfo info;
    info.LOOP = 0;
    info.Interlace = 1;
    info.LoopCount = 5;
    maker.Create(info);
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 9, {5, 5, 5})));
    maker.Reset();
    EXPECT_EQ(maker.FrameCount(), 0);
    EXPECT_FALSE(maker.SaveGif(dir / "none.gif"));
    EXPECT_EQ(maker.GetError(), kNoFrames);
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 9, {5, 5, 5})));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 9, {6, 6, 6})));
    ASSERT_TRUE(maker.SaveGif(dir / "after.gif"));
    const Bytes gif = read_bytes(dir / "after.gif");
    EXPECT_EQ(gif[13 + 768], 0x21);  // looping extension is back, with count 0
    EXPECT_EQ(word_at(gif, 13 + 768 + 16), 0);
    EXPECT_TRUE(contains(gif, {0x2C, 0, 0, 0, 0, 4, 0, 9, 0, 0xC7}));  // still interlaced
}

TEST(GifMaker, LoopDisabledWritesNoApplicationExtensionAndSavingRepeats) {
    TempDir dir;
    GifMaker maker;
    AnimationInfo info;
    info.LOOP = 0;
    maker.Create(info);
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(5, 5, {5, 5, 5})));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(5, 5, {250, 5, 5})));
    ASSERT_TRUE(maker.SaveGif(dir / "a.gif"));
    ASSERT_TRUE(maker.SaveGif(dir / "b.gif"));
    const Bytes a = read_bytes(dir / "a.gif");
    EXPECT_FALSE(contains(a, {0x21, 0xFF}));
    EXPECT_EQ(a[13 + 768], 0x21);
    EXPECT_EQ(a[13 + 768 + 1], 0xF9);
    EXPECT_EQ(a, read_bytes(dir / "b.gif"));
}

TEST(GifMaker, CreateOnACreatedMakerStartsAgain) {
    TempDir dir;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {5, 5, 5})));
    AnimationInfo info;
    info.Width = 7;
    info.Depth = 3;
    info.LoopCount = 2;
    maker.Create(info);
    EXPECT_EQ(maker.FrameCount(), 0);
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {5, 5, 5})));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(4, 4, {5, 5, 5})));
    ASSERT_TRUE(maker.SaveGif(dir / "out.gif"));
    const Bytes gif = read_bytes(dir / "out.gif");
    EXPECT_EQ(word_at(gif, 6), 7);
    EXPECT_EQ(word_at(gif, 8), 3);
    EXPECT_EQ(word_at(gif, 13 + 768 + 16), 2);
}

// Frames are reduced and compressed on several threads; the file must not show how many. Mixed
// sizes, dithered and popularity frames, an interlaced animation and a picture that fails to decode
// in the middle, for 1 to 7 threads.
TEST(GifMaker, BytesDoNotDependOnTheThreadCount) {
    TempDir dir;
    std::vector<Bytes> pictures;
    for (int i = 0; i < 9; ++i) {
        const int w = 37 + 61 * (i % 4), h = 23 + 47 * (i % 3);
        pictures.push_back(make_bmp(w, h, [i](int x, int y) { return screen_like_pixel(x + 13 * i, y + 7 * i, i); }));
    }
    const Bytes not_a_picture(200, 0x42);
    for (bool interlace : {false, true}) {
        Bytes first;
        for (unsigned threads : {1u, 2u, 3u, 7u}) {
            GifMaker maker;
            maker.SetThreads(threads);
            AnimationInfo info;
            info.Interlace = interlace;
            ASSERT_TRUE(maker.Create(info));
            for (std::size_t i = 0; i < pictures.size(); ++i) {
                FrameInfo frame;
                frame.DelayTime = static_cast<std::int16_t>(10 + i);
                frame.Dither = i % 3 == 1;
                ASSERT_TRUE(maker.AddFrame(frame, {}, pictures[i])) << maker.GetError();
                if (i == 4) {
                    EXPECT_FALSE(maker.AddFrame(frame, {}, not_a_picture));
                    EXPECT_EQ(maker.GetError(), kUndecodable);
                }
            }
            EXPECT_EQ(maker.FrameCount(), 9);
            const fs::path out = dir / "threads.gif";
            ASSERT_TRUE(maker.SaveGif(out)) << maker.GetError();
            const Bytes gif = read_bytes(out);
            if (first.empty()) {
                first = gif;
            } else {
                EXPECT_EQ(gif, first) << threads << " threads, interlace " << interlace;
            }
        }
    }
}

// Frames written beside the target as they are finished make the same bytes as frames held
// until the save, for a still picture and an animation, plain and optimized, and so does a save
// into memory, of frames held in memory or in the temporary file; nothing is left beside the
// target, and frames dropped unsaved leave nothing either.
TEST(GifMaker, StreamedFramesMakeTheSameBytesAndLeaveNothingBehind) {
    TempDir dir;
    std::vector<Bytes> pictures;
    for (int i = 0; i < 9; ++i) {
        // Every third picture like the one before, so that optimized frames are merged too.
        const int k = i - (i % 3 == 2);
        pictures.push_back(make_bmp(60, 30, [k](int x, int y) { return screen_like_pixel(x + 5 * k, y, k); }));
    }
    const auto files = [&] { return std::distance(fs::directory_iterator(dir.dir), {}); };
    for (const bool optimize : {false, true}) {
        const auto make = [&](GifMaker& maker, std::size_t count) {
            maker.SetOptimization({optimize, Optimization::kDefaultQuality});
            AnimationInfo info;
            info.Interlace = 1;
            ASSERT_TRUE(maker.Create(info));
            for (std::size_t i = 0; i < count; ++i) {
                FrameInfo frame;
                frame.DelayTime = static_cast<std::int16_t>(3 + i);
                ASSERT_TRUE(maker.AddFrame(frame, {}, pictures[i])) << maker.GetError();
            }
        };
        for (const std::size_t count : {std::size_t{1}, pictures.size()}) {
            GifMaker held;
            make(held, count);
            ASSERT_TRUE(held.SaveGif(dir / "held.gif")) << held.GetError();
            Bytes memory{1, 2, 3};
            ASSERT_TRUE(held.SaveGif(memory)) << held.GetError();
            EXPECT_EQ(memory, read_bytes(dir / "held.gif")) << count << " " << optimize;
            GifMaker spilled;
            spilled.SetMemoryBudget(1);
            make(spilled, count);
            ASSERT_TRUE(spilled.SaveGif(memory)) << spilled.GetError();
            EXPECT_EQ(memory, read_bytes(dir / "held.gif")) << count << " " << optimize;
            GifMaker streamed;
            streamed.SetThreads(2);
            streamed.StreamTo(dir / "streamed.gif");
            make(streamed, count);
            EXPECT_FALSE(fs::exists(dir / "streamed.gif"));
            EXPECT_FALSE(streamed.SaveGif(memory));  // the frames go to the target, and still can
            ASSERT_TRUE(streamed.SaveGif(dir / "streamed.gif")) << streamed.GetError();
            EXPECT_EQ(read_bytes(dir / "streamed.gif"), read_bytes(dir / "held.gif")) << count << " " << optimize;
            EXPECT_FALSE(streamed.SaveGif(dir / "streamed.gif"));  // its frames are in the file now
            EXPECT_EQ(files(), 2) << count;
            fs::remove(dir / "held.gif");
            fs::remove(dir / "streamed.gif");
        }
        // The first frames are in a file of their own beside the target before the save.
        GifMaker elsewhere;
        elsewhere.StreamTo(dir / "meant.gif");
        make(elsewhere, pictures.size());
        EXPECT_EQ(files(), 1) << optimize;
        EXPECT_FALSE(elsewhere.SaveGif(dir / "other.gif"));
        elsewhere.Reset();
        EXPECT_EQ(files(), 0) << optimize;
    }
}

// The same on recorded frames: twelve JPEG frames of the screen-like corpus, by path, for 1, 2
// and 5 threads.
TEST(GifMaker, CorpusFramesGiveTheSameBytesForEveryThreadCount) {
    const char* corpus = std::getenv("GIFANIM_CORPUS");
    if (!corpus || !*corpus) GTEST_SKIP() << "GIFANIM_CORPUS is not set";
    const fs::path frames = fs::path(corpus) / "seq720" / "jpg";
    ASSERT_TRUE(fs::exists(frames)) << frames;
    TempDir dir;
    Bytes first;
    for (unsigned threads : {1u, 2u, 5u}) {
        GifMaker maker;
        maker.SetThreads(threads);
        ASSERT_TRUE(maker.Create(AnimationInfo{}));
        for (int i = 0; i < 60; i += 5) {
            char name[16];
            std::snprintf(name, sizeof name, "%03d.jpg", i);
            ASSERT_TRUE(maker.AddFrame(FrameInfo{}, frames / name)) << name << ": " << maker.GetError();
        }
        ASSERT_TRUE(maker.SaveGif(dir / "corpus.gif")) << maker.GetError();
        const Bytes gif = read_bytes(dir / "corpus.gif");
        if (first.empty()) {
            first = gif;
        } else {
            EXPECT_EQ(gif, first) << threads << " threads";
        }
    }
}

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A maker kept for a whole run must not hold the scratch of its largest frame once the animation
// is reset: the buffers of a 2000 x 1500 frame (more than 20 MB) go back after Reset. Counted by
// glibc's allocator, which the sanitizers replace with their own.
std::size_t bytes_in_use() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;  // heap blocks and blocks of their own mapping
}

TEST(GifMaker, ResetGivesBackTheScratchOfLargeFrames) {
    TempDir dir;
    const Bytes big = make_bmp(2000, 1500, [](int x, int y) { return screen_like_pixel(x, y, 3); });
    GifMaker maker;
    maker.SetThreads(2);
    ASSERT_TRUE(maker.Create(AnimationInfo{}));
    const std::size_t before = bytes_in_use();
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, big));
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, big));
    ASSERT_TRUE(maker.SaveGif(dir / "big.gif"));
    EXPECT_GT(bytes_in_use(), before + (20u << 20));
    maker.Reset();
    EXPECT_LT(bytes_in_use(), before + (4u << 20));
    // Small frames keep their scratch between animations, and everything still works.
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(8, 8, {1, 2, 3})));
    ASSERT_TRUE(maker.SaveGif(dir / "small.gif"));
}
#endif

}  // namespace
}  // namespace gifanim::test
