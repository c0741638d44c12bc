#include "review/win32/editor_window.h"

#include <algorithm>
#include <vector>

#include "review/window_placement.h"

namespace gifanim::review::win32 {

using platform::win32::dpi_of;
using platform::win32::scaled;
using platform::win32::wide;

namespace {

constexpr UINT kThumbnailReady = WM_APP + 1;
constexpr int kViewerWidth = 567;
constexpr int kViewerHeight = 417;
// The track is 3 pixels high; a press this far above or below it still counts as on it.
constexpr int kTrackSlack = 5;

// 保存 and 取消, designed at 96 DPI.
struct EditorButton {
    int id;
    const char* caption;
    int x;
};
constexpr EditorButton kButtons[] = {{kEditorSaveButtonId, "保存", 16}, {kEditorCancelButtonId, "取消", 128}};
constexpr int kButtonTop = 248;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 40;

COLORREF label_colour(LabelRun::Colour colour) {
    return colour == LabelRun::Colour::red ? kLabelRed : kLabelBlack;
}

}  // namespace

// The strip of thumbnails: draws those in view from the cache, which makes the missing ones on
// its thread and says when each is ready.
class EditorWindow::Strip final : public platform::win32::Window {
public:
    explicit Strip(FrameEditor& editor)
        : editor_(editor), cache_([this](ThumbnailCache::Key) { PostMessageW(posted_to_, kThumbnailReady, 0, 0); }) {}

    bool create(HWND parent, int width) {
        if (!Window::create(kFrameStripClass, "", WS_CHILD | WS_VISIBLE, 0, 0, kStripTop, width, kStripHeight, parent,
                            CS_DBLCLKS))
            return false;
        SetWindowLongPtrW(hwnd(), GWLP_ID, kFrameStripId);
        posted_to_ = hwnd();
        return true;
    }

    // The thumbnail under x, or 0.
    std::int32_t place_at(int x) const {
        RECT client{};
        GetClientRect(hwnd(), &client);
        for (const VisibleThumbnail& v : editor_.Visible(client.right))
            if (x >= v.left && x < v.left + kThumbnailSize) return v.place;
        return 0;
    }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
        switch (message) {
            case WM_ERASEBKGND: return 1;
            case WM_PAINT: paint(); return 0;
            case kThumbnailReady: InvalidateRect(hwnd(), nullptr, FALSE); return 0;
            case WM_LBUTTONDBLCLK:
                if (const std::int32_t place = place_at(static_cast<short>(LOWORD(lparam))))
                    editor_.ThumbnailDoubleClick(place);
                return 0;
            case WM_RBUTTONUP:
                if (const std::int32_t place = place_at(static_cast<short>(LOWORD(lparam))))
                    editor_.ThumbnailRightClick(place);
                return 0;
            case WM_DESTROY: cache_.Clear(); break;
            default: break;
        }
        return Window::handle(message, wparam, lparam);
    }

    void paint() {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(hwnd(), &ps);
        RECT client{};
        GetClientRect(hwnd(), &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        SetBkMode(dc, TRANSPARENT);
        const HGDIOBJ old_font = SelectObject(dc, platform::win32::ui_font(dpi_of(hwnd())));
        const std::vector<VisibleThumbnail> visible = editor_.Visible(client.right);
        std::vector<ThumbnailCache::Key> wanted;
        for (const VisibleThumbnail& v : visible) {
            const ThumbnailCache::Key key = editor_.thumbnail_key(v.place);
            wanted.push_back(key);
            const std::int32_t place = v.place;
            const ThumbnailPtr thumbnail = cache_.Get(key, [this, place] { return editor_.image_at(place); });
            RECT cell{v.left, kThumbnailTop, v.left + kThumbnailSize, kThumbnailTop + kThumbnailSize};
            if (thumbnail && !thumbnail->empty()) {
                platform::win32::draw_dib24(dc, thumbnail->width, thumbnail->height, thumbnail->bits.data(), v.left,
                                            kThumbnailTop);
            } else {
                FillRect(dc, &cell, GetSysColorBrush(COLOR_WINDOW));
            }
            FrameRect(dc, &cell, GetSysColorBrush(COLOR_BTNSHADOW));
            int x = v.left + 10;
            const std::size_t i = static_cast<std::size_t>(place - 1);
            const std::int16_t delay = i < editor_.infos().size() ? editor_.infos()[i].DelayTime : 0;
            for (const LabelRun& run : thumbnail_label(place, delay)) {
                const std::wstring text = wide(run.text);
                SetTextColor(dc, label_colour(run.colour));
                TextOutW(dc, x, kThumbnailTop + 10, text.c_str(), static_cast<int>(text.size()));
                SIZE extent{};
                GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
                x += extent.cx;
            }
        }
        cache_.KeepRequests(wanted);
        SelectObject(dc, old_font);
        EndPaint(hwnd(), &ps);
    }

    FrameEditor& editor_;
    HWND posted_to_ = nullptr;  // read by the cache's thread, set before it is first asked
    ThumbnailCache cache_;
};

// The frame viewer: one picture box filling the client area; closing hides it.
class EditorWindow::Viewer final : public platform::win32::Window {
public:
    bool create(HWND owner) {
        const UINT dpi = dpi_of(owner);
        if (!Window::create(kFrameViewerClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            platform::win32::kOwnedByTopmost, CW_USEDEFAULT, CW_USEDEFAULT, scaled(kViewerWidth, dpi),
                            scaled(kViewerHeight, dpi), owner))
            return false;
        // The system's default place may leave it past the work area's edge on a small screen.
        const platform::ScreenRect now = platform::win32::window_rect(hwnd());
        const platform::ScreenRect placed = inside_work_area(now, platform::win32::work_area_near(now));
        SetWindowPos(hwnd(), nullptr, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client{};
        GetClientRect(hwnd(), &client);
        return picture_.create(hwnd(), kViewerPictureId, 0, 0, client.right, client.bottom);
    }
    void show(const capture::FrameImage& image, const std::string& caption) {
        // The caption first: shown before it, the window would name no frame, or the one it
        // showed last, until the text came.
        SetWindowTextW(hwnd(), wide(caption).c_str());
        picture_.show(image);
        ShowWindow(hwnd(), SW_SHOWNORMAL);
    }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
        switch (message) {
            case WM_SIZE:
                if (picture_.hwnd()) ::MoveWindow(picture_.hwnd(), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
                break;
            case WM_CLOSE: ShowWindow(hwnd(), SW_HIDE); return 0;
            case WM_DPICHANGED: platform::win32::take_suggested_rect(hwnd(), lparam); return 0;
            default: break;
        }
        return Window::handle(message, wparam, lparam);
    }
    PictureView picture_;
};

EditorWindow::EditorWindow(capture::RecordingSession& session) : editor_(session, *this) {}

EditorWindow::~EditorWindow() = default;

bool EditorWindow::create(HWND owner, const platform::ScreenRect& frame_window) {
    const UINT dpi = dpi_of(owner);
    if (!Window::create(kEditorWindowClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, platform::win32::kOwnedByTopmost,
                        CW_USEDEFAULT, CW_USEDEFAULT, scaled(kEditorDesignedWidth, dpi),
                        scaled(kEditorDesignedHeight, dpi), owner))
        return false;
    RECT client{};
    GetClientRect(hwnd(), &client);
    strip_ = std::make_unique<Strip>(editor_);
    if (!strip_->create(hwnd(), client.right)) return false;
    const UINT own_dpi = dpi_of(hwnd());
    for (const EditorButton& b : kButtons) {
        platform::win32::create_control(hwnd(), L"BUTTON", b.caption, BS_PUSHBUTTON | WS_TABSTOP, b.id, b.x, kButtonTop,
                                        kButtonWidth, kButtonHeight, own_dpi);
    }
    editor_.Open(frame_window);
    // The first layout: the window may have kept its size, which sends no WM_SIZE.
    GetClientRect(hwnd(), &client);
    editor_.Resize(client.right, client.bottom);
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    return true;
}

void EditorWindow::bring_to_front() {
    if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
    SetForegroundWindow(hwnd());
}

RECT EditorWindow::knob_rect() const {
    return {knob_.x, knob_.y, knob_.x + kKnobSize, knob_.y + kKnobSize};
}

LRESULT EditorWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == kEditorSaveButtonId) editor_.Save();
            if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == kEditorCancelButtonId) editor_.Cancel();
            return 0;
        case WM_SIZE:
            if (strip_ && strip_->hwnd()) {
                ::MoveWindow(strip_->hwnd(), 0, kStripTop, LOWORD(lparam), kStripHeight, TRUE);
                editor_.Resize(LOWORD(lparam), HIWORD(lparam));
            }
            break;
        case WM_PAINT: paint(); return 0;
        case WM_LBUTTONDOWN: {
            const POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            const RECT knob = knob_rect();
            RECT track = track_;
            InflateRect(&track, 0, kTrackSlack);
            POINT screen = at;
            ClientToScreen(hwnd(), &screen);
            if (PtInRect(&knob, at)) {
                editor_.KnobMouseDown();
            } else if (PtInRect(&track, at)) {
                editor_.TrackMouseDown(screen.x);
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            if (editor_.dragging()) {
                POINT screen{};
                GetCursorPos(&screen);
                editor_.MouseMove(screen.x);
            }
            return 0;
        case WM_LBUTTONUP: editor_.MouseUp(); return 0;
        case WM_CAPTURECHANGED:
            // The capture went elsewhere (another window, a menu): the drag is over.
            if (editor_.dragging()) editor_.MouseUp();
            return 0;
        case WM_CLOSE:
            if (editor_.RequestClose()) DestroyWindow(hwnd());
            return 0;
        case WM_DPICHANGED: {
            const UINT dpi = HIWORD(wparam);
            for (const EditorButton& b : kButtons) {
                ::MoveWindow(GetDlgItem(hwnd(), b.id), scaled(b.x, dpi), scaled(kButtonTop, dpi),
                             scaled(kButtonWidth, dpi), scaled(kButtonHeight, dpi), TRUE);
            }
            platform::win32::set_ui_font(hwnd(), dpi);
            if (strip_ && strip_->hwnd()) InvalidateRect(strip_->hwnd(), nullptr, FALSE);
            platform::win32::take_suggested_rect(hwnd(), lparam);
            return 0;
        }
        default: break;
    }
    return Window::handle(message, wparam, lparam);
}

void EditorWindow::paint() {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(hwnd(), &ps);
    RECT client{};
    GetClientRect(hwnd(), &client);
    FillRect(dc, &ps.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
    const HBRUSH grey = CreateSolidBrush(kTrackColour);
    FillRect(dc, &track_, grey);
    DeleteObject(grey);
    // The knob: a dark disc.
    const HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DKGRAY_BRUSH));
    const HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
    Ellipse(dc, knob_.x, knob_.y, knob_.x + kKnobSize, knob_.y + kKnobSize);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    EndPaint(hwnd(), &ps);
}

void EditorWindow::SetCaption(const std::string& gbk) {
    SetWindowTextW(hwnd(), wide(gbk).c_str());
}

platform::ScreenRect EditorWindow::WindowRect() const {
    return platform::win32::window_rect(hwnd());
}

void EditorWindow::MoveWindow(int left, int top, int width, int height) {
    ::MoveWindow(hwnd(), left, top, width, height, TRUE);
}

void EditorWindow::MoveTrack(int left, int top, int width, int height) {
    InvalidateRect(hwnd(), &track_, TRUE);
    track_ = {left, top, left + width, top + height};
    InvalidateRect(hwnd(), &track_, TRUE);
}

void EditorWindow::MoveKnob(int left, int top) {
    RECT old = knob_rect();
    InvalidateRect(hwnd(), &old, TRUE);
    knob_ = {left, top};
    RECT now = knob_rect();
    InvalidateRect(hwnd(), &now, TRUE);
}

void EditorWindow::StripChanged() {
    if (strip_ && strip_->hwnd()) InvalidateRect(strip_->hwnd(), nullptr, FALSE);
}

void EditorWindow::ReleaseMouse() {
    if (GetCapture() == hwnd()) ReleaseCapture();
}

void EditorWindow::ShowViewer(const capture::FrameImage& image, const std::string& gbk_caption) {
    if (!viewer_) {
        viewer_ = std::make_unique<Viewer>();
        if (!viewer_->create(hwnd())) {
            viewer_.reset();
            return;
        }
    }
    viewer_->show(image, gbk_caption);
}

EditorPort::Answer EditorWindow::Ask(const std::string& gbk_text, const std::string& gbk_title, int flags) {
    switch (MessageBoxW(hwnd(), wide(gbk_text).c_str(), wide(gbk_title).c_str(), static_cast<UINT>(flags))) {
        case IDYES: return Answer::yes;
        case IDNO: return Answer::no;
        default: return Answer::cancel;
    }
}

void EditorWindow::ShowMessage(const std::string& gbk_text, const std::string& gbk_title) {
    MessageBoxW(hwnd(), wide(gbk_text).c_str(), wide(gbk_title).c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace gifanim::review::win32
