#include "app/win32/frame_window.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "review/window_placement.h"

namespace gifanim::app::win32 {

using platform::win32::dpi_of;
using platform::win32::scaled;
using platform::win32::wide;

namespace {
constexpr int kDesignedLeft = 50;
constexpr int kDesignedTop = 50;
constexpr int kToolbarWidth = 296;
constexpr int kToolbarHeight = 40;
constexpr const char* kButtonCaptions[] = {"录制", "清空", "预览", "编辑", "保存"};
constexpr wchar_t kInputCatcherClass[] = L"GifRecInputCatcher";
// No maximise box: the system maximises a window that has one without asking it (a drag to the
// screen's top edge, a double click on the caption), and a maximised frame window would record
// more than its panel showed.
constexpr DWORD kFrameStyle = (WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX) | WS_CLIPCHILDREN;

// What a window of this style has beyond its client area at `dpi`; `now` where the system cannot
// say (before Windows 10 1607).
platform::ScreenSize frame_at(UINT dpi, platform::ScreenSize now) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = reinterpret_cast<AdjustForDpiFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    RECT r{0, 0, 0, 0};
    if (!adjust || !adjust(&r, kFrameStyle, FALSE, 0, dpi)) return now;
    return {r.right - r.left, r.bottom - r.top};
}
}  // namespace

// A popup over the capture panel, nearly transparent (alpha 1 of 255): the screen beneath shows
// through, but unlike colour-keyed pixels it takes the mouse. A press on it drags the frame window.
class FrameWindow::InputCatcher final : public platform::win32::Window {
public:
    bool create(HWND owner) {
        owner_ = owner;
        if (!Window::create(kInputCatcherClass, "", WS_POPUP, WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, 0, 0,
                            1, 1, owner)) {
            return false;
        }
        SetLayeredWindowAttributes(hwnd(), 0, 1, LWA_ALPHA);
        // Kept out of screen grabs where the system can (Windows 10 2004 and later).
        using SetAffinityFn = BOOL(WINAPI*)(HWND, DWORD);
        if (const auto set_affinity = reinterpret_cast<SetAffinityFn>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetWindowDisplayAffinity")))) {
            set_affinity(hwnd(), 0x11);  // WDA_EXCLUDEFROMCAPTURE
        }
        return true;
    }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
        switch (message) {
            case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
            case WM_LBUTTONDOWN:
                ReleaseCapture();
                SendMessageW(owner_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
                return 0;
            default: return Window::handle(message, wparam, lparam);
        }
    }
    HWND owner_ = nullptr;
};

FrameWindow::FrameWindow() = default;

FrameWindow::~FrameWindow() {
    catcher_.reset();
    if (panel_brush_) DeleteObject(panel_brush_);
}

bool FrameWindow::create() {
    const UINT dpi = dpi_of(nullptr);
    if (!Window::create(kFrameWindowClass, kFrameWindowCaption, kFrameStyle, 0, scaled(kDesignedLeft, dpi),
                        scaled(kDesignedTop, dpi), scaled(kDesignedWidth, dpi), scaled(kDesignedHeight, dpi),
                        nullptr)) {
        return false;
    }
    shown_rect_ = platform::win32::window_rect(hwnd());
    // No menu bar: the menus are popups opened from the toolbar.
    SetMenu(hwnd(), nullptr);
    create_toolbar();
    panel_ = platform::win32::create_control(hwnd(), L"STATIC", "", 0, kCapturePanelId, 0, kToolbarHeight, 1, 1,
                                             dpi_of(hwnd()));
    catcher_ = std::make_unique<InputCatcher>();
    catcher_->create(hwnd());
    layout();
    return true;
}

void FrameWindow::create_toolbar() {
    constexpr unsigned drop_downs = 1u << button::record | 1u << button::save;
    toolbar_ = platform::win32::create_text_toolbar(hwnd(), kToolbarId, kFirstButtonId, kButtonCaptions, drop_downs,
                                                    kToolbarWidth, kToolbarHeight, dpi_of(hwnd()));
}

void FrameWindow::layout() {
    if (!toolbar_ || !panel_) return;
    RECT client{};
    GetClientRect(hwnd(), &client);
    RECT bar{};
    GetWindowRect(toolbar_, &bar);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&bar), 2);
    const platform::ScreenRect r = capture_panel_layout(client.right, client.bottom, bar.top, bar.bottom - bar.top);
    ::MoveWindow(panel_, r.left, r.top, r.right - r.left, std::max(0L, static_cast<long>(r.bottom - r.top)), TRUE);
    place_input_catcher();
}

void FrameWindow::place_input_catcher() {
    if (!catcher_ || !catcher_->hwnd()) return;
    if (click_through_ || !IsWindowVisible(hwnd()) || IsIconic(hwnd())) {
        ShowWindow(catcher_->hwnd(), SW_HIDE);
        return;
    }
    const platform::ScreenRect r = CapturePanelRect();
    SetWindowPos(catcher_->hwnd(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOACTIVATE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

LRESULT FrameWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if (refuses_system_command(static_cast<unsigned>(wparam))) return 0;
            break;
        case WM_COMMAND:
            if (!shell_) break;
            if (lparam == 0) {
                shell_->MenuCommand(LOWORD(wparam));
            } else if (reinterpret_cast<HWND>(lparam) == toolbar_) {
                shell_->ToolbarClick(LOWORD(wparam) - kFirstButtonId);
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (shell_ && header->hwndFrom == toolbar_ && header->code == TBN_DROPDOWN) {
                shell_->ToolbarDropDown(reinterpret_cast<const NMTOOLBARW*>(lparam)->iItem - kFirstButtonId);
                return TBDDRET_DEFAULT;
            }
            break;
        }
        case WM_TIMER:
            if (shell_ && wparam == static_cast<WPARAM>(capture::kRecordTimerId)) shell_->RecordTick();
            if (shell_ && wparam == static_cast<WPARAM>(kCountdownTimerId)) shell_->CountdownTick();
            return 0;
        case WM_HOTKEY:
            if (shell_) shell_->HotkeyPressed(static_cast<std::intptr_t>(wparam));
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lparam) == panel_ && panel_brush_)
                return reinterpret_cast<LRESULT>(panel_brush_);
            break;
        case WM_SIZE: layout(); break;
        // Every move, show, hide and minimise comes through here.
        case WM_WINDOWPOSCHANGED:
            if (WindowState() == review::WindowShow::normal) shown_rect_ = platform::win32::window_rect(hwnd());
            place_input_catcher();
            break;
        case WM_DPICHANGED: dpi_changed(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam)); return 0;
        case WM_CLOSE:
            // Shutting down waits for the export's thread, which may itself be waiting for this
            // thread (window changes, its message box owned by this window): no close until it ends.
            if (shell_ && shell_->exporter().running()) return 0;
            break;
        // Logging off or shutting down. No close follows: the process is ended once every window
        // has answered WM_ENDSESSION, so the settings a close writes are written then. The
        // recording stays, for the next start to recover, and nothing reaches the shell after it.
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            if (wparam && shell_) {
                shell_->SessionEnding();
                shell_ = nullptr;
            }
            return 0;
        case WM_DESTROY:
            if (shell_) shell_->ShutDown();
            PostQuitMessage(0);
            return 0;
        default: break;
    }
    return Window::handle(message, wparam, lparam);
}

void FrameWindow::dpi_changed(UINT dpi, const RECT& suggested) {
    DpiChange change;
    change.window = platform::win32::window_rect(hwnd());
    change.suggested = {suggested.left, suggested.top, suggested.right, suggested.bottom};
    RECT client{}, bar{};
    GetClientRect(hwnd(), &client);
    GetWindowRect(toolbar_, &bar);
    change.toolbar_before = bar.bottom - bar.top;
    change.toolbar_after = scaled(kToolbarHeight, dpi);
    change.frame_before = {change.window.right - change.window.left - client.right,
                           change.window.bottom - change.window.top - client.bottom};
    change.frame_after = frame_at(dpi, change.frame_before);
    SetWindowPos(toolbar_, nullptr, 0, 0, scaled(kToolbarWidth, dpi), change.toolbar_after,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    platform::win32::set_ui_font(hwnd(), dpi);
    const platform::ScreenRect r = frame_rect_after_dpi_change(change, placing_);
    SetWindowPos(hwnd(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layout();
}

void FrameWindow::SetCaption(const std::string& text) {
    SetWindowTextW(hwnd(), wide(text).c_str());
}

std::string FrameWindow::ButtonCaption(int index) const {
    return platform::win32::toolbar_button_caption(toolbar_, kFirstButtonId + index);
}

void FrameWindow::SetButtonCaption(int index, const std::string& text) {
    platform::win32::set_toolbar_button_caption(toolbar_, kFirstButtonId + index, text);
}

void FrameWindow::EnableButton(int index, bool enabled) {
    SendMessageW(toolbar_, TB_ENABLEBUTTON, static_cast<WPARAM>(kFirstButtonId + index), MAKELPARAM(enabled, 0));
}

platform::ScreenRect FrameWindow::WindowRect() const {
    return platform::win32::window_rect(hwnd());
}

void FrameWindow::MoveWindow(int left, int top, int width, int height) {
    placing_ = platform::ScreenRect{left, top, left + width, top + height};
    ::MoveWindow(hwnd(), left, top, width, height, TRUE);
    placing_.reset();
}

review::WindowShow FrameWindow::WindowState() const {
    if (IsIconic(hwnd())) return review::WindowShow::minimized;
    if (IsZoomed(hwnd())) return review::WindowShow::maximized;
    return review::WindowShow::normal;
}

platform::ScreenRect FrameWindow::NormalRect() const {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(hwnd(), &placement)) return shown_rect_;
    const RECT& n = placement.rcNormalPosition;
    const platform::ScreenRect normal{n.left, n.top, n.right, n.bottom};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromRect(&n, MONITOR_DEFAULTTONEAREST), &monitor)) return normal;
    const RECT& m = monitor.rcMonitor;
    const RECT& w = monitor.rcWork;
    return review::workspace_to_screen(normal, {m.left, m.top, m.right, m.bottom}, {w.left, w.top, w.right, w.bottom});
}

void FrameWindow::Minimize() {
    ShowWindow(hwnd(), SW_MINIMIZE);
}

platform::ScreenRect FrameWindow::CapturePanelRect() const {
    RECT r{};
    GetWindowRect(panel_, &r);
    return {r.left, r.top, r.right, r.bottom};
}

platform::ScreenRect FrameWindow::capture_panel_in_client() const {
    RECT r{};
    GetWindowRect(panel_, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

platform::ScreenSize FrameWindow::ScreenSize() const {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

void FrameWindow::StartTimer(int id, std::int32_t period_ms) {
    SetTimer(hwnd(), static_cast<UINT_PTR>(id), static_cast<UINT>(period_ms), nullptr);
}

void FrameWindow::StopTimer(int id) {
    KillTimer(hwnd(), static_cast<UINT_PTR>(id));
}

void FrameWindow::ShowPopupMenu(const std::vector<MenuItem>& items) {
    const HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (const MenuItem& item : items) {
        if (item.flags == kMenuSeparator) {
            AppendMenuW(menu, MF_SEPARATOR, static_cast<UINT_PTR>(item.id), nullptr);
        } else {
            AppendMenuW(menu, MF_STRING | (item.flags & MF_CHECKED), static_cast<UINT_PTR>(item.id),
                        wide(item.label).c_str());
        }
    }
    POINT at{};
    GetCursorPos(&at);
    // The menus are the frame window's, but one opened from the editor or the preview belongs to
    // that window while it is open: the window the user works in stays in front (the owner must be
    // the foreground window, or the menu would not close on a click elsewhere). The choice comes
    // back to the frame window as a menu command either way.
    HWND owner = GetForegroundWindow();
    if (!owner || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) owner = hwnd();
    SetForegroundWindow(owner);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD, at.x, at.y, 0, owner, nullptr));
    PostMessageW(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
    if (chosen != 0) PostMessageW(hwnd(), WM_COMMAND, chosen, 0);
}

void FrameWindow::ApplyTransparency(std::uint32_t colour_key, bool click_through) {
    SetWindowLongW(hwnd(), GWL_EXSTYLE, GetWindowLongW(hwnd(), GWL_EXSTYLE) | WS_EX_LAYERED);
    if (panel_brush_) DeleteObject(panel_brush_);
    panel_brush_ = CreateSolidBrush(colour_key);
    InvalidateRect(panel_, nullptr, TRUE);
    SetLayeredWindowAttributes(hwnd(), colour_key, 0, LWA_COLORKEY);
    click_through_ = click_through;
    place_input_catcher();
}

void FrameWindow::ShowSettingsWindow() {
    if (on_show_settings) on_show_settings();
}

void FrameWindow::HideSettingsWindow() {
    if (on_hide_settings) on_hide_settings();
}

void FrameWindow::ShowAbout() {
    MessageBoxW(hwnd(), wide("Zovaro GIF录制\r\n\r\n版本 1.0").c_str(), wide("关于").c_str(),
                MB_OK | MB_ICONINFORMATION);
}

void FrameWindow::ShowWarning(const std::string& text) {
    MessageBoxW(hwnd(), wide(text).c_str(), wide(kFrameWindowCaption).c_str(), MB_OK | MB_ICONWARNING);
}

bool FrameWindow::AskYesNo(const std::string& text, const std::string& title) {
    return MessageBoxW(hwnd(), wide(text).c_str(), wide(title).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void FrameWindow::ShowPreview() {
    if (on_show_preview) on_show_preview();
}

void FrameWindow::OpenEditor() {
    if (on_open_editor) on_open_editor();
}

void FrameWindow::EditorCommand(int id) {
    if (on_editor_command) on_editor_command(id);
}

}  // namespace gifanim::app::win32
