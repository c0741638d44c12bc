#include "review/win32/preview_window.h"

#include <commctrl.h>

namespace gifanim::review::win32 {

using platform::win32::dpi_of;
using platform::win32::scaled;

namespace {
constexpr const char* kButtonCaptions[] = {"正序", "倒序", "暂停", "保存"};
constexpr int kToolbarWidth = 248;
constexpr int kToolbarHeight = 40;
}  // namespace

bool PreviewWindow::create(HWND owner) {
    const UINT dpi = dpi_of(owner);
    if (!Window::create(kPreviewWindowClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        platform::win32::kOwnedByTopmost, CW_USEDEFAULT, CW_USEDEFAULT,
                        scaled(kPreviewDesignedWidth, dpi), scaled(kPreviewDesignedHeight, dpi), owner))
        return false;
    toolbar_ =
        platform::win32::create_text_toolbar(hwnd(), kPreviewToolbarId, kPreviewFirstButtonId, kButtonCaptions,
                                             1u << player_button::save, kToolbarWidth, kToolbarHeight, dpi_of(hwnd()));
    return toolbar_ &&
           canvas_.create(hwnd(), kPreviewCanvasId, 0, scaled(kToolbarHeight, dpi), scaled(248, dpi), scaled(232, dpi));
}

LRESULT PreviewWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (reinterpret_cast<HWND>(lparam) == toolbar_)
                player_.ToolbarClick(LOWORD(wparam) - kPreviewFirstButtonId);
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (header->hwndFrom == toolbar_ && header->code == TBN_DROPDOWN) {
                player_.ToolbarDropDown(reinterpret_cast<const NMTOOLBARW*>(lparam)->iItem - kPreviewFirstButtonId);
                return TBDDRET_DEFAULT;
            }
            break;
        }
        case WM_TIMER:
            if (wparam == static_cast<WPARAM>(kPlaybackTimerId)) player_.Tick();
            return 0;
        case WM_SIZE:
            if (toolbar_ && canvas_.hwnd()) {
                RECT bar{};
                GetWindowRect(toolbar_, &bar);
                player_.Resize(LOWORD(lparam), HIWORD(lparam), bar.bottom - bar.top);
            }
            break;
        case WM_CLOSE: player_.RequestClose(); return 0;
        case WM_DPICHANGED: {
            // The toolbar and its text follow the new DPI; the size the system suggests brings the
            // WM_SIZE that lays the canvas out below the toolbar's new height.
            const UINT dpi = HIWORD(wparam);
            SetWindowPos(toolbar_, nullptr, 0, 0, scaled(kToolbarWidth, dpi), scaled(kToolbarHeight, dpi),
                         SWP_NOZORDER | SWP_NOACTIVATE);
            platform::win32::set_ui_font(hwnd(), dpi);
            platform::win32::take_suggested_rect(hwnd(), lparam);
            return 0;
        }
        default: break;
    }
    return Window::handle(message, wparam, lparam);
}

void PreviewWindow::SetCaption(const std::string& gbk) {
    SetWindowTextW(hwnd(), platform::win32::wide(gbk).c_str());
}

std::string PreviewWindow::ButtonCaption(int index) const {
    return platform::win32::toolbar_button_caption(toolbar_, kPreviewFirstButtonId + index);
}

void PreviewWindow::SetButtonCaption(int index, const std::string& gbk) {
    platform::win32::set_toolbar_button_caption(toolbar_, kPreviewFirstButtonId + index, gbk);
}

void PreviewWindow::StartTimer(int id, std::int32_t period_ms) {
    SetTimer(hwnd(), static_cast<UINT_PTR>(id), static_cast<UINT>(period_ms), nullptr);
}

void PreviewWindow::StopTimer(int id) {
    KillTimer(hwnd(), static_cast<UINT_PTR>(id));
}

platform::ScreenRect PreviewWindow::WindowRect() const {
    return platform::win32::window_rect(hwnd());
}

void PreviewWindow::MoveWindow(int left, int top, int width, int height) {
    ::MoveWindow(hwnd(), left, top, width, height, TRUE);
}

void PreviewWindow::MoveCanvas(int left, int top, int width, int height) {
    ::MoveWindow(canvas_.hwnd(), left, top, width, height, TRUE);
}

void PreviewWindow::Show() {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
}

}  // namespace gifanim::review::win32
