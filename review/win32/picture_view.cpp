#include "review/win32/picture_view.h"

#include <new>

namespace gifanim::review::win32 {

bool PictureView::create(HWND parent, int id, int x, int y, int width, int height) {
    if (!Window::create(L"GifRecPictureView", "", WS_CHILD | WS_VISIBLE, 0, x, y, width, height, parent)) return false;
    SetWindowLongPtrW(hwnd(), GWLP_ID, id);
    return true;
}

void PictureView::show(const capture::FrameImage& image) {
    bool shown = false;
    if (image) {
        try {
            shown = platform::load_picture(*image, picture_) == platform::LoadResult::ok;
        } catch (const std::bad_alloc&) {
            picture_ = platform::Dib24{};
        }
    }
    if (!shown) picture_.width = 0;
    InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT PictureView::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND: return 1;  // the paint covers everything
        case WM_PAINT: {
            PAINTSTRUCT paint;
            const HDC dc = BeginPaint(hwnd(), &paint);
            RECT client{};
            GetClientRect(hwnd(), &client);
            platform::win32::draw_picture(dc, picture_, 0, 0);
            // Only what the picture leaves uncovered is filled, so a new frame does not flicker.
            const int w = picture_.width > 0 ? picture_.width : 0;
            const int h = picture_.width > 0 ? picture_.height : 0;
            const HBRUSH brush = GetSysColorBrush(COLOR_WINDOW);
            RECT right{w, 0, client.right, client.bottom};
            RECT below{0, h, w, client.bottom};
            FillRect(dc, &right, brush);
            FillRect(dc, &below, brush);
            EndPaint(hwnd(), &paint);
            return 0;
        }
        default: return Window::handle(message, wparam, lparam);
    }
}

}  // namespace gifanim::review::win32
