// The Win32 picture loader, run under Wine with a display (scripts/xvfb-run.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/picture.h"

namespace gifanim::platform {
namespace {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

void put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    put16(v, at, x & 0xFFFF);
    put16(v, at + 2, x >> 16);
}

// A BMP file with a BITMAPINFOHEADER. bits is 24 (pixel(x, y) gives colours) or 8 (pixel(x, y)
// gives .r as the palette index). y counts from the top of the picture.
template <class Pixel>
std::vector<std::uint8_t> make_bmp(int width, int height, int bits, bool top_down, const std::vector<Rgb>& palette,
                                   Pixel pixel) {
    const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    const std::size_t header = 14 + 40 + palette.size() * 4;
    std::vector<std::uint8_t> v(header + stride * static_cast<std::size_t>(height), 0);
    v[0] = 'B';
    v[1] = 'M';
    put32(v, 2, static_cast<std::uint32_t>(v.size()));
    put32(v, 10, static_cast<std::uint32_t>(header));
    put32(v, 14, 40);
    put32(v, 18, static_cast<std::uint32_t>(width));
    put32(v, 22, static_cast<std::uint32_t>(top_down ? -height : height));
    put16(v, 26, 1);
    put16(v, 28, static_cast<std::uint32_t>(bits));
    put32(v, 34, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
    put32(v, 46, static_cast<std::uint32_t>(palette.size()));
    for (std::size_t i = 0; i < palette.size(); ++i) {
        v[54 + i * 4] = palette[i].b;
        v[54 + i * 4 + 1] = palette[i].g;
        v[54 + i * 4 + 2] = palette[i].r;
    }
    for (int y = 0; y < height; ++y) {
        const int stored = top_down ? y : height - 1 - y;
        std::uint8_t* row = v.data() + header + stride * static_cast<std::size_t>(stored);
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            if (bits == 8) {
                row[x] = c.r;
            } else {
                row[x * 3] = c.b;
                row[x * 3 + 1] = c.g;
                row[x * 3 + 2] = c.r;
            }
        }
    }
    return v;
}

Rgb at(const Dib24& dib, int x, int y_from_top) {
    const std::uint8_t* p = dib.row(dib.height - 1 - y_from_top) + static_cast<std::size_t>(x) * 3;
    return {p[2], p[1], p[0]};
}

// Distinct in every channel for every pixel of the small test pictures.
Rgb gradient(int x, int y) {
    return {static_cast<std::uint8_t>(10 + x * 40), static_cast<std::uint8_t>(200 - y * 50),
            static_cast<std::uint8_t>(7 + (x + y) * 23)};
}

void expect_pixels(const Dib24& dib, int width, int height, auto expected) {
    ASSERT_EQ(dib.width, width);
    ASSERT_EQ(dib.height, height);
    ASSERT_EQ(dib.stride, Dib24::stride_for(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(at(dib, x, y), expected(x, y)) << "pixel " << x << "," << y;
        }
    }
}

// Width 5 leaves padding in every row for both 8 and 24 bits per pixel.
TEST(Win32PictureLoader, DecodesTrueColourBmpBothRowOrders) {
    for (const bool top_down : {false, true}) {
        SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
        const auto bytes = make_bmp(5, 4, 24, top_down, {}, gradient);
        Dib24 dib;
        ASSERT_EQ(load_picture(bytes, dib), LoadResult::ok);
        expect_pixels(dib, 5, 4, gradient);
    }
}

TEST(Win32PictureLoader, DecodesPaletteBmpBothRowOrders) {
    const std::vector<Rgb> palette = {{0, 0, 0}, {250, 20, 30}, {15, 240, 60}, {35, 45, 230}, {128, 64, 192}};
    const auto index = [](int x, int y) { return Rgb{static_cast<std::uint8_t>((x + 2 * y) % 5), 0, 0}; };
    for (const bool top_down : {false, true}) {
        SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
        const auto bytes = make_bmp(5, 3, 8, top_down, palette, index);
        Dib24 dib;
        ASSERT_EQ(load_picture(bytes, dib), LoadResult::ok);
        expect_pixels(dib, 5, 3, [&](int x, int y) { return palette[index(x, y).r]; });
    }
}

TEST(Win32PictureLoader, RefusesPicturesWiderThanAGifCanHold) {
    const auto grey = [](int, int) { return Rgb{90, 90, 90}; };
    Dib24 dib;
    EXPECT_EQ(load_picture(make_bmp(65536, 1, 24, false, {}, grey), dib), LoadResult::too_large);
    EXPECT_EQ(dib.bits, nullptr);

    ASSERT_EQ(load_picture(make_bmp(65535, 1, 24, false, {}, grey), dib), LoadResult::ok);
    EXPECT_EQ(dib.width, 65535);
    EXPECT_EQ(at(dib, 65534, 0), grey(0, 0));
}

TEST(Win32PictureLoader, RejectsBytesThatAreNoPicture) {
    Dib24 dib;
    EXPECT_EQ(load_picture({}, dib), LoadResult::undecodable);
    const std::string text = "GIF? no, just a sentence that happens to be long enough to look at";
    EXPECT_EQ(load_picture({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, dib),
              LoadResult::undecodable);
    const std::array<std::uint8_t, 64> zeros{};
    EXPECT_EQ(load_picture(zeros, dib), LoadResult::undecodable);
    EXPECT_EQ(dib.bits, nullptr);
}

std::vector<std::uint8_t> read_fixture(const char* name) {
    const auto path = std::filesystem::path(L"" GIFANIM_WIN32_TEST_DATA) / name;
    File f = File::open_read(path);
    std::vector<std::uint8_t> bytes(f.size());
    f.read(bytes);
    return bytes;
}

// quadrants_100x50.jpg: baseline JPEG, quadrants red, green / blue, white, made by
// convert -size 50x25 xc:#FF0000 xc:#00FF00 +append ( -size 50x25 xc:#0000FF xc:#FFFFFF +append ) -append
// -interlace none -quality 90 -strip
TEST(Win32PictureLoader, DecodesJpegAtItsPixelSize) {
    const auto bytes = read_fixture("quadrants_100x50.jpg");
    Dib24 dib;
    ASSERT_EQ(load_picture(bytes, dib), LoadResult::ok);
    ASSERT_EQ(dib.width, 100);
    ASSERT_EQ(dib.height, 50);
    const auto expect_close = [&](int x, int y, Rgb want) {
        const Rgb got = at(dib, x, y);
        EXPECT_NEAR(got.r, want.r, 12) << x << "," << y;
        EXPECT_NEAR(got.g, want.g, 12) << x << "," << y;
        EXPECT_NEAR(got.b, want.b, 12) << x << "," << y;
    };
    for (const int dy : {3, 20}) {
        for (const int dx : {5, 40}) {
            expect_close(dx, dy, {255, 0, 0});
            expect_close(50 + dx, dy, {0, 255, 0});
            expect_close(dx, 25 + dy, {0, 0, 255});
            expect_close(50 + dx, 25 + dy, {255, 255, 255});
        }
    }
}

// OleLoadPicture works in-process, so the loader needs no COM initialisation from its caller and
// works as well from a thread in either apartment (the recorder's UI thread is single-threaded).
TEST(Win32PictureLoader, DecodesOnThreadsWithAndWithoutCom) {
    const auto bytes = read_fixture("quadrants_100x50.jpg");
    enum class Com { none, single_threaded, multithreaded };
    for (const Com com : {Com::none, Com::single_threaded, Com::multithreaded}) {
        SCOPED_TRACE(static_cast<int>(com));
        LoadResult result = LoadResult::undecodable;
        Dib24 dib;
        std::thread([&] {
            HRESULT init = S_FALSE;
            if (com != Com::none) {
                init = CoInitializeEx(nullptr,
                                      com == Com::single_threaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
            }
            result = load_picture(bytes, dib);
            if (com != Com::none && SUCCEEDED(init)) CoUninitialize();
        }).join();
        ASSERT_EQ(result, LoadResult::ok);
        EXPECT_EQ(dib.width, 100);
        EXPECT_EQ(dib.height, 50);
    }
}

// Fills the process's GDI handle table up to a small reserve, so that a leak of one object per
// load runs out of handles within a few hundred loads. (GetGuiResources would count the objects
// directly, but Wine does not implement it.)
class GdiReserve {
public:
    explicit GdiReserve(std::size_t reserve) {
        for (HRGN r; (r = CreateRectRgn(0, 0, 1, 1)) != nullptr;) filler_.push_back(r);
        for (std::size_t i = 0; i < reserve && !filler_.empty(); ++i) {
            DeleteObject(filler_.back());
            filler_.pop_back();
        }
    }
    GdiReserve(const GdiReserve&) = delete;
    GdiReserve& operator=(const GdiReserve&) = delete;
    ~GdiReserve() {
        for (HRGN r : filler_) DeleteObject(r);
    }
    std::size_t filled() const { return filler_.size(); }

private:
    std::vector<HRGN> filler_;
};

TEST(Win32PictureLoader, ReleasesItsGdiObjects) {
    const auto bytes = make_bmp(2, 2, 24, false, {}, gradient);
    Dib24 dib;
    const GdiReserve reserve(300);
    ASSERT_GT(reserve.filled(), 5000u);
    for (int i = 0; i < 1500; ++i) {
        ASSERT_EQ(load_picture(bytes, dib), LoadResult::ok) << "load " << i;
    }
    expect_pixels(dib, 2, 2, gradient);
}

int screen_dpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// A 32x32 24-bit opaque icon: the BMP's info header and pixels, the height doubled to count the
// mask rows, and an all-zero mask.
std::vector<std::uint8_t> make_icon() {
    const auto pattern = [](int x, int y) { return gradient(x % 5, y % 4); };
    const auto bmp = make_bmp(32, 32, 24, false, {}, pattern);
    std::vector<std::uint8_t> v(6 + 16);
    v.insert(v.end(), bmp.begin() + 14, bmp.end());
    v.resize(v.size() + 32 * 4, 0);
    put16(v, 2, 1);  // an icon
    put16(v, 4, 1);  // one image
    v[6] = 32;
    v[7] = 32;
    put16(v, 10, 1);
    put16(v, 12, 24);
    put32(v, 14, static_cast<std::uint32_t>(v.size() - 22));
    put32(v, 18, 22);
    put32(v, 22 + 8, 64);
    return v;
}

// An icon has no pixel size of its own to the loader: it is measured in 0.01 mm and converted at
// the screen's resolution, truncating, so it comes back at its own size or a pixel less.
TEST(Win32PictureLoader, MeasuresIconsAtTheScreenResolution) {
    Dib24 dib;
    ASSERT_EQ(load_picture(make_icon(), dib), LoadResult::ok);
    if (screen_dpi() == 96) {
        expect_pixels(dib, 32, 32, [](int x, int y) { return gradient(x % 5, y % 4); });
    } else {
        EXPECT_NEAR(dib.width, 32, 1);
        EXPECT_NEAR(dib.height, 32, 1);
    }
}

// The DPI step of the Wine tests sets the screen resolution in a separate prefix and names it in
// GIFANIM_EXPECT_DPI, so that the JPEG test above is known to have run at that resolution.
TEST(Win32PictureLoader, RunsAtTheResolutionTheScriptAskedFor) {
    const char* expected = std::getenv("GIFANIM_EXPECT_DPI");
    if (!expected) GTEST_SKIP() << "GIFANIM_EXPECT_DPI not set";
    EXPECT_EQ(screen_dpi(), std::atoi(expected));
}

}  // namespace
}  // namespace gifanim::platform
