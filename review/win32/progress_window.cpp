#include "review/win32/progress_window.h"

#include <commctrl.h>

#include "review/export.h"
#include "review/window_placement.h"

namespace gifanim::review::win32 {

namespace {

using platform::win32::scaled;

#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

// A thin border and no caption: the window only says how far the export has got. As a tool
// window it stays out of the taskbar. Topmost like the preview and the editor, the frame
// window's other owned windows, so that it can be put above them.
constexpr DWORD kWindowStyle = WS_POPUP | WS_BORDER;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW | platform::win32::kOwnedByTopmost;

}  // namespace

bool ProgressWindow::create(HWND owner) {
    if (!Window::create(kProgressWindowClass, "", kWindowStyle, kWindowExStyle, 0, 0, kProgressBarWidth,
                        kProgressBarHeight, owner))
        return false;
    return platform::win32::create_control(hwnd(), PROGRESS_CLASSW, "", 0, kProgressBarId, 0, 0, kProgressBarWidth,
                                           kProgressBarHeight, platform::win32::dpi_of(hwnd())) != nullptr;
}

void ProgressWindow::show_centred_on(HWND frame_window) {
    RECT bar_rect{}, window{}, client{}, frame{};
    GetWindowRect(bar(), &bar_rect);
    GetWindowRect(hwnd(), &window);
    GetClientRect(hwnd(), &client);
    GetWindowRect(frame_window, &frame);
    // The border is what the window has beyond its client area, whatever the theme.
    const int width = (bar_rect.right - bar_rect.left) + (window.right - window.left) - client.right;
    const int height = (bar_rect.bottom - bar_rect.top) + (window.bottom - window.top) - client.bottom;
    const platform::ScreenRect centred =
        progress_window_rect({frame.left, frame.top, frame.right, frame.bottom}, width, height);
    const platform::ScreenRect r = inside_work_area(centred, platform::win32::work_area_near(centred));
    // Above the frame window's other windows, or an export started from the preview would show
    // behind it (the frame window disabled and no progress to be seen); not activated, so the
    // window the user works in keeps the keyboard. The window is topmost already: HWND_TOPMOST
    // puts it first among the topmost windows, where HWND_TOP may leave an owned window just
    // above its owner.
    SetWindowPos(hwnd(), HWND_TOPMOST, r.left, r.top, width, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void ProgressWindow::hide() {
    ShowWindow(hwnd(), SW_HIDE);
}

std::int32_t ProgressWindow::maximum() const {
    return static_cast<std::int32_t>(SendMessageW(bar(), PBM_GETRANGE, FALSE, 0));
}

void ProgressWindow::set_position(std::int32_t position) {
    SendMessageW(bar(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ProgressWindow::layout(UINT dpi) {
    MoveWindow(bar(), 0, 0, scaled(kProgressBarWidth, dpi), scaled(kProgressBarHeight, dpi), TRUE);
}

LRESULT ProgressWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE: hide(); return 0;
        case WM_DPICHANGED:
            // The window is the bar and sits centred on its owner, so it follows the bar rather
            // than the rectangle suggested.
            layout(LOWORD(wparam));
            if (IsWindowVisible(hwnd())) show_centred_on(GetWindow(hwnd(), GW_OWNER));
            return 0;
        default: return Window::handle(message, wparam, lparam);
    }
}

}  // namespace gifanim::review::win32
