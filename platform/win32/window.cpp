#include "platform/win32/window.h"

#include <commctrl.h>

#include <cwchar>
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "platform/win32/gbk.h"

namespace gifanim::platform::win32 {

namespace {

// The controls' fonts, one per DPI, deleted when the program ends (after its windows).
class FontCache {
public:
    FontCache() = default;
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;
    ~FontCache() {
        for (const auto& [dpi, font] : fonts_) DeleteObject(font);
    }
    HFONT find_or_make(UINT dpi, HFONT (*make)(UINT)) {
        const std::lock_guard lock(mutex_);
        const auto found = fonts_.find(dpi);
        if (found != fonts_.end()) return found->second;
        const HFONT font = make(dpi);
        if (font) fonts_.emplace(dpi, font);
        return font;
    }

private:
    std::mutex mutex_;
    std::map<UINT, HFONT> fonts_;
};

int CALLBACK note_found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool has_chinese_glyphs(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = GB2312_CHARSET;
    std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    if (const HDC screen = GetDC(nullptr)) {
        EnumFontFamiliesExW(screen, &wanted, note_found, reinterpret_cast<LPARAM>(&found), 0);
        ReleaseDC(nullptr, screen);
    }
    return found;
}

UINT system_dpi() {
    return dpi_of(nullptr);
}

LOGFONTW message_font(UINT dpi) {
    // SystemParametersInfoForDpi exists from Windows 10 1607 on; before that the metrics are the
    // logon DPI's, scaled here.
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto for_dpi = reinterpret_cast<ForDpiFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (for_dpi && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return metrics.lfMessageFont;
    LOGFONTW font{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font = metrics.lfMessageFont;
    } else {
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    }
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(system_dpi()));
    return font;
}

HFONT make_ui_font(UINT dpi) {
    LOGFONTW font = message_font(dpi);
    // On a system whose locale is not Chinese the message font has no Chinese glyphs; the system
    // would borrow them from another face, in another style than the Latin ones beside them.
    if (!has_chinese_glyphs(font.lfFaceName)) {
        for (const wchar_t* face : {L"Microsoft YaHei UI", L"Microsoft YaHei", L"SimSun"}) {
            if (has_chinese_glyphs(face)) {
                std::wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
                break;
            }
        }
    }
    return CreateFontIndirectW(&font);
}

BOOL CALLBACK set_font_of_child(HWND child, LPARAM font) {
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

// Whether a run message may be taken: sent (not posted) from another thread of this process,
// which alone knows the cookie, and not yet replied to.
bool trusted_run_message(WPARAM cookie) {
    return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND && cookie == run_message_cookie();
}

}  // namespace

WPARAM run_message_cookie() {
    static const WPARAM cookie = [] {
        std::random_device random;
        // 64 random bits; zero, what a careless sender passes, is never one.
        WPARAM value = 0;
        while (value == 0) value = static_cast<WPARAM>(random()) << 16 << 16 | random();
        return value;
    }();
    return cookie;
}

HFONT ui_font(UINT dpi) {
    static FontCache fonts;
    return fonts.find_or_make(dpi, make_ui_font);
}

void set_ui_font(HWND window, UINT dpi) {
    if (const HFONT font = ui_font(dpi)) EnumChildWindows(window, set_font_of_child, reinterpret_cast<LPARAM>(font));
}

void take_suggested_rect(HWND window, LPARAM suggested) {
    const RECT& r = *reinterpret_cast<const RECT*>(suggested);
    SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring wide(std::string_view gbk) {
    return gbk_to_wide(gbk);
}

std::wstring control_text(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void set_control_text(HWND control, std::string_view gbk) {
    const std::wstring text = wide(gbk);
    if (control_text(control) != text) SetWindowTextW(control, text.c_str());
}

std::string gbk(std::wstring_view text) {
    return wide_to_gbk(text);
}

UINT dpi_of(HWND window) {
    // GetDpiForWindow exists from Windows 10 1607 on; before that the screen's DPI counts.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (get_dpi && window) {
        if (const UINT dpi = get_dpi(window)) return dpi;
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int scaled(int designed, UINT dpi) {
    return MulDiv(designed, static_cast<int>(dpi), 96);
}

Window::~Window() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool Window::create(const wchar_t* class_name, std::string_view gbk_caption, DWORD style, DWORD ex_style, int x, int y,
                    int width, int height, HWND owner, UINT class_style) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, class_name, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof wc;
        wc.style = class_style;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = class_name;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        if (!RegisterClassExW(&wc)) return false;
    }
    const std::wstring caption = wide(gbk_caption);
    return CreateWindowExW(ex_style, class_name, caption.c_str(), style, x, y, width, height, owner, nullptr, instance,
                           this) != nullptr;
}

LRESULT Window::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK Window::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kRunMessage) {
        if (trusted_run_message(wparam)) (*reinterpret_cast<const std::function<void()>*>(lparam))();
        return 0;
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
    const LRESULT result = self->handle(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

void run_on_window_thread(HWND window, const std::function<void()>& work) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        work();
        return;
    }
    SendMessageW(window, kRunMessage, run_message_cookie(), reinterpret_cast<LPARAM>(&work));
}

HWND create_control(HWND parent, const wchar_t* class_name, std::string_view gbk_text, DWORD style, int id, int x,
                    int y, int width, int height, UINT dpi) {
    const std::wstring text = wide(gbk_text);
    const HWND control =
        CreateWindowExW(0, class_name, text.c_str(), style | WS_CHILD | WS_VISIBLE, scaled(x, dpi), scaled(y, dpi),
                        scaled(width, dpi), scaled(height, dpi), parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font(dpi)), TRUE);
    return control;
}

HWND create_text_toolbar(HWND parent, int id, int first_id, std::span<const char* const> gbk_captions,
                         unsigned drop_downs, int width, int height, UINT dpi) {
    const HWND toolbar = CreateWindowExW(
        0, TOOLBARCLASSNAMEW, nullptr,
        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, 0,
        scaled(width, dpi), scaled(height, dpi), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        GetModuleHandleW(nullptr), nullptr);
    if (!toolbar) return nullptr;
    SendMessageW(toolbar, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font(dpi)), FALSE);
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    SendMessageW(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    std::vector<std::wstring> texts;
    for (const char* caption : gbk_captions) texts.push_back(wide(caption));
    std::vector<TBBUTTON> buttons(texts.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        buttons[i].iBitmap = I_IMAGENONE;
        buttons[i].idCommand = first_id + static_cast<int>(i);
        buttons[i].fsState = TBSTATE_ENABLED;
        const bool drop_down = (drop_downs >> i) & 1u;
        buttons[i].fsStyle = static_cast<BYTE>(BTNS_AUTOSIZE | BTNS_SHOWTEXT | (drop_down ? BTNS_DROPDOWN : 0));
        buttons[i].iString = reinterpret_cast<INT_PTR>(texts[i].c_str());
    }
    SendMessageW(toolbar, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    return toolbar;
}

std::string toolbar_button_caption(HWND toolbar, int command_id) {
    wchar_t text[256]{};
    const LRESULT n =
        SendMessageW(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(command_id), reinterpret_cast<LPARAM>(text));
    return n > 0 && n < 256 ? gbk(std::wstring_view(text, static_cast<std::size_t>(n))) : std::string();
}

void set_toolbar_button_caption(HWND toolbar, int command_id, std::string_view text) {
    std::wstring w = wide(text);
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = w.data();
    SendMessageW(toolbar, TB_SETBUTTONINFOW, static_cast<WPARAM>(command_id), reinterpret_cast<LPARAM>(&info));
}

void draw_dib24(HDC dc, int width, int height, const std::uint8_t* bits, int x, int y) {
    if (width <= 0 || height <= 0 || !bits) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), bits, &info, DIB_RGB_COLORS);
}

bool create_controls(HWND parent, std::span<const DesignedControl> controls, UINT dpi) {
    for (const DesignedControl& c : controls)
        if (!create_control(parent, c.class_name, c.text, c.style, c.id, c.x, c.y, c.width, c.height, dpi))
            return false;
    return true;
}

void lay_out_controls(HWND parent, std::span<const DesignedControl> controls, UINT dpi) {
    for (const DesignedControl& c : controls) {
        MoveWindow(GetDlgItem(parent, c.id), scaled(c.x, dpi), scaled(c.y, dpi), scaled(c.width, dpi),
                   scaled(c.height, dpi), TRUE);
    }
}

void size_and_centre_on_owner(HWND window, HWND owner, int client_width, int client_height, UINT dpi) {
    // The frame's thickness is what the window has beyond its client area, whatever the theme.
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    const int width = scaled(client_width, dpi) + (outer.right - outer.left) - client.right;
    const int height = scaled(client_height, dpi) + (outer.bottom - outer.top) - client.bottom;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

ScreenRect window_rect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return {r.left, r.top, r.right, r.bottom};
}

ScreenRect work_area_near(const ScreenRect& rect) {
    const RECT r{rect.left, rect.top, rect.right, rect.bottom};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info)) {
        // No monitor to ask: the primary screen.
        return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

}  // namespace gifanim::platform::win32
