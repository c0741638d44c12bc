#include "platform/win32/window.h"

#include <commctrl.h>

#include <vector>

#include "platform/win32/gbk.h"

namespace gifanim::platform::win32 {

namespace {
// lParam: the work to run on the window's thread.
constexpr UINT kRunMessage = WM_APP + 0x100;
}  // namespace

std::wstring wide(std::string_view gbk) {
    return gbk_to_wide(gbk);
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
        (*reinterpret_cast<const std::function<void()>*>(lparam))();
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
    SendMessageW(window, kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
}

HWND create_control(HWND parent, const wchar_t* class_name, std::string_view gbk_text, DWORD style, int id, int x,
                    int y, int width, int height, UINT dpi) {
    const std::wstring text = wide(gbk_text);
    const HWND control =
        CreateWindowExW(0, class_name, text.c_str(), style | WS_CHILD | WS_VISIBLE, scaled(x, dpi), scaled(y, dpi),
                        scaled(width, dpi), scaled(height, dpi), parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
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
