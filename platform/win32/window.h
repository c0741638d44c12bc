#pragma once
// What every window of the recorder shares: GBK texts on the wide APIs, sizes designed at 96 DPI,
// one window procedure that hands messages to an object, and running code on a window's thread.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace gifanim::platform::win32 {

// GBK texts through code page 936, whatever the system's locale.
std::wstring wide(std::string_view gbk);
std::string gbk(std::wstring_view text);

// The DPI the window is shown at (96 where the system cannot say), and a size or position
// designed at 96 DPI scaled to it.
UINT dpi_of(HWND window);
int scaled(int designed, UINT dpi);

// A window whose messages go to handle(). The object must outlive its window.
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const { return hwnd_; }

protected:
    // Registers the class on first use (white background, arrow cursor) and creates the window.
    bool create(const wchar_t* class_name, std::string_view gbk_caption, DWORD style, DWORD ex_style, int x, int y,
                int width, int height, HWND owner);
    // Messages not handled go to DefWindowProcW.
    virtual LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    HWND hwnd_ = nullptr;
};

// Runs `work` on the thread that owns `window` and returns when it has run: from any thread, a
// window may only be changed by its own. On the window's thread it runs at once.
void run_on_window_thread(HWND window, const std::function<void()>& work);

// A child control of the class `class_name` at a rectangle designed at 96 DPI, scaled to `dpi`,
// with the window's default GUI font.
HWND create_control(HWND parent, const wchar_t* class_name, std::string_view gbk_text, DWORD style, int id, int x,
                    int y, int width, int height, UINT dpi);

}  // namespace gifanim::platform::win32
