#include "bench/screen_painter.h"

#include <X11/Xutil.h>

#include <algorithm>

#include "bench/bench_support.h"

namespace gifanim::bench {

namespace {

constexpr int kRectWidth = 240;
constexpr int kRectHeight = 160;

}  // namespace

ScreenPainter::~ScreenPainter() {
    if (image_) {
        image_->data = nullptr;  // pixels_ owns them
        XDestroyImage(image_);
    }
    if (gc_) XFreeGC(display_, gc_);
    if (display_) XCloseDisplay(display_);
}

bool ScreenPainter::open(std::string& error) {
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
        error = "cannot open the display (is DISPLAY set?)";
        return false;
    }
    const int screen = DefaultScreen(display_);
    Visual* visual = DefaultVisual(display_, screen);
    if (DefaultDepth(display_, screen) != 24 || visual->c_class != TrueColor || visual->red_mask != 0xFF0000 ||
        visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF) {
        error = "the screen is not 24-bit true colour";
        return false;
    }
    root_ = RootWindow(display_, screen);
    width_ = DisplayWidth(display_, screen);
    height_ = DisplayHeight(display_, screen);
    if (width_ < kRectWidth * 2 || height_ < kRectHeight * 2) {
        error = "the screen is too small";
        return false;
    }
    gc_ = XCreateGC(display_, root_, 0, nullptr);

    // The corpus picture, repeated where the screen is larger than it; BMP rows are bottom-up.
    const platform::Dib24 picture = load(corpus_dir() / "big1080" / "desktop1080.png");
    pixels_.assign(static_cast<std::size_t>(width_) * height_ * 4, 0);
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* src = picture.row(picture.height - 1 - y % picture.height);
        char* dst = pixels_.data() + static_cast<std::size_t>(y) * width_ * 4;
        for (int x = 0; x < width_; ++x) {
            const std::uint8_t* p = src + 3 * (x % picture.width);
            dst[4 * x] = static_cast<char>(p[0]);
            dst[4 * x + 1] = static_cast<char>(p[1]);
            dst[4 * x + 2] = static_cast<char>(p[2]);
        }
    }
    image_ = XCreateImage(display_, visual, 24, ZPixmap, 0, pixels_.data(), static_cast<unsigned>(width_),
                          static_cast<unsigned>(height_), 32, width_ * 4);
    if (!image_) {
        error = "XCreateImage failed";
        return false;
    }
    image_->byte_order = LSBFirst;  // the bytes above are blue, green, red, unused
    reset();
    return true;
}

void ScreenPainter::reset() {
    XPutImage(display_, root_, gc_, image_, 0, 0, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
    XSync(display_, False);
    last_x_ = -1;
}

void ScreenPainter::step(std::uint64_t n) {
    if (last_x_ >= 0) {
        XPutImage(display_, root_, gc_, image_, last_x_, last_y_, last_x_, last_y_, kRectWidth, kRectHeight);
    }
    // Positions and colours that repeat only after many thousand steps, and never twice in a row.
    last_x_ = static_cast<int>((n * 37) % static_cast<std::uint64_t>(width_ - kRectWidth));
    last_y_ = static_cast<int>((n * 23) % static_cast<std::uint64_t>(height_ - kRectHeight));
    const unsigned long colour = ((n * 0x3F1D27u) & 0xFFFFFFu) | 0x404040u;
    XSetForeground(display_, gc_, colour);
    XFillRectangle(display_, root_, gc_, last_x_, last_y_, kRectWidth, kRectHeight);
    XSync(display_, False);
}

}  // namespace gifanim::bench
