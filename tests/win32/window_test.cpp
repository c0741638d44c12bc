// The window base: the message that runs work on a window's thread, which other processes and
// stray messages must not be able to use, and the controls' fonts at the window's DPI.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/win32/window.h"

namespace gifanim::platform::win32 {
namespace {

struct PlainWindow : Window {
    bool create() { return Window::create(L"GifRecWindowBaseTest", "", WS_OVERLAPPEDWINDOW, 0, 10, 10, 300, 200, {}); }
};

// Runs `other` on a thread of its own while this thread, the window's, takes messages.
void on_other_thread(const std::function<void()>& other) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        other();
        done = true;
    });
    while (!done) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    thread.join();
}

int font_height(HFONT font) {
    LOGFONTW f{};
    EXPECT_EQ(GetObjectW(font, sizeof f, &f), static_cast<int>(sizeof f));
    return std::abs(f.lfHeight);
}

TEST(WindowBase, TheRunMessageIsTakenOnlySentFromThisProcessWithItsCookie) {
    PlainWindow window;
    ASSERT_TRUE(window.create());
    const HWND hwnd = window.hwnd();
    int runs = 0;
    const std::function<void()> work = [&runs] { ++runs; };
    const LPARAM pointer = reinterpret_cast<LPARAM>(&work);
    const WPARAM cookie = run_message_cookie();
    EXPECT_NE(cookie, 0u);

    on_other_thread([&] {
        // What another process could send: no cookie or a guessed one, and pointers that would
        // crash or worse if called through.
        SendMessageW(hwnd, kRunMessage, 0, pointer);
        SendMessageW(hwnd, kRunMessage, cookie ^ 1, pointer);
        SendMessageW(hwnd, kRunMessage, 0, 1);
        SendMessageW(hwnd, kRunMessage, cookie + 1, 0x7FFF0000);
        // Posted, even with the cookie: not sent, so not ours.
        PostMessageW(hwnd, kRunMessage, cookie, pointer);
    });
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    EXPECT_EQ(runs, 0);

    on_other_thread([&] { run_on_window_thread(hwnd, work); });
    EXPECT_EQ(runs, 1);
    run_on_window_thread(hwnd, work);  // on the window's own thread it runs at once
    EXPECT_EQ(runs, 2);
}

TEST(WindowBase, ControlsTakeTheMessageFontOfTheirDpiAndFollowADpiChange) {
    const int at_96 = font_height(ui_font(96));
    ASSERT_GT(at_96, 0);
    for (const UINT dpi : {120u, 144u, 192u}) {
        // Not the logon DPI's font scaled by the system: the text grows with the controls.
        EXPECT_NEAR(font_height(ui_font(dpi)), MulDiv(at_96, static_cast<int>(dpi), 96), 1) << dpi;
        EXPECT_EQ(ui_font(dpi), ui_font(dpi)) << "made once per DPI";
    }

    PlainWindow window;
    ASSERT_TRUE(window.create());
    const UINT dpi = dpi_of(window.hwnd());
    if (const char* expected = std::getenv("GIFANIM_EXPECT_DPI")) {
        EXPECT_EQ(dpi, UINT(std::atoi(expected)));
    }
    const HWND label = create_control(window.hwnd(), L"STATIC", "录制区域穿透", 0, 7, 0, 0, 104, 24, dpi);
    const HWND edit = create_control(window.hwnd(), L"EDIT", "15", 0, 8, 0, 30, 40, 24, dpi);
    ASSERT_TRUE(label && edit);
    for (const HWND control : {label, edit}) {
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), ui_font(dpi));
    }
    // Moved to a monitor of twice the DPI, every control's text is twice the size.
    set_ui_font(window.hwnd(), 2 * dpi);
    for (const HWND control : {label, edit}) {
        const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        EXPECT_EQ(font, ui_font(2 * dpi));
        EXPECT_NEAR(font_height(font), 2 * font_height(ui_font(dpi)), 1);
    }
}

}  // namespace
}  // namespace gifanim::platform::win32
