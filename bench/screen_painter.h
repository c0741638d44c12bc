#pragma once
// Changes the screen of $DISPLAY the way a busy desktop does: the corpus desktop picture drawn
// over the root window once, then a filled rectangle that moves and changes colour at every step.
// Used by tick_bench (a step between timed ticks) and by the screen_painter program that
// bench/record_bench.sh runs beside `gifanim record`.
#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gifanim::bench {

class ScreenPainter {
public:
    ScreenPainter() = default;
    ScreenPainter(const ScreenPainter&) = delete;
    ScreenPainter& operator=(const ScreenPainter&) = delete;
    ~ScreenPainter();

    // Opens $DISPLAY and draws the desktop picture (scaled by repetition or cut to the screen).
    // False with `error` set when there is no display or its visual is not 24-bit true colour.
    bool open(std::string& error);
    int width() const { return width_; }
    int height() const { return height_; }
    // Restores the picture under the last rectangle and draws rectangle `n` elsewhere, in another
    // colour; returns once the server has done it, so a grab after it sees the change.
    void step(std::uint64_t n);
    // Draws the whole picture again (no rectangle) and waits for the server.
    void reset();

private:
    Display* display_ = nullptr;
    Window root_ = 0;
    GC gc_ = nullptr;
    XImage* image_ = nullptr;  // the picture at screen size, 32 bits a pixel
    std::vector<char> pixels_;
    int width_ = 0, height_ = 0;
    int last_x_ = -1, last_y_ = 0;
};

}  // namespace gifanim::bench
