// Screen grabs on a real X server (the Xvfb of scripts/xvfb-run.sh): a window of known colours is
// put on the screen and read back through the platform layer.
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
// clang-format on

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "capture/grab.h"
#include "platform/screen.h"
#include "tests/unit/sanitizers.h"

namespace gifanim::platform {
namespace {

using test::kSanitized;

struct Rgb {
    unsigned r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

constexpr Rgb kQuadrant[4] = {{255, 0, 0}, {0, 200, 0}, {0, 0, 255}, {250, 240, 20}};

// An override-redirect window of four solid quadrants at a fixed place on the screen.
class QuadrantWindow {
public:
    static constexpr int kLeft = 100, kTop = 80, kWidth = 200, kHeight = 120;

    explicit QuadrantWindow(Display* d, int left = kLeft, int top = kTop) : d_(d), left_(left), top_(top) {
        const int screen = DefaultScreen(d);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = BlackPixel(d, screen);
        a.event_mask = StructureNotifyMask;
        window_ = XCreateWindow(d, RootWindow(d, screen), left, top, kWidth, kHeight, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
        for (int q = 0; q < 4; ++q) {
            XSetWindowAttributes c{};
            c.background_pixel = pixel_of(kQuadrant[q]);
            XCreateWindow(d, window_, (q % 2) * kWidth / 2, (q / 2) * kHeight / 2, kWidth / 2, kHeight / 2, 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &c);
        }
        XMapSubwindows(d, window_);
        XMapWindow(d, window_);
        XEvent e;
        do XWindowEvent(d, window_, StructureNotifyMask, &e);
        while (e.type != MapNotify);
        XSync(d, False);
    }
    ~QuadrantWindow() {
        XDestroyWindow(d_, window_);
        XSync(d_, False);
    }
    Window id() const { return window_; }

    // The colour at a screen point inside the window.
    Rgb colour_at(int sx, int sy) const {
        const int x = sx - left_, y = sy - top_;
        return kQuadrant[(y >= kHeight / 2 ? 2 : 0) + (x >= kWidth / 2 ? 1 : 0)];
    }

private:
    unsigned long pixel_of(const Rgb& c) const {
        XColor x{};
        x.red = static_cast<unsigned short>(c.r * 257);
        x.green = static_cast<unsigned short>(c.g * 257);
        x.blue = static_cast<unsigned short>(c.b * 257);
        XAllocColor(d_, DefaultColormap(d_, DefaultScreen(d_)), &x);
        return x.pixel;
    }

    Display* d_;
    Window window_ = 0;
    int left_, top_;
};

struct Grab {
    int width = 0, height = 0;
    ScreenPixels pixels;
    std::size_t stride() const { return ((static_cast<std::size_t>(width) * 32 + 31) >> 5) << 2; }
    // (x, y) from the rectangle's top-left corner; rows are stored bottom-up.
    const std::uint8_t* at(int x, int y) const {
        return pixels.rows().data() + stride() * static_cast<std::size_t>(height - 1 - y) + 4 * static_cast<std::size_t>(x);
    }
    Rgb colour(int x, int y) const {
        const std::uint8_t* p = at(x, y);
        return {p[2], p[1], p[0]};
    }
};

Grab grab(const ScreenRect& r, bool cursor) {
    Grab g;
    g.width = r.right - r.left;
    g.height = r.bottom - r.top;
    EXPECT_TRUE(grab_screen(r, cursor, g.pixels));
    EXPECT_EQ(g.pixels.bits_per_pixel, 32);
    EXPECT_EQ(g.pixels.rows().size(), g.stride() * static_cast<std::size_t>(g.height));
    return g;
}

class GrabTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Without a screen this is a failure, never a skip: CI runs these under Xvfb.
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no DISPLAY: run under scripts/xvfb-run.sh";
        display_.reset(XOpenDisplay(nullptr));
        ASSERT_NE(display_, nullptr) << "cannot open DISPLAY " << std::getenv("DISPLAY");
        ASSERT_EQ(DefaultDepth(d(), DefaultScreen(d())), 24) << "the tests expect a 24-bit screen";
    }
    Display* d() const { return display_.get(); }

    // Puts the pointer at a screen point, over a window showing the crosshair cursor.
    void point_at(Window w, int x, int y) {
        const Cursor c = XCreateFontCursor(d(), XC_crosshair);
        XDefineCursor(d(), w, c);
        XDefineCursor(d(), DefaultRootWindow(d()), c);
        XWarpPointer(d(), None, DefaultRootWindow(d()), 0, 0, 0, 0, x, y);
        XSync(d(), False);
        XFreeCursor(d(), c);
        XSync(d(), False);
    }

    struct Closer {
        void operator()(Display* p) const { XCloseDisplay(p); }
    };
    std::unique_ptr<Display, Closer> display_;
};

TEST_F(GrabTest, DepthOfA24BitScreenIs32) { EXPECT_EQ(screen_bits_per_pixel(), 32); }

TEST_F(GrabTest, WindowColoursComeBackExactlyBottomUp) {
    QuadrantWindow w(d());
    // 101 wide: an odd width, whose 32-bit rows still need no padding (stride 404).
    const ScreenRect r{QuadrantWindow::kLeft + 49, QuadrantWindow::kTop + 10, QuadrantWindow::kLeft + 150,
                       QuadrantWindow::kTop + 110};
    const Grab g = grab(r, false);
    ASSERT_EQ(g.stride(), 404u);
    ASSERT_EQ(g.pixels.rows().size(), 404u * 100);
    int wrong = 0;
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
            const Rgb want = w.colour_at(r.left + x, r.top + y);
            if (g.colour(x, y) != want || g.at(x, y)[3] != 0) {
                if (++wrong <= 5) ADD_FAILURE() << "at " << x << "," << y << ": " << g.colour(x, y) << " != " << want;
            }
        }
    EXPECT_EQ(wrong, 0);
    // The first row in memory is the bottom of the rectangle: blue, then yellow past the middle.
    EXPECT_EQ(g.pixels.rows()[0], 255);
    EXPECT_EQ(g.pixels.rows()[2], 0);
}

// The whole grab: the screen pixels packed as a BMP file, kept as they are (format 0) or re-encoded.
TEST_F(GrabTest, GrabRegionPacksTheScreenAsABmpFile) {
    QuadrantWindow w(d());
    const ScreenRect r{QuadrantWindow::kLeft, QuadrantWindow::kTop, QuadrantWindow::kLeft + 100,
                       QuadrantWindow::kTop + 50};
    const std::vector<std::uint8_t> bmp = capture::GrabRegion(r, 0, false);
    ASSERT_EQ(bmp.size(), 20054u);
    const Grab g = grab(r, false);
    EXPECT_TRUE(std::equal(g.pixels.rows().begin(), g.pixels.rows().end(), bmp.begin() + 54));
    EXPECT_EQ(bmp[28], 32);
    EXPECT_EQ(bmp[22], 50);
    const std::vector<std::uint8_t> jpeg = capture::GrabRegion(r, 2, true);
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_TRUE(capture::GrabRegion({r.left, r.top, r.left, r.bottom}, 2, false).empty());
}

TEST_F(GrabTest, PixelsOffTheScreenStayZero) {
    QuadrantWindow w(d(), 0, 0);
    const int sw = DisplayWidth(d(), DefaultScreen(d())), sh = DisplayHeight(d(), DefaultScreen(d()));
    {
        const ScreenRect r{-10, -5, 30, 20};
        const Grab g = grab(r, false);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                const bool on_screen = x >= 10 && y >= 5;
                const Rgb want = on_screen ? w.colour_at(x - 10, y - 5) : Rgb{0, 0, 0};
                ASSERT_EQ(g.colour(x, y), want) << x << "," << y;
            }
    }
    {
        // Past the right and bottom edges.
        const ScreenRect r{sw - 4, sh - 3, sw + 6, sh + 2};
        const Grab g = grab(r, false);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                if (x >= 4 || y >= 3) {
                    ASSERT_EQ(g.colour(x, y), (Rgb{0, 0, 0})) << x << "," << y;
                }
    }
    {
        const ScreenRect r{sw + 10, 0, sw + 20, 10};
        const Grab g = grab(r, false);
        EXPECT_TRUE(std::all_of(g.pixels.rows().begin(), g.pixels.rows().end(), [](std::uint8_t b) { return b == 0; }));
    }
}

TEST_F(GrabTest, EmptyRectangleIsRefused) {
    ScreenPixels out;
    EXPECT_FALSE(grab_screen({10, 10, 10, 20}, false, out));
    EXPECT_FALSE(grab_screen({10, 10, 5, 20}, false, out));
    EXPECT_TRUE(out.rows().empty());
}

// The expected picture: the window colours with the cursor image composed over them, its top-left
// corner at the pointer.
Rgb composed(const XFixesCursorImage& c, int sx, int sy, Rgb under) {
    const long cx = sx - c.x, cy = sy - c.y;
    if (cx < 0 || cy < 0 || cx >= c.width || cy >= c.height) return under;
    const unsigned long p = c.pixels[cy * c.width + cx];
    const unsigned keep = 255 - ((p >> 24) & 0xFF);
    auto over = [keep](unsigned s, unsigned u) { return std::min(255u, s + (u * keep + 127) / 255); };
    return {over((p >> 16) & 0xFF, under.r), over((p >> 8) & 0xFF, under.g), over(p & 0xFF, under.b)};
}

TEST_F(GrabTest, CursorIsDrawnWithItsTopLeftAtThePointer) {
    QuadrantWindow w(d());
    const int px = QuadrantWindow::kLeft + 60, py = QuadrantWindow::kTop + 40;
    point_at(w.id(), px, py);
    int ev = 0, er = 0;
    ASSERT_TRUE(XFixesQueryExtension(d(), &ev, &er));
    std::unique_ptr<XFixesCursorImage, int (*)(void*)> cursor(XFixesGetCursorImage(d()), XFree);
    ASSERT_NE(cursor, nullptr);
    ASSERT_EQ(cursor->x, px);
    ASSERT_EQ(cursor->y, py);
    ASSERT_GT(cursor->width, 0);
    ASSERT_GT(cursor->xhot + cursor->yhot, 0) << "a cursor whose hotspot is its corner proves nothing";
    const int visible = static_cast<int>(std::count_if(cursor->pixels, cursor->pixels + cursor->width * cursor->height,
                                                       [](unsigned long p) { return (p >> 24) != 0; }));
    ASSERT_GT(visible, 0) << "the cursor image is empty";

    // Whole cursor inside, and cut at the rectangle's left and top edges.
    for (const ScreenRect r : {ScreenRect{QuadrantWindow::kLeft, QuadrantWindow::kTop, QuadrantWindow::kLeft + 200,
                                          QuadrantWindow::kTop + 120},
                               ScreenRect{px + 3, py + 2, px + 40, py + 40}}) {
        SCOPED_TRACE(r.left);
        const Grab plain = grab(r, false);
        const Grab with = grab(r, true);
        int changed = 0;
        for (int y = 0; y < with.height; ++y)
            for (int x = 0; x < with.width; ++x) {
                const Rgb under = w.colour_at(r.left + x, r.top + y);
                ASSERT_EQ(plain.colour(x, y), under) << x << "," << y;
                const Rgb want = composed(*cursor, r.left + x, r.top + y, under);
                ASSERT_EQ(with.colour(x, y), want) << x << "," << y;
                ASSERT_EQ(with.at(x, y)[3], 0);
                changed += want != under;
            }
        EXPECT_GT(changed, 0);
    }
}

// A BMP's size field has 32 bits: a rectangle beyond it gives nothing, refused before its buffer
// is made (a grab that tried would touch 4 GB here).
TEST_F(GrabTest, ABmpBeyondFourGibGivesNothing) {
    // 33000 x 33000 at 32 bits: 4,356,000,054 bytes, just beyond 2^32 - 1.
    const ScreenRect just_over{0, 0, 33000, 33000};
    ScreenPixels out;
    out.offset = 54;
    EXPECT_FALSE(grab_screen(just_over, false, out));
    EXPECT_EQ(out.data.capacity(), 0u);
    for (int format : {0, 1, 2}) EXPECT_TRUE(capture::GrabRegion(just_over, format, false).empty()) << format;
    // Just inside: the part on the screen is read, the rest is black.
    const ScreenRect wide{-20000, 0, 12000, 2};
    const std::vector<std::uint8_t> bmp = capture::GrabRegion(wide, 0, false);
    ASSERT_EQ(bmp.size(), 54u + 32000u * 4 * 2);
    EXPECT_EQ(bmp[2] | bmp[3] << 8 | bmp[4] << 16 | static_cast<std::uint32_t>(bmp[5]) << 24, bmp.size());
}

// One huge grab must not leave its buffers behind (they are kept per thread for speed), while a
// screen-sized one stays for the next frame.
TEST_F(GrabTest, BuffersOfAHugeGrabAreNotKept) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's allocator does not report to mallinfo2";
    auto held = [] {
        const struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;
    };
    const std::size_t before = held();
    {
        // 9000 x 2500: a BMP of 90 MB and a 24-bit picture of 67.5 MB, both beyond what is kept.
        const std::vector<std::uint8_t> bmp = capture::GrabRegion({0, 0, 9000, 2500}, 1, false);
        ASSERT_EQ(bmp.size(), 54u + 27000u * 2500);
    }
    EXPECT_LT(held(), before + (16u << 20)) << "bytes held before: " << before;
    {
        const std::vector<std::uint8_t> bmp = capture::GrabRegion({0, 0, 1280, 1024}, 1, false);
        ASSERT_FALSE(bmp.empty());
    }
    EXPECT_GT(held(), before + 1280u * 1024 * 4) << "the grab buffer of a screen is kept for the next frame";
}

// What a user sees who grabs more than memory allows: exit status 1 and the grab's own message.
// GrabRegion gives nothing; an exception escaping it would end in the tool's last resort ("out of
// memory") or a signal instead.
TEST_F(GrabTest, GrabUnderAMemoryLimitGivesNothing) {
    if (kSanitized)
        GTEST_SKIP() << "a sanitizer reserves terabytes of address space for its shadow memory, so an "
                        "address-space limit cannot work in this build";
    const std::string err = "/tmp/gifanim-grab-limit-" + std::to_string(getpid()) + ".txt";
    // A BMP of 12000 x 12000 is 576 MB.
    const std::string command = "ulimit -v 600000; exec '" GIFANIM_TOOL "' grab --rect 0,0,12000,12000 --format jpeg " +
                                std::string("/dev/null 2>") + err;
    const int status = std::system(command.c_str());
    const std::string text(std::istreambuf_iterator<char>(std::ifstream(err).rdbuf()), {});
    std::remove(err.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << "\n" << text;
    EXPECT_EQ(WEXITSTATUS(status), 1) << text;
    EXPECT_NE(text.find("could not be read"), std::string::npos) << text;
}

// The tool maps libtiff and Xlib only once it reads a TIFF or the screen, so that the runs needing
// neither start faster; those that need them still work. The dynamic loader lists what it opens.
TEST_F(GrabTest, TheToolOpensXlibAndLibtiffOnlyWhenItNeedsThem) {
    const std::string dir = "/tmp/gifanim-lazy-" + std::to_string(getpid());
    const auto run = [&](const std::string& words) {
        const std::string log = dir + "/loader.txt";
        const int status = std::system(("LD_DEBUG=files '" GIFANIM_TOOL "' " + words + " >/dev/null 2>" + log).c_str());
        const std::string text(std::istreambuf_iterator<char>(std::ifstream(log).rdbuf()), {});
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << words << "\n" << text;
        return std::make_pair(text.find("file=libX11.so") != std::string::npos,
                              text.find("file=libtiff.so") != std::string::npos);
    };
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    QuadrantWindow w(d());
    EXPECT_EQ(run("grab --rect 100,80,300,200 --format bmp " + dir + "/grab.bmp"), std::make_pair(true, false));
    EXPECT_EQ(run("convert --format png " + dir + "/grab.bmp " + dir + "/grab.png"), std::make_pair(false, false));
    EXPECT_EQ(run("convert --format tiff " + dir + "/grab.png " + dir + "/grab.tif"), std::make_pair(false, true));
    EXPECT_EQ(run("convert --format bmp " + dir + "/grab.tif " + dir + "/tif.bmp"), std::make_pair(false, true));
    EXPECT_EQ(run("convert --format bmp " + dir + "/grab.png " + dir + "/png.bmp"), std::make_pair(false, false));
    const auto bytes = [](const std::string& path) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
    };
    EXPECT_GT(bytes(dir + "/png.bmp").size(), 200u * 120 * 3);
    EXPECT_EQ(bytes(dir + "/tif.bmp"), bytes(dir + "/png.bmp")) << "the TIFF changed the pixels";
    EXPECT_EQ(std::system(("rm -r " + dir).c_str()), 0);
}

}  // namespace
}  // namespace gifanim::platform
