// The screen on X11: the root window of $DISPLAY, read through MIT-SHM where the server offers it,
// the cursor from XFixes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "platform/bit_channel.h"
#include "platform/bmp.h"
#include "platform/posix/loaded_library.h"
#include "platform/screen.h"

namespace gifanim::platform {

namespace {

// Xlib and its extensions' libraries, loaded the first time the screen is asked for. Without
// Xext or Xfixes the screen is read as without MIT-SHM, or without the cursor.
// clang-format off
#define GIFANIM_X11_FUNCTIONS(F)                                                                      \
    F(XCloseDisplay) F(XCreateFontCursor) F(XCreateGC) F(XDrawRectangle) F(XFree) F(XFreeCursor)      \
    F(XFreeGC) F(XGetImage) F(XGetWindowAttributes) F(XGrabKeyboard) F(XGrabPointer) F(XLookupKeysym) \
    F(XNextEvent) F(XOpenDisplay) F(XQueryColors) F(XQueryPointer) F(XSetErrorHandler) F(XSync)       \
    F(XTranslateCoordinates) F(XUngrabKeyboard) F(XUngrabPointer)
#define GIFANIM_XEXT_FUNCTIONS(F) F(XShmAttach) F(XShmCreateImage) F(XShmDetach) F(XShmGetImage) F(XShmQueryExtension)
#define GIFANIM_XFIXES_FUNCTIONS(F) F(XFixesGetCursorImage) F(XFixesQueryExtension)
// clang-format on
GIFANIM_LOADED_LIBRARY(X11Library, x11, GIFANIM_X11_SONAME, GIFANIM_X11_FUNCTIONS)
GIFANIM_LOADED_LIBRARY(XextLibrary, xext, GIFANIM_Xext_SONAME, GIFANIM_XEXT_FUNCTIONS)
GIFANIM_LOADED_LIBRARY(XfixesLibrary, xfixes, GIFANIM_Xfixes_SONAME, GIFANIM_XFIXES_FUNCTIONS)

struct DisplayCloser {
    void operator()(Display* d) const { x11()->XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A connection to $DISPLAY; null without one, or without Xlib.
DisplayPtr open_display() {
    return DisplayPtr(x11() ? x11()->XOpenDisplay(nullptr) : nullptr);
}

struct ImageDestroyer {
    void operator()(XImage* i) const { XDestroyImage(i); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

struct XFreeDeleter {
    void operator()(void* p) const { x11()->XFree(p); }
};

// Xlib's default error handler ends the process. A failed read (a window torn down under us, a
// server that cannot attach our shared memory) must only fail the grab, so while one runs the
// errors are counted instead. Xlib keeps a single handler per process.
int g_x_errors = 0;
int count_x_error(Display*, XErrorEvent*) {
    ++g_x_errors;
    return 0;
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* d) : display_(d), previous_(x11()->XSetErrorHandler(count_x_error)) { g_x_errors = 0; }
    ~ErrorTrap() {
        x11()->XSync(display_, False);
        x11()->XSetErrorHandler(previous_);
    }
    // Whether any request so far failed; waits for the server's answers first.
    bool failed() {
        x11()->XSync(display_, False);
        return g_x_errors != 0;
    }
    void clear() {
        x11()->XSync(display_, False);
        g_x_errors = 0;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    Display* display_;
    int (*previous_)(Display*, XErrorEvent*);
};

// A shared-memory segment attached to the server, kept between grabs: a fresh one per grab costs
// more in page faults (here and in the server) than the copy itself.
class ShmSegment {
public:
    ShmSegment(Display* d, std::size_t bytes, ErrorTrap& trap) : display_(d), size_(bytes) {
        info_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (info_.shmid < 0) return;
        void* addr = shmat(info_.shmid, nullptr, 0);
        // The segment goes away once both sides have detached, even if we never get to do it.
        shmctl(info_.shmid, IPC_RMID, nullptr);
        if (addr == reinterpret_cast<void*>(-1)) return;
        info_.shmaddr = static_cast<char*>(addr);
        info_.readOnly = False;
        attached_ = xext()->XShmAttach(d, &info_) && !trap.failed();
    }
    ~ShmSegment() {
        if (attached_) xext()->XShmDetach(display_, &info_);
        if (info_.shmaddr) shmdt(info_.shmaddr);
    }
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    bool ready() const { return attached_; }
    std::size_t size() const { return size_; }
    XShmSegmentInfo* info() { return &info_; }

private:
    Display* display_;
    std::size_t size_;
    XShmSegmentInfo info_{};
    bool attached_ = false;
};

// An image header over the shared segment; the pixels are the segment's, not XDestroyImage's.
struct ShmHeaderDestroyer {
    void operator()(XImage* i) const {
        i->data = nullptr;
        i->obdata = nullptr;
        XDestroyImage(i);
    }
};
using ShmHeaderPtr = std::unique_ptr<XImage, ShmHeaderDestroyer>;

// The connection of this process to $DISPLAY, opened on first use and again when DISPLAY changes.
// Opening one per grab costs a few round trips and a fresh shared segment.
struct Connection {
    std::string name;
    DisplayPtr display;           // declared first: closed last
    std::unique_ptr<ShmSegment> shm;
    bool shm_failed = false;
};

std::mutex g_connection_mutex;

Connection& connection() {
    static Connection c;
    const char* env = std::getenv("DISPLAY");
    const std::string name = env ? env : "";
    if (!c.display || name != c.name) {
        c.shm.reset();
        c.display = open_display();
        c.name = name;
        c.shm_failed = false;
    }
    return c;
}

int bmp_bits_for_depth(int depth) { return depth == 15 || depth == 16 ? 16 : 32; }

void store_pixel(std::uint8_t* dst, int bmp_bits, unsigned r, unsigned g, unsigned b) {
    if (bmp_bits == 32) {
        dst[0] = static_cast<std::uint8_t>(b);
        dst[1] = static_cast<std::uint8_t>(g);
        dst[2] = static_cast<std::uint8_t>(r);
        dst[3] = 0;
    } else {
        const unsigned v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
        dst[0] = static_cast<std::uint8_t>(v);
        dst[1] = static_cast<std::uint8_t>(v >> 8);
    }
}

void load_pixel(const std::uint8_t* src, int bmp_bits, unsigned& r, unsigned& g, unsigned& b) {
    if (bmp_bits == 32) {
        b = src[0];
        g = src[1];
        r = src[2];
    } else {
        const unsigned v = src[0] | src[1] << 8;
        r = ((v >> 10) & 31) * 255 / 31;
        g = ((v >> 5) & 31) * 255 / 31;
        b = (v & 31) * 255 / 31;
    }
}

// Copies the image's rows into the BMP layout: image row j goes `row_of(j)` of `out`, starting at
// byte `column`.
void convert_rows(XImage* image, Display* d, Colormap colormap, Visual* visual, int bmp_bits, std::uint8_t* out,
                  std::size_t stride, int out_height, int first_row, std::size_t column) {
    const int w = image->width, h = image->height;
    const bool host_lsb = [] {
        const std::uint16_t one = 1;
        std::uint8_t b;
        std::memcpy(&b, &one, 1);
        return b == 1;
    }();
    auto dst_row = [&](int j) { return out + stride * static_cast<std::size_t>(out_height - 1 - (first_row + j)) + column; };

    // The common case: 8 bits a channel in 32-bit little-endian words, already blue, green, red.
    if (visual->c_class == TrueColor && bmp_bits == 32 && image->bits_per_pixel == 32 &&
        (image->byte_order == LSBFirst) == host_lsb && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
        image->blue_mask == 0xFF) {
        for (int j = 0; j < h; ++j) {
            const auto* src = reinterpret_cast<const std::uint8_t*>(image->data) +
                              static_cast<std::size_t>(image->bytes_per_line) * j;
            std::uint8_t* dst = dst_row(j);
            std::memcpy(dst, src, static_cast<std::size_t>(w) * 4);
            for (int x = 0; x < w; ++x) dst[4 * x + 3] = 0;
        }
        return;
    }
    if (visual->c_class == TrueColor || visual->c_class == DirectColor) {
        // X keeps masks in an unsigned long; true-colour pixels have at most 32 bits.
        auto channel = [](unsigned long image_mask, unsigned long visual_mask) {
            return BitChannel(static_cast<std::uint32_t>(image_mask ? image_mask : visual_mask));
        };
        const BitChannel red = channel(image->red_mask, visual->red_mask);
        const BitChannel green = channel(image->green_mask, visual->green_mask);
        const BitChannel blue = channel(image->blue_mask, visual->blue_mask);
        const int bytes = bmp_bits / 8;
        const bool native16 = image->bits_per_pixel == 16 && (image->byte_order == LSBFirst) == host_lsb;
        for (int j = 0; j < h; ++j) {
            std::uint8_t* dst = dst_row(j);
            const auto* src16 = reinterpret_cast<const std::uint16_t*>(image->data + image->bytes_per_line * j);
            for (int x = 0; x < w; ++x, dst += bytes) {
                const auto p = static_cast<std::uint32_t>(native16 ? src16[x] : XGetPixel(image, x, j));
                store_pixel(dst, bmp_bits, red(p), green(p), blue(p));
            }
        }
        return;
    }
    // A palette screen: look the colours up once.
    const int entries = std::min(visual->map_entries, 1 << std::min(image->depth, 16));
    std::vector<XColor> colours(static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; ++i) colours[static_cast<std::size_t>(i)].pixel = static_cast<unsigned long>(i);
    x11()->XQueryColors(d, colormap, colours.data(), entries);
    for (int j = 0; j < h; ++j) {
        std::uint8_t* dst = dst_row(j);
        for (int x = 0; x < w; ++x, dst += bmp_bits / 8) {
            const unsigned long p = XGetPixel(image, x, j);
            if (p >= colours.size()) {
                store_pixel(dst, bmp_bits, 0, 0, 0);
                continue;
            }
            const XColor& c = colours[p];
            store_pixel(dst, bmp_bits, c.red >> 8, c.green >> 8, c.blue >> 8);
        }
    }
}

// The cursor image is premultiplied ARGB, one pixel per unsigned long.
void draw_cursor_into(Display* d, const ScreenRect& rect, int bmp_bits, std::size_t stride, int out_height,
                      std::uint8_t* out) {
    int event_base = 0, error_base = 0;
    if (!xfixes() || !xfixes()->XFixesQueryExtension(d, &event_base, &error_base)) return;
    std::unique_ptr<XFixesCursorImage, XFreeDeleter> cursor(xfixes()->XFixesGetCursorImage(d));
    if (!cursor || !cursor->pixels) return;
    const int bytes = bmp_bits / 8;
    const long left = std::max<long>(cursor->x, rect.left), right = std::min<long>(cursor->x + cursor->width, rect.right);
    const long top = std::max<long>(cursor->y, rect.top), bottom = std::min<long>(cursor->y + cursor->height, rect.bottom);
    for (long sy = top; sy < bottom; ++sy) {
        const unsigned long* src = cursor->pixels + (sy - cursor->y) * cursor->width;
        std::uint8_t* dst = out + stride * static_cast<std::size_t>(out_height - 1 - (sy - rect.top));
        for (long sx = left; sx < right; ++sx) {
            const unsigned long p = src[sx - cursor->x];
            const unsigned a = (p >> 24) & 0xFF;
            if (a == 0 && (p & 0xFFFFFF) == 0) continue;
            std::uint8_t* px = dst + static_cast<std::size_t>(sx - rect.left) * bytes;
            unsigned r = 0, g = 0, b = 0;
            load_pixel(px, bmp_bits, r, g, b);
            const unsigned keep = 255 - a;
            auto over = [keep](unsigned s, unsigned under) {
                return std::min(255u, s + (under * keep + 127) / 255);
            };
            store_pixel(px, bmp_bits, over((p >> 16) & 0xFF, r), over((p >> 8) & 0xFF, g), over(p & 0xFF, b));
        }
    }
}

}  // namespace

int screen_bits_per_pixel() {
    const std::lock_guard lock(g_connection_mutex);
    Display* d = connection().display.get();
    if (!d) return 0;
    return bmp_bits_for_depth(DefaultDepth(d, DefaultScreen(d)));
}

ScreenSize screen_size() {
    const std::lock_guard lock(g_connection_mutex);
    Display* d = connection().display.get();
    if (!d) return {};
    return {DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
}

bool pointer_state(PointerState& out) {
    const std::lock_guard lock(g_connection_mutex);
    Display* d = connection().display.get();
    if (!d) return false;
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    if (!x11()->XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask)) return false;
    out = {x, y, (mask & Button1Mask) != 0, (mask & Button3Mask) != 0};
    return true;
}

bool grab_screen(const ScreenRect& rect, bool draw_cursor, ScreenPixels& out) {
    out.bits_per_pixel = 0;
    out.data.clear();
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    if (width <= 0 || height <= 0) return false;

    const std::lock_guard lock(g_connection_mutex);
    Connection& conn = connection();
    Display* d = conn.display.get();
    if (!d) return false;
    const int screen = DefaultScreen(d);
    const Window root = RootWindow(d, screen);
    Visual* visual = DefaultVisual(d, screen);
    const int depth = DefaultDepth(d, screen);
    const int bits = bmp_bits_for_depth(depth);
    if (!bmp_file_size(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                       static_cast<unsigned>(bits), kBmpHeadersSize))
        return false;
    const std::size_t stride = bmp_stride(static_cast<std::uint64_t>(width), static_cast<unsigned>(bits));
    // The caller's buffer is reused when it is large enough; the part off the screen stays zero.
    std::vector<std::uint8_t> data = std::move(out.data);
    data.assign(out.offset + stride * static_cast<std::size_t>(height), 0);
    std::uint8_t* const rows = data.data() + out.offset;

    // Only the part on the screen is read; the rest stays zero.
    const long long x0 = std::max<long long>(rect.left, 0), y0 = std::max<long long>(rect.top, 0);
    const long long x1 = std::min<long long>(rect.right, DisplayWidth(d, screen));
    const long long y1 = std::min<long long>(rect.bottom, DisplayHeight(d, screen));
    if (x0 < x1 && y0 < y1) {
        const auto cw = static_cast<unsigned>(x1 - x0), ch = static_cast<unsigned>(y1 - y0);
        const auto first_row = static_cast<int>(y0 - rect.top);
        const auto column = static_cast<std::size_t>(x0 - rect.left) * static_cast<std::size_t>(bits / 8);
        ErrorTrap trap(d);
        bool done = false;
        if (!conn.shm_failed && xext() && xext()->XShmQueryExtension(d)) {
            ShmHeaderPtr image(
                xext()->XShmCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, nullptr, cw, ch));
            if (image) {
                const std::size_t need = static_cast<std::size_t>(image->bytes_per_line) * ch;
                if (!conn.shm || conn.shm->size() < need) {
                    conn.shm.reset();
                    // Room for the whole screen, so that any later grab fits, unless that is more
                    // than we keep between grabs.
                    const std::size_t screen_bytes = static_cast<std::size_t>(image->bytes_per_line) / cw *
                                                     static_cast<std::size_t>(DisplayWidth(d, screen)) *
                                                     static_cast<std::size_t>(DisplayHeight(d, screen));
                    conn.shm = std::make_unique<ShmSegment>(
                        d, std::max(need, std::min(screen_bytes, kKeptScratchBytes)), trap);
                }
                if (conn.shm->ready()) {
                    image->data = conn.shm->info()->shmaddr;
                    image->obdata = reinterpret_cast<char*>(conn.shm->info());
                    if (xext()->XShmGetImage(d, root, image.get(), static_cast<int>(x0), static_cast<int>(y0),
                                             AllPlanes) &&
                        !trap.failed()) {
                        convert_rows(image.get(), d, DefaultColormap(d, screen), visual, bits, rows, stride,
                                     static_cast<int>(height), first_row, column);
                        done = true;
                    }
                }
                // A segment for a screen larger than we keep goes again at once.
                if (done && conn.shm->size() > kKeptScratchBytes) conn.shm.reset();
                // A server that cannot share memory with us (another host) is read the plain way from now on.
                if (!done) {
                    conn.shm.reset();
                    conn.shm_failed = true;
                }
            }
        }
        if (!done) {
            trap.clear();
            ImagePtr image(
                x11()->XGetImage(d, root, static_cast<int>(x0), static_cast<int>(y0), cw, ch, AllPlanes, ZPixmap));
            if (!image || trap.failed()) return false;
            convert_rows(image.get(), d, DefaultColormap(d, screen), visual, bits, rows, stride,
                         static_cast<int>(height), first_row, column);
        }
    }
    if (draw_cursor) draw_cursor_into(d, rect, bits, stride, static_cast<int>(height), rows);
    out.bits_per_pixel = bits;
    out.data = std::move(data);
    return true;
}

Selection select_screen_rect(ScreenRect& out) {
    // A connection of its own: the choice takes as long as the user, and grabs keep theirs.
    const DisplayPtr display = open_display();
    Display* d = display.get();
    if (!d) return Selection::failed;
    const Window root = DefaultRootWindow(d);
    const int screen = DefaultScreen(d);
    const Cursor cross = x11()->XCreateFontCursor(d, XC_crosshair);
    const unsigned events = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    // Another program may hold the pointer or keyboard for a moment (an open menu, a drag): the
    // grab is tried again for up to two seconds before the choice fails.
    const auto take = [](const auto& grab) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const int r = grab();
            if (r == GrabSuccess) return true;
            if (r != AlreadyGrabbed && r != GrabFrozen) return false;
            usleep(10000);
        }
        return false;
    };
    if (!take([&] {
            return x11()->XGrabPointer(d, root, False, events, GrabModeAsync, GrabModeAsync, None, cross, CurrentTime);
        })) {
        x11()->XFreeCursor(d, cross);
        return Selection::failed;
    }
    if (!take([&] { return x11()->XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime); })) {
        x11()->XUngrabPointer(d, CurrentTime);
        x11()->XFreeCursor(d, cross);
        return Selection::failed;
    }
    // The band is drawn with XOR over every window, so drawing it again takes it away.
    XGCValues values{};
    values.function = GXxor;
    values.foreground = WhitePixel(d, screen) ^ BlackPixel(d, screen);
    values.subwindow_mode = IncludeInferiors;
    values.line_width = 1;
    const GC gc = x11()->XCreateGC(d, root, GCFunction | GCForeground | GCSubwindowMode | GCLineWidth, &values);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool pressed = false, band = false;
    const auto draw_band = [&] {
        x11()->XDrawRectangle(d, root, gc, std::min(x0, x1), std::min(y0, y1), static_cast<unsigned>(std::abs(x1 - x0)),
                              static_cast<unsigned>(std::abs(y1 - y0)));
        band = !band;
    };
    Selection result = Selection::failed;
    for (bool done = false; !done;) {
        XEvent e;
        x11()->XNextEvent(d, &e);
        switch (e.type) {
            case KeyPress:
                if (x11()->XLookupKeysym(&e.xkey, 0) == XK_Escape) {
                    result = Selection::cancelled;
                    done = true;
                }
                break;
            case ButtonPress:
                if (e.xbutton.button != Button1) break;
                pressed = true;
                x0 = x1 = e.xbutton.x_root;
                y0 = y1 = e.xbutton.y_root;
                break;
            case MotionNotify:
                if (!pressed) break;
                if (band) draw_band();
                x1 = e.xmotion.x_root;
                y1 = e.xmotion.y_root;
                draw_band();
                break;
            case ButtonRelease: {
                if (e.xbutton.button != Button1 || !pressed) break;
                if (band) draw_band();
                x1 = e.xbutton.x_root;
                y1 = e.xbutton.y_root;
                const int width = DisplayWidth(d, screen), height = DisplayHeight(d, screen);
                if (std::abs(x1 - x0) >= 3 || std::abs(y1 - y0) >= 3) {
                    out = {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
                } else {
                    // A click: the top-level window under the pointer, as it lies on the screen.
                    out = {0, 0, width, height};
                    const Window child = e.xbutton.subwindow;
                    XWindowAttributes a{};
                    int wx = 0, wy = 0;
                    Window ignored = 0;
                    if (child != 0 && x11()->XGetWindowAttributes(d, child, &a) &&
                        x11()->XTranslateCoordinates(d, child, root, 0, 0, &wx, &wy, &ignored)) {
                        out = {wx, wy, wx + a.width, wy + a.height};
                    }
                }
                out = {std::clamp(out.left, 0, width), std::clamp(out.top, 0, height), std::clamp(out.right, 0, width),
                       std::clamp(out.bottom, 0, height)};
                result = out.right > out.left && out.bottom > out.top ? Selection::chosen : Selection::cancelled;
                done = true;
                break;
            }
            default: break;
        }
    }
    x11()->XFreeGC(d, gc);
    x11()->XUngrabKeyboard(d, CurrentTime);
    x11()->XUngrabPointer(d, CurrentTime);
    x11()->XFreeCursor(d, cross);
    x11()->XSync(d, False);
    return result;
}

}  // namespace gifanim::platform
