#include "platform/win32/window.h"

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

bool Window::create(const wchar_t* class_name, std::string_view gbk_caption, DWORD style, DWORD ex_style, int x,
                    int y, int width, int height, HWND owner) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, class_name, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = class_name;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        if (!RegisterClassExW(&wc)) return false;
    }
    const std::wstring caption = wide(gbk_caption);
    return CreateWindowExW(ex_style, class_name, caption.c_str(), style, x, y, width, height, owner, nullptr,
                           instance, this) != nullptr;
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

}  // namespace gifanim::platform::win32
