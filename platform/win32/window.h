#pragma once
// What every window of the recorder shares: GBK texts on the wide APIs, sizes designed at 96 DPI,
// one window procedure that hands messages to an object, and running code on a window's thread.
#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/picture.h"
#include "platform/screen.h"

namespace gifanim::platform::win32 {

// GBK texts through code page 936, whatever the system's locale.
std::wstring wide(std::string_view gbk);
std::string gbk(std::wstring_view text);

// A control's text, and setting it to a GBK text: an unchanged text is left alone, since setting
// it would move the caret of a box being typed in.
std::wstring control_text(HWND control);
void set_control_text(HWND control, std::string_view gbk);

// The extended style of a window owned by the always-on-top frame window. Windows keeps owned
// windows above their owner anyway; Wine does so only for popups, so an owned overlapped window
// says it is topmost itself, or the frame window would cover it.
inline constexpr DWORD kOwnedByTopmost = WS_EX_TOPMOST;

// The DPI the window is shown at (96 where the system cannot say), and a size or position
// designed at 96 DPI scaled to it.
UINT dpi_of(HWND window);
int scaled(int designed, UINT dpi);

// The font of the controls at `dpi`: the system's message font at that DPI (where the system
// cannot say, the one of the logon DPI scaled), in a face with the Chinese glyphs where the
// message font has none, so that labels do not mix glyph styles. Made once per DPI and kept
// until the program ends.
HFONT ui_font(UINT dpi);
// Gives every child of `window` ui_font(dpi): after a DPI change the controls are scaled by the
// system and their text must follow.
void set_ui_font(HWND window, UINT dpi);
// Takes the rectangle a WM_DPICHANGED suggests (its lParam).
void take_suggested_rect(HWND window, LPARAM suggested);

// A window whose messages go to handle(). The object must outlive its window.
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const { return hwnd_; }

protected:
    // Registers the class on first use (button-face background, arrow cursor, `class_style`) and
    // creates the window; `owner` is the parent of a child window.
    bool create(const wchar_t* class_name, std::string_view gbk_caption, DWORD style, DWORD ex_style, int x, int y,
                int width, int height, HWND owner, UINT class_style = 0);
    // Messages not handled go to DefWindowProcW.
    virtual LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    HWND hwnd_ = nullptr;
};

// Runs `work` on the thread that owns `window` and returns when it has run: from any thread, a
// window may only be changed by its own. On the window's thread it runs at once. The message that
// carries it is taken only when sent from another thread of this process with this process's
// cookie (see run_message_cookie), so no other process, and no stray or posted message, makes a
// window call through a pointer of its choosing.
void run_on_window_thread(HWND window, const std::function<void()>& work);
// The message run_on_window_thread sends, and the random number of this process its wParam must
// hold; both are here for the tests that play a hostile sender.
inline constexpr UINT kRunMessage = WM_APP + 0x100;
WPARAM run_message_cookie();

// A child control of the class `class_name` at a rectangle designed at 96 DPI, scaled to `dpi`,
// with ui_font(dpi).
HWND create_control(HWND parent, const wchar_t* class_name, std::string_view gbk_text, DWORD style, int id, int x,
                    int y, int width, int height, UINT dpi);

// A control of a window laid out at 96 DPI: the windows made of a fixed table of them create them
// all at the window's DPI, and move them all when it changes.
struct DesignedControl {
    int id;
    const wchar_t* class_name;
    const char* text;  // GBK
    DWORD style;
    int x, y, width, height;  // client coordinates at 96 DPI
};
bool create_controls(HWND parent, std::span<const DesignedControl> controls, UINT dpi);
void lay_out_controls(HWND parent, std::span<const DesignedControl> controls, UINT dpi);

// Gives `window` a client area of width x height designed at 96 DPI, scaled to `dpi` (its frame as
// thick as the theme makes it), centred in the work area of `owner`'s monitor.
void size_and_centre_on_owner(HWND window, HWND owner, int client_width, int client_height, UINT dpi);

// A toolbar of text buttons without images at 0,0, `width` x `height` designed at 96 DPI, in
// ui_font(dpi). Button i
// has the command id first_id + i and a drop-down arrow when bit i of `drop_downs` is set.
HWND create_text_toolbar(HWND parent, int id, int first_id, std::span<const char* const> gbk_captions,
                         unsigned drop_downs, int width, int height, UINT dpi);
std::string toolbar_button_caption(HWND toolbar, int command_id);
void set_toolbar_button_caption(HWND toolbar, int command_id, std::string_view gbk);

// Draws 24-bit pixels (rows bottom-up, blue, green, red, each row padded to 4 bytes, as in a
// Dib24) at their natural size with the top-left corner at x, y.
void draw_dib24(HDC dc, int width, int height, const std::uint8_t* bits, int x, int y);
inline void draw_picture(HDC dc, const Dib24& picture, int x, int y) {
    draw_dib24(dc, picture.width, picture.height, picture.bits.get(), x, y);
}

// A window's rectangle on the screen.
ScreenRect window_rect(HWND window);

// The work area (the monitor less its taskbar and docked bars) of the monitor nearest to the
// rectangle: the one it shares most with, or the closest when it is on none.
ScreenRect work_area_near(const ScreenRect& rect);

}  // namespace gifanim::platform::win32
