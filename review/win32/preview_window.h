#pragma once
// The preview window: toolbar 工具条1 (正序, 倒序, 暂停, 保存 with its drop-down) and the canvas
// 画板1 that shows the frame being played. Created hidden at start-up and only hidden again; the
// player model decides everything.
#include <functional>

#include "capture/frame_store.h"
#include "platform/win32/window.h"
#include "review/player.h"
#include "review/win32/picture_view.h"

namespace gifanim::review::win32 {

inline constexpr wchar_t kPreviewWindowClass[] = L"GifRecPreviewWindow";
// Toolbar buttons have the command ids kPreviewFirstButtonId + index.
inline constexpr int kPreviewFirstButtonId = 110;
inline constexpr int kPreviewToolbarId = 300;
inline constexpr int kPreviewCanvasId = 301;

class PreviewWindow final : public platform::win32::Window, private PlayerPort {
public:
    explicit PreviewWindow(const capture::FrameStore& store) : player_(store, *this) {}

    // The frame window's save popup, and an export in a direction.
    std::function<void()> on_save_popup;
    std::function<void(ExportDirection)> on_export;

    bool create(HWND owner);
    // The frame window's "预览": `capture_panel` is the panel's place in the frame window's
    // client area.
    void prepare(const platform::ScreenRect& frame_window, const platform::ScreenRect& capture_panel) {
        player_.Prepare(frame_window, capture_panel);
    }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;

    // PlayerPort
    void SetCaption(const std::string& gbk) override;
    std::string ButtonCaption(int index) const override;
    void SetButtonCaption(int index, const std::string& gbk) override;
    void StartTimer(int id, std::int32_t period_ms) override;
    void StopTimer(int id) override;
    void ShowFrame(const capture::FrameImage& image) override { canvas_.show(image); }
    platform::ScreenRect WindowRect() const override;
    void MoveWindow(int left, int top, int width, int height) override;
    platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const override {
        return platform::win32::work_area_near(rect);
    }
    void MoveCanvas(int left, int top, int width, int height) override;
    void Show() override;
    void Hide() override { ShowWindow(hwnd(), SW_HIDE); }
    void ShowSavePopup() override {
        if (on_save_popup) on_save_popup();
    }
    void StartExport(ExportDirection direction) override {
        if (on_export) on_export(direction);
    }

    PreviewPlayer player_;
    HWND toolbar_ = nullptr;
    PictureView canvas_;
};

}  // namespace gifanim::review::win32
