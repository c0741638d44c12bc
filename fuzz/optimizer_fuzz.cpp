// The optimizing maker on animations drawn from arbitrary bytes: small frames (now and then large
// ones) of few colours or of noise, rectangles that change, frames of another size or place than
// the canvas, any delay, any quality, a held-frame budget small enough to keep them in a file. Every
// animation is written on one thread and on three, and judged by giflib: the two files are the same
// bytes; giflib reads the file; the delays add up to the frames'; no index lies past its table; and
// where every frame has few colours (exact tables), what a viewer shows at each frame's time stays
// within the quality's bound of the frames laid on the canvas. A broken property aborts, so
// libFuzzer keeps the input like any crash.
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_draw.h"
#include "gif/gif_maker.h"
#include "tests/unit/test_images.h"

namespace {

using gifanim::fuzz::check;
using gifanim::fuzz::Draw;

using Bytes = std::vector<std::uint8_t>;
using gifanim::test::Rgb;

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top-down
    Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

struct Frame {
    Picture picture;
    int left = 0, top = 0, delay = 0;
};

int distance2(const Rgb& a, const Rgb& b) {
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

// The frames: the first sets the canvas; each later one is the one before with a rectangle
// repainted, or a new picture, now and then of another size or placed off the corner.
std::vector<Frame> draw_frames(Draw& d, bool few_colours) {
    std::vector<Rgb> colours(1 + d.below(12));
    for (Rgb& c : colours) c = {d.byte(), d.byte(), d.byte()};
    const auto colour = [&] {
        return few_colours ? colours[d.below(static_cast<int>(colours.size()))] : Rgb{d.byte(), d.byte(), d.byte()};
    };
    std::vector<Frame> frames(1 + d.below(6));
    for (std::size_t k = 0; k < frames.size(); ++k) {
        Frame& f = frames[k];
        f.delay = d.below(4) == 0 ? 0 : 1 + d.below(30);
        const int how = d.below(8);
        if (k == 0 || how == 0) {
            // Now and then large enough for its rectangles to be coded in parts on several threads.
            const bool large = d.below(16) == 15;  // not once the input is used up
            f.picture.width = large ? 300 + d.below(221) : 1 + d.below(40);
            f.picture.height = large ? 300 + d.below(101) : 1 + d.below(40);
            if (k > 0 && d.below(2) == 0) {
                f.left = d.below(20);
                f.top = d.below(20);
            }
            f.picture.pixels.resize(static_cast<std::size_t>(f.picture.width) * f.picture.height);
            const Rgb ground = colour();
            for (Rgb& c : f.picture.pixels) c = d.below(3) == 0 ? colour() : ground;
        } else {
            f.picture = frames[k - 1].picture;
            f.left = frames[k - 1].left;
            f.top = frames[k - 1].top;
            if (how == 1) continue;  // unchanged
            const int x0 = d.below(f.picture.width), y0 = d.below(f.picture.height);
            const int x1 = std::min(f.picture.width, x0 + 1 + d.below(f.picture.width));
            const int y1 = std::min(f.picture.height, y0 + 1 + d.below(f.picture.height));
            const Rgb fill = colour();
            const bool noisy = how >= 5;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) f.picture.at(x, y) = noisy ? colour() : fill;
        }
    }
    return frames;
}

// The GIF of the frames, its frames held until the save or (`stream`) written as they are placed.
Bytes write(const std::vector<Frame>& frames, int quality, unsigned threads, std::size_t budget,
            const std::filesystem::path& path, bool stream) {
    gifanim::GifMaker maker;
    maker.SetThreads(threads);
    if (stream) maker.StreamTo(path);
    maker.SetMemoryBudget(budget);
    maker.SetOptimization({true, quality});
    check(maker.Create(gifanim::AnimationInfo{}), "Create");
    for (const Frame& f : frames) {
        gifanim::FrameInfo info;
        info.DelayTime = static_cast<std::int16_t>(f.delay);
        info.Left = static_cast<std::int16_t>(f.left);
        info.Top = static_cast<std::int16_t>(f.top);
        const Picture& p = f.picture;
        const Bytes bmp = gifanim::test::make_bmp(
            p.width, p.height, [&p](int x, int y) { return p.pixels[static_cast<std::size_t>(y) * p.width + x]; });
        check(maker.AddFrame(info, {}, bmp), "AddFrame");
    }
    check(maker.SaveGif(path), "SaveGif");
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// giflib's reading of the file, composed frame over frame as a viewer does (disposal 1 and 0
// leave a frame in place, as the optimizer writes them), each shown picture checked against the
// frames laid on the canvas at the times it covers.
void judge(const std::filesystem::path& path, const std::vector<Frame>& frames, int bound) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    check(gif != nullptr, "giflib opens the file");
    check(DGifSlurp(gif) == GIF_OK, "giflib reads the file");
    const int w = gif->SWidth, h = gif->SHeight;
    check(w == frames[0].picture.width && h == frames[0].picture.height, "canvas of the first frame's size");
    check(gif->ImageCount >= 1 && static_cast<std::size_t>(gif->ImageCount) <= frames.size(), "frame count");

    // What each source frame's time should show: the frames laid on the canvas one over another.
    std::vector<std::vector<Rgb>> wanted;
    std::vector<Rgb> canvas(static_cast<std::size_t>(w) * h);
    long source_time = 0;
    std::vector<long> starts;
    for (const Frame& f : frames) {
        for (int y = 0; y < f.picture.height; ++y)
            for (int x = 0; x < f.picture.width; ++x)
                if (f.left + x < w && f.top + y < h)
                    canvas[static_cast<std::size_t>(f.top + y) * w + f.left + x] =
                        f.picture.pixels[static_cast<std::size_t>(y) * f.picture.width + x];
        wanted.push_back(canvas);
        starts.push_back(source_time);
        source_time += f.delay;
    }

    std::vector<Rgb> shown(static_cast<std::size_t>(w) * h);
    long gif_time = 0;
    std::size_t next = 0;  // the next source frame to check
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        GraphicsControlBlock control{};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, i, &control);
        check(control.DisposalMode == DISPOSE_DO_NOT || control.DisposalMode == DISPOSAL_UNSPECIFIED, "disposal");
        const ColorMapObject* table = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        check(table != nullptr, "a colour table");
        const GifImageDesc& desc = image.ImageDesc;
        for (int y = 0; y < desc.Height; ++y) {
            for (int x = 0; x < desc.Width; ++x) {
                const int index = image.RasterBits[static_cast<std::size_t>(y) * desc.Width + x];
                if (index == control.TransparentColor) continue;
                check(index < table->ColorCount, "an index within its table");
                if (desc.Left + x >= w || desc.Top + y >= h) continue;
                const GifColorType c = table->Colors[index];
                shown[static_cast<std::size_t>(desc.Top + y) * w + desc.Left + x] = {c.Red, c.Green, c.Blue};
            }
        }
        gif_time += control.DelayTime;
        // The source frames that start while this one is shown.
        for (; next < frames.size() && (starts[next] < gif_time || (i + 1 == gif->ImageCount)); ++next) {
            if (frames[next].delay == 0 || bound < 0) continue;
            for (std::size_t p = 0; p < shown.size(); ++p)
                check(distance2(shown[p], wanted[next][p]) <= bound, "a shown pixel within the bound");
        }
    }
    check(gif_time == source_time, "the delays add up to the frames'");
    DGifCloseFile(gif, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Draw d(std::span<const std::uint8_t>(data, size));
    const int quality = 1 + d.below(100);
    const bool few_colours = d.below(4) != 0;
    const std::size_t budget = d.below(4) == 0 ? 1 : gifanim::GifMaker::kDefaultMemoryBudget;
    const std::vector<Frame> frames = draw_frames(d, few_colours);

    static const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string name = "optimizer_fuzz-" + std::to_string(getpid());
    const Bytes one = write(frames, quality, 1, budget, dir / (name + "-1.gif"), false);
    const Bytes three = write(frames, quality, 3, budget, dir / (name + "-3.gif"), true);
    check(one == three, "the same bytes on one thread, held, and on three, streamed");
    // With few colours every table is exact, so a pixel strays only as far as the quality lets it:
    // s = 100 - quality levels a channel at most.
    const int s = 100 - quality;
    judge(dir / (name + "-1.gif"), frames, few_colours ? 3 * s * s : -1);
    std::filesystem::remove(dir / (name + "-1.gif"));
    std::filesystem::remove(dir / (name + "-3.gif"));
    return 0;
}
