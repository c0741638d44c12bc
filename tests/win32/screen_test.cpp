// The Win32 screen grabber, run under Wine on an Xvfb display (scripts/xvfb-run.sh): windows of
// known colours are put on the screen and grabbed back.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/screen.h"

namespace gifanim::platform {
namespace {

constexpr COLORREF kTopLeft = RGB(220, 30, 40);
constexpr COLORREF kTopRight = RGB(20, 200, 60);
constexpr COLORREF kBottomLeft = RGB(30, 40, 210);
constexpr COLORREF kBottomRight = RGB(250, 240, 10);

LRESULT CALLBACK quadrants_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        const int mid_x = client.right / 2;
        const int mid_y = client.bottom / 2;
        const std::array<std::pair<RECT, COLORREF>, 4> parts{{
            {{0, 0, mid_x, mid_y}, kTopLeft},
            {{mid_x, 0, client.right, mid_y}, kTopRight},
            {{0, mid_y, mid_x, client.bottom}, kBottomLeft},
            {{mid_x, mid_y, client.right, client.bottom}, kBottomRight},
        }};
        for (const auto& [rect, colour] : parts) {
            const HBRUSH brush = CreateSolidBrush(colour);
            FillRect(dc, &rect, brush);
            DeleteObject(brush);
        }
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

struct WindowDestroy {
    void operator()(HWND w) const { DestroyWindow(w); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroy>;

struct BrushDelete {
    void operator()(HBRUSH b) const { DeleteObject(b); }
};
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, BrushDelete>;

void pump_messages(int milliseconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

// A borderless topmost window at a fixed place; solid when `brush` is given, else four quadrants.
Window show_window(const wchar_t* class_name, HBRUSH brush, int left, int top, int width, int height) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = brush ? DefWindowProcW : quadrants_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = brush;
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    Window window(CreateWindowExW(WS_EX_TOPMOST, class_name, L"", WS_POPUP | WS_VISIBLE, left, top, width, height,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    if (window) UpdateWindow(window.get());
    return window;
}

// The colour at (x, y), y counted from the top, of 32-bit bottom-up rows.
COLORREF pixel(const ScreenPixels& p, int width, int height, int x, int y) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    const std::uint8_t* at = p.rows().data() + stride * static_cast<std::size_t>(height - 1 - y) + x * 4;
    return RGB(at[2], at[1], at[0]);
}

// Waits until the window's pixels have reached the screen: Wine hands them to the X server
// asynchronously.
bool wait_for_colour(const ScreenRect& rect, int x, int y, COLORREF colour) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    for (int attempt = 0; attempt < 100; ++attempt) {
        pump_messages(20);
        ScreenPixels p;
        if (grab_screen(rect, false, p) && p.bits_per_pixel == 32 && pixel(p, width, height, x, y) == colour) {
            return true;
        }
    }
    return false;
}

TEST(Win32Screen, NeedsAScreenOfThirtyTwoBits) {
    // Xvfb's 24-bit depth is read at 32 bits per pixel; no screen at all would give 0.
    ASSERT_GT(GetSystemMetrics(SM_CXSCREEN), 0) << "no display: run under scripts/xvfb-run.sh";
    EXPECT_EQ(screen_bits_per_pixel(), 32);
}

TEST(Win32Screen, GrabsTheRectangleExactlyWithRowsBottomUp) {
    constexpr int left = 211, top = 157, width = 101, height = 64;  // 101: odd width
    const Window window = show_window(L"gifanim quadrants", nullptr, left, top, width, height);
    ASSERT_TRUE(window);
    const ScreenRect rect{left, top, left + width, top + height};
    ASSERT_TRUE(wait_for_colour(rect, width - 1, height - 1, kBottomRight)) << "the window never reached the screen";

    ScreenPixels p;
    ASSERT_TRUE(grab_screen(rect, false, p));
    ASSERT_EQ(p.bits_per_pixel, 32);
    ASSERT_EQ(p.rows().size(), 404u * height);  // 101 pixels of 4 bytes
    const int mid_x = width / 2, mid_y = height / 2;
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF expected = y < mid_y ? (x < mid_x ? kTopLeft : kTopRight)
                                                : (x < mid_x ? kBottomLeft : kBottomRight);
            if (pixel(p, width, height, x, y) != expected && ++wrong <= 5) {
                ADD_FAILURE() << "pixel " << x << ',' << y << " is " << std::hex << pixel(p, width, height, x, y)
                              << ", not " << expected;
            }
        }
    }
    EXPECT_EQ(wrong, 0);

    // A rectangle inside the window, offset from its corner: only the bottom-right quadrant.
    const ScreenRect inner{left + mid_x + 3, top + mid_y + 2, left + mid_x + 13, top + mid_y + 7};
    ASSERT_TRUE(grab_screen(inner, false, p));
    ASSERT_EQ(p.rows().size(), 40u * 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 10; ++x) ASSERT_EQ(pixel(p, 10, 5, x, y), kBottomRight) << x << ',' << y;
    }
}

TEST(Win32Screen, RefusesEmptyRectangles) {
    ScreenPixels p;
    p.data.assign(4, 1);
    EXPECT_FALSE(grab_screen({10, 10, 10, 20}, false, p));
    EXPECT_TRUE(p.rows().empty());
    EXPECT_FALSE(grab_screen({10, 20, 30, 19}, true, p));
    EXPECT_TRUE(p.rows().empty());
}

TEST(Win32Screen, RefusesRectanglesWhoseBmpPassesFourGib) {
    for (const ScreenRect r : {ScreenRect{0, 0, 33000, 33000}, ScreenRect{-30000, -30000, 35535, 35535}}) {
        ScreenPixels p;
        EXPECT_FALSE(grab_screen(r, false, p)) << r.right;
        EXPECT_EQ(p.data.capacity(), 0u) << "nothing is allocated for it";
    }
}

TEST(Win32Screen, DrawsTheCursorAtThePointerWithoutHotspotCorrection) {
    constexpr int left = 400, top = 300, width = 64, height = 72;
    constexpr COLORREF colour = RGB(0, 128, 255);
    const Brush brush(CreateSolidBrush(colour));
    const Window window = show_window(L"gifanim solid", brush.get(), left, top, width, height);
    ASSERT_TRUE(window);
    const ScreenRect rect{left, top, left + width, top + height};
    ASSERT_TRUE(wait_for_colour(rect, width / 2, height / 2, colour)) << "the window never reached the screen";
    ASSERT_TRUE(SetCursorPos(left + 10, top + 20));
    pump_messages(100);  // lets the window set its class cursor

    ScreenPixels plain;
    ASSERT_TRUE(grab_screen(rect, false, plain));
    ScreenPixels with_cursor;
    ASSERT_TRUE(grab_screen(rect, true, with_cursor));

    int differing = 0, before_pointer = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(pixel(plain, width, height, x, y), colour) << x << ',' << y;
            if (pixel(with_cursor, width, height, x, y) != colour) {
                ++differing;
                if (x < 10 || y < 20) ++before_pointer;
            }
        }
    }
    EXPECT_GT(differing, 20);  // an arrow covers far more than a few pixels
    EXPECT_EQ(before_pointer, 0);
}

}  // namespace
}  // namespace gifanim::platform
