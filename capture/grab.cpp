#include "capture/grab.h"

#include "imaging/convert.h"

namespace gifanim::capture {

namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void pack_bmp(int width, int height, const platform::ScreenPixels& pixels, std::vector<std::uint8_t>& bmp) {
    bmp.assign(54, 0);
    std::uint8_t* h = bmp.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(54 + pixels.rows.size()));
    put32(h + 10, 54);
    put32(h + 14, 40);
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height));
    put16(h + 26, 1);
    put16(h + 28, static_cast<std::uint32_t>(pixels.bits_per_pixel));
    bmp.insert(bmp.end(), pixels.rows.begin(), pixels.rows.end());
}

std::vector<std::uint8_t> GrabRegion(const platform::ScreenRect& rect, int format, bool draw_cursor) {
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    // An empty or inverted rectangle has no pixels to read; no image is decodable from it.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return {};
    // The pixel buffer is kept per thread: fresh pages for every frame would cost more than the grab.
    thread_local platform::ScreenPixels pixels;
    if (!platform::grab_screen(rect, draw_cursor, pixels)) return {};
    thread_local std::vector<std::uint8_t> bmp;
    pack_bmp(static_cast<int>(width), static_cast<int>(height), pixels, bmp);
    return imaging::Convert(bmp, format);
}

}  // namespace gifanim::capture
