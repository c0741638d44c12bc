#include "tests/unit/test_images.h"

namespace gifanim::test {

namespace {

void put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

std::vector<std::uint8_t> headers(int width, int height, int bits, std::uint32_t compression, std::size_t table_bytes,
                                  std::size_t stride, bool top_down) {
    const std::size_t offset = 54 + table_bytes;
    std::vector<std::uint8_t> v(offset + stride * static_cast<std::size_t>(height), 0);
    v[0] = 'B';
    v[1] = 'M';
    put32(v, 2, static_cast<std::uint32_t>(v.size()));
    put32(v, 10, static_cast<std::uint32_t>(offset));
    put32(v, 14, 40);
    put32(v, 18, static_cast<std::uint32_t>(width));
    put32(v, 22, static_cast<std::uint32_t>(top_down ? -height : height));
    put16(v, 26, 1);
    put16(v, 28, static_cast<std::uint32_t>(bits));
    put32(v, 30, compression);
    put32(v, 34, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
    return v;
}

std::size_t stride_of(int width, int bits) { return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4; }

// Offset of image row y (0 at the top) in the pixel data.
std::size_t row_at(int y, int height, std::size_t stride, bool top_down) {
    return stride * static_cast<std::size_t>(top_down ? y : height - 1 - y);
}

}  // namespace

std::vector<std::uint8_t> make_bmp(int width, int height, const PixelFn& pixel, int bits, bool top_down) {
    const std::size_t stride = stride_of(width, bits);
    auto v = headers(width, height, bits, 0, 0, stride, top_down);
    const int bpp = bits / 8;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = v.data() + 54 + row_at(y, height, stride, top_down);
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[x * bpp] = c.b;
            row[x * bpp + 1] = c.g;
            row[x * bpp + 2] = c.r;
            if (bpp == 4) row[x * bpp + 3] = 0xA5;  // must be ignored
        }
    }
    return v;
}

std::vector<std::uint8_t> make_paletted_bmp(int width, int height, int bits, const std::vector<Rgb>& table,
                                            const std::vector<std::uint8_t>& indices, bool top_down) {
    const std::size_t stride = stride_of(width, bits);
    auto v = headers(width, height, bits, 0, table.size() * 4, stride, top_down);
    put32(v, 46, static_cast<std::uint32_t>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i) {
        v[54 + 4 * i] = table[i].b;
        v[54 + 4 * i + 1] = table[i].g;
        v[54 + 4 * i + 2] = table[i].r;
    }
    const std::size_t data = 54 + table.size() * 4;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = v.data() + data + row_at(y, height, stride, top_down);
        for (int x = 0; x < width; ++x) {
            const unsigned idx = indices[static_cast<std::size_t>(y) * width + x];
            const int bit = x * bits;
            row[bit / 8] |= static_cast<std::uint8_t>(idx << (8 - bits - bit % 8));
        }
    }
    return v;
}

std::vector<std::uint8_t> make_bitfields_bmp(int width, int height, int bits, std::uint32_t red, std::uint32_t green,
                                             std::uint32_t blue, const std::vector<std::uint32_t>& raw) {
    const std::size_t stride = stride_of(width, bits);
    auto v = headers(width, height, bits, 3, 12, stride, false);
    put32(v, 54, red);
    put32(v, 58, green);
    put32(v, 62, blue);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = 66 + row_at(y, height, stride, false);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t px = raw[static_cast<std::size_t>(y) * width + x];
            if (bits == 16) {
                put16(v, row + 2 * x, px);
            } else {
                put32(v, row + 4 * x, px);
            }
        }
    }
    return v;
}

Rgb screen_like_pixel(int x, int y, int seed) {
    if (y < 24) return {30, 30, 60};                         // title bar
    if (x < 40) return {static_cast<std::uint8_t>(200 - y % 50), 200, 210};  // side panel gradient
    if (x > 300 && y > 120) {                                // photo-like noise
        Lcg rng(static_cast<std::uint64_t>(x * 7919 + y * 104729 + seed));
        const auto n = static_cast<std::uint8_t>(rng.next() % 64);
        return {static_cast<std::uint8_t>(120 + n), static_cast<std::uint8_t>(80 + n / 2), static_cast<std::uint8_t>(40 + n)};
    }
    // text-like glyphs on white: short dark strokes in rows of 14 pixels
    const int line = (y - 24) / 14, in_line = (y - 24) % 14;
    if (in_line > 2 && in_line < 11 && ((x * 3 + line * 5 + seed) % 11) < 3 && (x / 40 + line) % 5 != 0)
        return {20, 20, 20};
    return {255, 255, 255};
}

}  // namespace gifanim::test
