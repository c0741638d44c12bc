// The optimizing mode of GifMaker, judged by giflib: every GIF is decoded by giflib and composed
// here, frame over frame as a viewer does, and the pictures shown are held against the frames
// that went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gif/gif_maker.h"
#include "tests/unit/gif_oracle.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top-down
    Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Picture picture(int w, int h, const PixelFn& f) {
    Picture p{w, h, std::vector<Rgb>(static_cast<std::size_t>(w) * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.at(x, y) = f(x, y);
    return p;
}

Bytes bmp_of(const Picture& p) {
    return make_bmp(p.width, p.height, [&p](int x, int y) { return p.at(x, y); });
}

Bytes read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int distance2(const Rgb& a, const Rgb& b) {
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

// What a viewer shows after each frame, with how long: disposal and transparency honoured.
struct Shown {
    Picture canvas;
    int delay = 0;
};

std::vector<Shown> compose(const OracleGif& gif) {
    std::vector<Shown> shown;
    Picture canvas{gif.width, gif.height, std::vector<Rgb>(static_cast<std::size_t>(gif.width) * gif.height)};
    for (const OracleFrame& f : gif.frames) {
        const Picture before = canvas;
        const std::vector<std::uint8_t>& table = f.local_palette.empty() ? gif.global_palette : f.local_palette;
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                const int cx = f.left + x, cy = f.top + y;
                const int index = f.pixels[static_cast<std::size_t>(y) * f.width + x];
                if (index == f.transparent_index || cx >= gif.width || cy >= gif.height) continue;
                EXPECT_LT(3u * index + 2, table.size()) << "an index beyond the colour table";
                if (3u * index + 2 >= table.size()) continue;
                canvas.at(cx, cy) = {table[3u * index], table[3u * index + 1], table[3u * index + 2]};
            }
        }
        shown.push_back({canvas, f.delay});
        if (f.disposal == 2) {
            for (int y = f.top; y < std::min(gif.height, f.top + f.height); ++y)
                for (int x = f.left; x < std::min(gif.width, f.left + f.width); ++x) canvas.at(x, y) = Rgb{};
        } else if (f.disposal == 3) {
            canvas = before;
        }
    }
    return shown;
}

// The picture shown at each source frame's time, all frames `delay` long.
std::vector<Picture> timeline(const std::vector<Shown>& shown, int delay, std::size_t frames) {
    std::vector<Picture> at;
    for (const Shown& s : shown) {
        EXPECT_EQ(s.delay % delay, 0) << "a delay that is not a sum of the frames' delays";
        for (int t = 0; t < s.delay / delay; ++t) at.push_back(s.canvas);
    }
    EXPECT_EQ(at.size(), frames) << "the delays do not add up to the frames' time";
    return at;
}

struct Made {
    OracleGif gif;
    std::vector<Picture> shown;  // at each frame's time
    Bytes bytes;
};

Made make(const fs::path& out, const std::vector<Picture>& frames, int quality, unsigned threads = 0,
          bool reverse = false, std::size_t budget = GifMaker::kDefaultMemoryBudget) {
    GifMaker maker;
    maker.SetThreads(threads);
    maker.SetMemoryBudget(budget);
    maker.SetOptimization({true, quality});
    Made made;
    EXPECT_TRUE(maker.Create(AnimationInfo{}));
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Picture& p = frames[reverse ? frames.size() - 1 - k : k];
        FrameInfo info;
        info.DelayTime = 10;
        EXPECT_TRUE(maker.AddFrame(info, {}, bmp_of(p))) << maker.GetError();
        // A picture that does not decode is refused and leaves the frames around it as they are.
        if (k == 2) {
            EXPECT_FALSE(maker.AddFrame(info, {}, Bytes(200, 0x42)));
        }
    }
    EXPECT_TRUE(maker.SaveGif(out)) << maker.GetError();
    made.bytes = read_bytes(out);
    made.gif = oracle_decode(out);
    made.shown = timeline(compose(made.gif), 10, frames.size());
    return made;
}

// A desktop of flat panels with a window dragged across it, text typed into a panel line by line, a
// panel fading by steps each too small to redraw on its own,
// a cursor blinking every three frames, and frames where nothing else moves: about a hundred colours.
std::vector<Picture> desktop_session(int w, int h, int count) {
    std::vector<Picture> frames;
    for (int k = 0; k < count; ++k) {
        const int still = std::min(k, count / 2);  // the second half stands still but for the cursor
        frames.push_back(picture(w, h, [=](int x, int y) -> Rgb {
            const int wx = 10 + 6 * still, wy = 20 + 3 * still;
            if (x >= wx && x < wx + 50 && y >= wy && y < wy + 30) {
                if (y < wy + 6) return {40, 90, 200};
                return ((x - wx) / 3 + (y - wy) / 5) % 7 == 0 ? Rgb{20, 20, 20} : Rgb{240, 240, 240};
            }
            const int line = (y - 70) / 8;
            if (y >= 70 && line <= still / 2 && x < 12 + 5 * ((still * 7 + line * 3) % 23) && (x * 7 + y * 3) % 5 < 2)
                return {static_cast<std::uint8_t>(200 + line * 5), 230, 180};
            if (x >= 110 && x < 140 && y >= 10 && y < 40) {  // a panel fading a little every frame
                const auto step = static_cast<std::uint8_t>(3 * still);
                return {static_cast<std::uint8_t>(100 + step), static_cast<std::uint8_t>(120 + step), 60};
            }
            if (x >= 140 && x < 142 && y >= 100 && y < 110 && (k / 3) % 2 == 0) return {255, 255, 255};
            return {static_cast<std::uint8_t>(30 + (x / 20) * 8), static_cast<std::uint8_t>(60 + (y / 30) * 10), 90};
        }));
    }
    return frames;
}

void expect_within(const std::vector<Picture>& shown, const std::vector<Picture>& frames, int bound,
                   const std::string& what) {
    ASSERT_EQ(shown.size(), frames.size()) << what;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        int worst = 0;
        for (std::size_t i = 0; i < frames[k].pixels.size(); ++i)
            worst = std::max(worst, distance2(shown[k].pixels[i], frames[k].pixels[i]));
        EXPECT_LE(worst, bound) << what << ", frame " << k;
    }
}

// The PSNR of what is shown against the frame, over all three channels.
double psnr(const Picture& shown, const Picture& frame) {
    double sum = 0;
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) sum += distance2(shown.pixels[i], frame.pixels[i]);
    return 10 * std::log10(255.0 * 255.0 * 3 * static_cast<double>(frame.pixels.size()) / std::max(sum, 1.0));
}

struct TempDir : ScratchDir {
    TempDir() : ScratchDir("gifanim-optimize-") {}
};

// Few colours: every table is exact, so what is shown strays from a frame by no more than the
// quality allows (none at 100, 3 x 20^2 at the default), forwards and backwards; still frames merge
// into the one before with their time added; only the first frame has no transparency, and every
// frame is left in place for the next.
TEST(GifMakerOptimized, ShownFramesStayWithinTheBoundForwardsAndBackwards) {
    TempDir dir;
    const std::vector<Picture> frames = desktop_session(160, 120, 16);
    for (bool reverse : {false, true}) {
        std::vector<Picture> order = frames;
        if (reverse) std::reverse(order.begin(), order.end());
        for (int quality : {100, Optimization::kDefaultQuality}) {
            const std::string what = std::string(reverse ? "backwards" : "forwards") + " at " + std::to_string(quality);
            const Made made = make(dir.dir / "out.gif", frames, quality, 0, reverse);
            expect_within(made.shown, order, quality == 100 ? 0 : 3 * 20 * 20, what);
            ASSERT_FALSE(made.gif.frames.empty());
            EXPECT_LT(made.gif.frames.size(), frames.size()) << what << ": still frames were not merged";
            EXPECT_EQ(made.gif.frames[0].transparent_index, -1) << what;
            EXPECT_EQ(made.gif.frames[0].width, 160);
            for (const OracleFrame& f : made.gif.frames) EXPECT_EQ(f.disposal, 1) << what;
        }
    }
}

// Rectangles of more rows than one LZW part holds are coded in parts, each from a fresh table,
// joined into one image, and the parts may be coded on several threads: giflib reads them, what is
// shown stays within the bound, and the bytes do not depend on the threads.
TEST(GifMakerOptimized, LargeRectanglesCodedInPartsStayWithinTheBound) {
    TempDir dir;
    std::vector<Picture> frames;
    for (int k = 0; k < 4; ++k) {
        frames.push_back(picture(520, 400, [k](int x, int y) -> Rgb {  // about a hundred colours
            if (x >= 20 + 40 * k && x < 300 + 40 * k && y >= 30 + 20 * k && y < 330 + 20 * k)
                return (x / 3 + y / 5) % 7 == 0 ? Rgb{20, 20, 20} : Rgb{240, 240, 240};
            return {static_cast<std::uint8_t>(30 + (x / 40) * 12), static_cast<std::uint8_t>(60 + (y / 50) * 15), 90};
        }));
    }
    Picture inverted = frames.back();  // every pixel changes
    for (Rgb& c : inverted.pixels)
        c = {static_cast<std::uint8_t>(255 - c.r), static_cast<std::uint8_t>(255 - c.g),
             static_cast<std::uint8_t>(255 - c.b)};
    frames.push_back(inverted);
    for (int quality : {100, Optimization::kDefaultQuality}) {
        const Made one = make(dir.dir / "1.gif", frames, quality, 1);
        expect_within(one.shown, frames, quality == 100 ? 0 : 3 * 20 * 20, "at " + std::to_string(quality));
        EXPECT_EQ(make(dir.dir / "2.gif", frames, quality, 2).bytes, one.bytes) << "at " << quality;
    }
}

// A first frame large enough and of colours enough to be worked in parts on every core (its
// copy, colour bins, k-means passes and nearest entries): the bytes do not depend on the threads,
// and every frame is shown close to its picture.
TEST(GifMakerOptimized, ALargeFirstFrameOfManyColoursIsTheSameOnAnyThreads) {
    TempDir dir;
    const auto photo = [](int shift) {
        return picture(600, 500, [shift](int x, int y) -> Rgb {
            Lcg rng(static_cast<std::uint64_t>(x * 7919 + y * 104729));
            const auto n = static_cast<int>(rng.next() % 48);
            return {static_cast<std::uint8_t>((x + shift) * 200 / 700 + n),
                    static_cast<std::uint8_t>(y * 200 / 500 + n),
                    static_cast<std::uint8_t>(((x + shift) ^ y) % 160 + n)};
        });
    };
    const std::vector<Picture> frames{photo(0), photo(30)};
    const Made one = make(dir.dir / "1.gif", frames, Optimization::kDefaultQuality, 1);
    for (unsigned threads : {2u, 5u})
        EXPECT_EQ(make(dir.dir / "n.gif", frames, Optimization::kDefaultQuality, threads).bytes, one.bytes)
            << threads << " threads";
    ASSERT_EQ(one.shown.size(), frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k)
        EXPECT_GE(psnr(one.shown[k], frames[k]), 27.0)
            << "frame " << k;  // 256 colours for noise of 48 levels: about 28 dB
}

// A photo-like picture of thousands of colours under a small square moving across it: what is
// shown stays close to every frame, and the still part is as close at the end as after the first
// frame, so errors do not pile up.
TEST(GifMakerOptimized, ManyColoursStayCloseAndDoNotDrift) {
    TempDir dir;
    std::vector<Picture> frames;
    for (int k = 0; k < 20; ++k) {
        frames.push_back(picture(128, 96, [k](int x, int y) -> Rgb {
            if (x >= 4 * k && x < 4 * k + 12 && y >= 40 && y < 52) return {250, 30, 30};
            return screen_like_pixel(x, y, 1);
        }));
    }
    const Made made = make(dir.dir / "photo.gif", frames, Optimization::kDefaultQuality);
    ASSERT_EQ(made.shown.size(), frames.size());
    const auto still_error = [&](std::size_t k) {
        double sum = 0;
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 128; ++x)
                if (y < 36 || y >= 56) sum += distance2(made.shown[k].at(x, y), frames[k].at(x, y));
        return sum;
    };
    for (std::size_t k = 0; k < frames.size(); ++k) EXPECT_GE(psnr(made.shown[k], frames[k]), 30.0) << "frame " << k;
    EXPECT_LE(still_error(frames.size() - 1), still_error(0) * 1.001 + 1);
}

// The same bytes for 1, 2 and 5 threads, and whether the held frames stay in memory or go to the
// temporary file; frames of another size than the first (a window resized while recording) are
// placed at the top left and cut to the canvas.
TEST(GifMakerOptimized, BytesDoNotDependOnThreadsOrTheMemoryBudget) {
    TempDir dir;
    std::vector<Picture> frames = desktop_session(160, 120, 10);
    frames.insert(frames.begin() + 5, picture(100, 70, [](int x, int y) { return screen_like_pixel(x, y, 4); }));
    frames.insert(frames.begin() + 7, picture(220, 150, [](int x, int y) { return screen_like_pixel(x, y, 5); }));
    const Made first = make(dir.dir / "1.gif", frames, Optimization::kDefaultQuality, 1);
    for (unsigned threads : {2u, 5u}) {
        EXPECT_EQ(make(dir.dir / "n.gif", frames, Optimization::kDefaultQuality, threads).bytes, first.bytes)
            << threads << " threads";
    }
    EXPECT_EQ(make(dir.dir / "b.gif", frames, Optimization::kDefaultQuality, 2, false, 1).bytes, first.bytes)
        << "frames held in the temporary file";

    // What each frame shows: the frame itself where it reaches, what was there before elsewhere.
    std::vector<Picture> expected;
    Picture canvas = frames[0];
    for (const Picture& f : frames) {
        for (int y = 0; y < std::min(f.height, 120); ++y)
            for (int x = 0; x < std::min(f.width, 160); ++x) canvas.at(x, y) = f.at(x, y);
        expected.push_back(canvas);
    }
    ASSERT_EQ(first.shown.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        double sum = 0;
        for (std::size_t i = 0; i < expected[k].pixels.size(); ++i)
            sum += distance2(first.shown[k].pixels[i], expected[k].pixels[i]);
        EXPECT_LT(sum / static_cast<double>(expected[k].pixels.size()), 60.0) << "frame " << k;
    }
}

// Off, the mode changes nothing: a maker told a quality but not to optimize writes the bytes of
// one never told anything, and the bounded maker the same bytes as an unbounded one.
TEST(GifMakerOptimized, TheDefinedOutputStaysAsItIs) {
    TempDir dir;
    const std::vector<Picture> frames = desktop_session(96, 64, 6);
    const auto plain = [&](const fs::path& out, bool told, std::size_t budget) {
        GifMaker maker;
        if (told) maker.SetOptimization({false, 20});
        maker.SetMemoryBudget(budget);
        EXPECT_TRUE(maker.Create(AnimationInfo{}));
        for (const Picture& p : frames) EXPECT_TRUE(maker.AddFrame(FrameInfo{}, {}, bmp_of(p)));
        EXPECT_TRUE(maker.SaveGif(out)) << maker.GetError();
        return read_bytes(out);
    };
    const Bytes untold = plain(dir.dir / "a.gif", false, GifMaker::kDefaultMemoryBudget);
    EXPECT_EQ(plain(dir.dir / "b.gif", true, GifMaker::kDefaultMemoryBudget), untold);
    EXPECT_EQ(plain(dir.dir / "c.gif", false, 1), untold);
}

// A picture taken as shown writes nothing and the frame after it is stored against it: only the
// square that differs from it is drawn, over what the frame before left. It needs a frame before
// it, and the plain mode ignores it.
TEST(GifMakerOptimized, APictureTakenAsShownIsStoredAgainstButNotWritten) {
    TempDir dir;
    const Picture before = picture(96, 64, [](int x, int y) { return screen_like_pixel(x, y, 1); });
    const Picture shown = picture(96, 64, [](int x, int y) { return screen_like_pixel(x, y, 2); });
    Picture after = shown;
    for (int y = 20; y < 30; ++y)
        for (int x = 40; x < 50; ++x) after.at(x, y) = {250, 30, 30};
    for (const bool optimize : {true, false}) {
        GifMaker maker;
        maker.SetOptimization({optimize, 100});
        ASSERT_TRUE(maker.Create(AnimationInfo{}));
        EXPECT_EQ(maker.AddShownFrame(FrameInfo{}, bmp_of(shown)), !optimize) << "with no frame before";
        ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, bmp_of(before)));
        ASSERT_TRUE(maker.AddShownFrame(FrameInfo{}, bmp_of(shown))) << maker.GetError();
        ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, bmp_of(after)));
        EXPECT_EQ(maker.FrameCount(), 2);
        ASSERT_TRUE(maker.SaveGif(dir.dir / "s.gif")) << maker.GetError();
        const OracleGif gif = oracle_decode(dir.dir / "s.gif");
        ASSERT_EQ(gif.frames.size(), 2u) << optimize;
        if (!optimize) continue;
        const OracleFrame& f = gif.frames[1];
        EXPECT_TRUE(f.left == 40 && f.top == 20 && f.width == 10 && f.height == 10)
            << f.left << "," << f.top << " " << f.width << "x" << f.height;
        const std::vector<Shown> composed = compose(gif);
        EXPECT_TRUE(composed.back().canvas.at(45, 25) == after.at(45, 25));
        EXPECT_TRUE(composed.back().canvas.at(5, 5) == before.at(5, 5));
    }
}

// A logical screen far beyond any picture (30000 x 30000) is refused in the optimizing mode before
// its canvas is made, with the size error; the plain mode, which keeps no canvas, takes it.
TEST(GifMakerOptimized, AHugeLogicalScreenIsRefused) {
    TempDir dir;
    AnimationInfo huge;
    huge.Width = 30000;
    huge.Depth = 30000;
    const Bytes frame = bmp_of(desktop_session(16, 16, 1)[0]);
    GifMaker optimized;
    optimized.SetOptimization({true, Optimization::kDefaultQuality});
    ASSERT_TRUE(optimized.Create(huge));
    EXPECT_FALSE(optimized.AddFrame(FrameInfo{}, {}, frame));
    EXPECT_EQ(optimized.GetError(), "\xCD\xBC\xC6\xAC\xB3\xDF\xB4\xE7\xB3\xAC\xB3\xF6GIF\xB5\xC4\xB7\xB6\xCE\xA7");
    EXPECT_EQ(optimized.FrameCount(), 0);
    GifMaker plain;
    ASSERT_TRUE(plain.Create(huge));
    EXPECT_TRUE(plain.AddFrame(FrameInfo{}, {}, frame)) << plain.GetError();
}

// Frames past the budget go to a file in the temporary folder, which is gone once the frames are:
// after a save and Reset, after a failed save and Clear, and when the maker goes.
TEST(GifMakerOptimized, TheTemporaryFileGoesWithTheFrames) {
    TempDir dir;
    const fs::path tmp = dir.dir / "tmp";
    fs::create_directories(tmp);
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    const auto files = [&] { return std::distance(fs::directory_iterator(tmp), fs::directory_iterator()); };
    // More frames than the plain mode keeps in flight on one thread, so that some are held.
    const std::vector<Picture> frames = desktop_session(96, 64, 8);
    for (bool optimize : {false, true}) {
        for (int exit_path = 0; exit_path < 3; ++exit_path) {
            {
                GifMaker maker;
                maker.SetOptimization({optimize, Optimization::kDefaultQuality});
                maker.SetMemoryBudget(1);
                maker.SetThreads(1);
                ASSERT_TRUE(maker.Create(AnimationInfo{}));
                for (const Picture& p : frames) ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, bmp_of(p)));
                if (exit_path == 0) {
                    ASSERT_TRUE(maker.SaveGif(dir.dir / "ok.gif")) << maker.GetError();
                    EXPECT_EQ(files(), 1) << "the frames stay for another save";
                    ASSERT_TRUE(maker.SaveGif(dir.dir / "again.gif"));
                    EXPECT_EQ(read_bytes(dir.dir / "again.gif"), read_bytes(dir.dir / "ok.gif"));
                    maker.Reset();
                } else if (exit_path == 1) {
                    EXPECT_FALSE(maker.SaveGif(dir.dir / "no such folder" / "x.gif"));
                    maker.Clear();
                }
                EXPECT_EQ(files(), exit_path == 2 ? 1 : 0) << "optimize " << optimize << ", exit path " << exit_path;
            }
            EXPECT_EQ(files(), 0);
        }
    }

    // A temporary folder that cannot take the file: adding or saving fails with a reason, nothing
    // is written, and nothing breaks.
    setenv("TMPDIR", (tmp / "missing").c_str(), 1);
    for (bool optimize : {false, true}) {
        GifMaker maker;
        maker.SetOptimization({optimize, Optimization::kDefaultQuality});
        maker.SetMemoryBudget(1);
        maker.SetThreads(1);
        ASSERT_TRUE(maker.Create(AnimationInfo{}));
        bool refused = false;
        for (const Picture& p : frames) refused |= !maker.AddFrame(FrameInfo{}, {}, bmp_of(p));
        refused |= !maker.SaveGif(dir.dir / "unheld.gif");
        EXPECT_TRUE(refused) << "optimize " << optimize;
        EXPECT_FALSE(maker.GetError().empty()) << "optimize " << optimize;
        EXPECT_FALSE(fs::exists(dir.dir / "unheld.gif"));
    }
    if (old) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

}  // namespace
}  // namespace gifanim::test
