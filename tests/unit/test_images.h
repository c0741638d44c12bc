#pragma once
// Image files built in memory for the tests.
#include <cstdint>
#include <functional>
#include <vector>

namespace gifanim::test {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

using PixelFn = std::function<Rgb(int x, int y)>;  // y = 0 at the top

// A BMP file with a 40-byte info header. Depth 24 or 32 (BI_RGB); rows bottom-up unless top_down.
std::vector<std::uint8_t> make_bmp(int width, int height, const PixelFn& pixel, int bits = 24, bool top_down = false);

// A paletted BMP (1, 4 or 8 bits per pixel) with the given colour table and indices (top-down).
std::vector<std::uint8_t> make_paletted_bmp(int width, int height, int bits, const std::vector<Rgb>& table,
                                            const std::vector<std::uint8_t>& indices, bool top_down = false);

// A 16- or 32-bit BI_BITFIELDS BMP with the given masks.
std::vector<std::uint8_t> make_bitfields_bmp(int width, int height, int bits, std::uint32_t red, std::uint32_t green,
                                             std::uint32_t blue, const std::vector<std::uint32_t>& raw_pixels);

// Deterministic pseudo-random numbers.
struct Lcg {
    std::uint64_t state;
    explicit Lcg(std::uint64_t seed) : state(seed * 6364136223846793005ull + 1442695040888963407ull) {}
    std::uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    }
};

// A desktop-like picture: flat panels, a gradient, text-like glyph rows and a noisy photo area.
Rgb screen_like_pixel(int x, int y, int seed);

}  // namespace gifanim::test
