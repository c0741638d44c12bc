#pragma once
// The small window that shows the export's progress bar. It is made hidden once at start-up,
// owned by the frame window, shown for each export and only ever hidden again.
#include <windows.h>

#include <cstdint>

#include "platform/win32/window.h"

namespace gifanim::review::win32 {

inline constexpr wchar_t kProgressWindowClass[] = L"GifRecProgressWindow";
// Fixed so that a test driver in another process finds the bar with GetDlgItem.
inline constexpr int kProgressBarId = 1101;
// The bar as designed at 96 DPI, at (0, 0) of the client area; the client area is the bar.
inline constexpr int kProgressBarWidth = 247;
inline constexpr int kProgressBarHeight = 28;

class ProgressWindow final : public platform::win32::Window {
public:
    // Creates the window hidden, owned by `owner`, with its bar. Needs the progress class of the
    // common controls registered (InitCommonControlsEx with ICC_PROGRESS_CLASS).
    bool create(HWND owner);

    // These run on the window's own thread.
    // Sizes the window so that its client area is the bar and centres it on `frame_window`.
    void show_centred_on(HWND frame_window);
    void hide();
    std::int32_t maximum() const;
    void set_position(std::int32_t position);

    HWND bar() const { return GetDlgItem(hwnd(), kProgressBarId); }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void layout(UINT dpi);
};

}  // namespace gifanim::review::win32
