#include "capture/grab.h"

#include "imaging/convert.h"
#include "platform/bmp.h"
#include "platform/picture.h"

namespace gifanim::capture {

bool pack_bmp(int width, int height, platform::ScreenPixels& pixels) {
    if (pixels.offset != platform::kBmpHeadersSize || pixels.data.size() < platform::kBmpHeadersSize) return false;
    return platform::write_bmp_headers(std::span(pixels.data).first<platform::kBmpHeadersSize>(), width, height,
                                       static_cast<unsigned>(pixels.bits_per_pixel), 0, 0, platform::kBmpHeadersSize);
}

bool grab_pixels(const platform::ScreenRect& rect, bool draw_cursor, platform::ScreenPixels& pixels) {
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    // An empty or inverted rectangle has no pixels to read; no image is decodable from it.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return false;
    pixels.offset = platform::kBmpHeadersSize;
    return platform::grab_screen(rect, draw_cursor, pixels) &&
           pack_bmp(static_cast<int>(width), static_cast<int>(height), pixels);
}

std::vector<std::uint8_t> GrabRegion(const platform::ScreenRect& rect, int format, bool draw_cursor) {
    try {
        // The BMP is kept per thread: fresh pages for every frame would cost more than the grab.
        // One far larger than a screen is let go again, whichever way we leave.
        thread_local platform::ScreenPixels pixels;
        struct Trim {
            ~Trim() {
                if (pixels.data.capacity() > platform::kKeptScratchBytes) pixels = platform::ScreenPixels{};
            }
        } trim;
        if (!grab_pixels(rect, draw_cursor, pixels)) return {};
        return imaging::Convert(pixels.data, format);
    } catch (...) {
        return {};
    }
}

}  // namespace gifanim::capture
