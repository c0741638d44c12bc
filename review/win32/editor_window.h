#pragma once
// The frame editor's windows: the editor (the strip of thumbnails drawn only where in view, the
// grey scroll track and its knob, 保存 and 取消) and the frame viewer. The editor is created by
// 编辑 and destroyed on close; the viewer is made on first use and then only hidden. The editor
// model decides everything.
#include <functional>
#include <memory>

#include "capture/session.h"
#include "platform/win32/window.h"
#include "review/editor.h"
#include "review/thumbnails.h"
#include "review/win32/picture_view.h"

namespace gifanim::review::win32 {

inline constexpr wchar_t kEditorWindowClass[] = L"GifRecEditorWindow";
inline constexpr wchar_t kFrameViewerClass[] = L"GifRecFrameViewer";
inline constexpr wchar_t kFrameStripClass[] = L"GifRecFrameStrip";
inline constexpr int kEditorSaveButtonId = 1201;
inline constexpr int kEditorCancelButtonId = 1202;
inline constexpr int kFrameStripId = 1203;
inline constexpr int kViewerPictureId = 1204;

class EditorWindow final : public platform::win32::Window, private EditorPort {
public:
    explicit EditorWindow(capture::RecordingSession& session);
    ~EditorWindow() override;

    // The frame window's delete popup (commands 14 to 16), opened at the cursor.
    std::function<void()> on_delete_popup;

    // Creates the window owned by the frame window and fills it from the store.
    bool create(HWND owner, const platform::ScreenRect& frame_window);
    // A delete command of the frame window's popup.
    void command(int id) { editor_.Command(id); }
    void bring_to_front();

private:
    class Strip;
    class Viewer;

    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void paint();
    RECT knob_rect() const;

    // EditorPort
    void SetCaption(const std::string& gbk) override;
    platform::ScreenRect WindowRect() const override;
    void MoveWindow(int left, int top, int width, int height) override;
    platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const override {
        return platform::win32::work_area_near(rect);
    }
    void MoveTrack(int left, int top, int width, int height) override;
    void MoveKnob(int left, int top) override;
    void StripChanged() override;
    void CaptureMouse() override { SetCapture(hwnd()); }
    void ReleaseMouse() override;
    void ShowDeletePopup() override {
        if (on_delete_popup) on_delete_popup();
    }
    void ShowViewer(const capture::FrameImage& image, const std::string& gbk_caption) override;
    Answer Ask(const std::string& gbk_text, const std::string& gbk_title, int flags) override;
    void ShowMessage(const std::string& gbk_text, const std::string& gbk_title) override;
    void Destroy() override { DestroyWindow(hwnd()); }

    FrameEditor editor_;
    std::unique_ptr<Strip> strip_;
    std::unique_ptr<Viewer> viewer_;
    RECT track_{};
    POINT knob_{};
};

}  // namespace gifanim::review::win32
