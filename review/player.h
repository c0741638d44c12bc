#pragma once
// The preview player: plays the recording in the preview window, forwards from the first frame
// or backwards from the last, one stored frame per tick of the recording's timer interval. It
// only reads the store, each frame by its position, so it shares no reading position with the
// export or the editor.
#include <cstdint>
#include <string>

#include "capture/frame_store.h"
#include "platform/screen.h"
#include "review/export.h"

namespace gifanim::review {

inline constexpr int kPlaybackTimerId = 1002;

// Toolbar buttons of the preview window, by index.
namespace player_button {
inline constexpr int forward = 0;
inline constexpr int reverse = 1;
inline constexpr int pause = 2;
inline constexpr int save = 3;
}  // namespace player_button

// The preview window as designed (at 96 DPI).
inline constexpr int kPreviewDesignedWidth = 364;
inline constexpr int kPreviewDesignedHeight = 333;

// What the player asks of the preview window.
class PlayerPort {
public:
    virtual ~PlayerPort() = default;
    virtual void SetCaption(const std::string& gbk) = 0;
    virtual std::string ButtonCaption(int index) const = 0;
    virtual void SetButtonCaption(int index, const std::string& gbk) = 0;
    // A repeating timer on the preview window whose ticks come to PreviewPlayer::Tick. The player
    // never starts a timer that runs already.
    virtual void StartTimer(int id, std::int32_t period_ms) = 0;
    virtual void StopTimer(int id) = 0;
    // The canvas's background picture; null when the frame could not be read (the canvas is
    // then left blank).
    virtual void ShowFrame(const capture::FrameImage& image) = 0;
    // The preview window's rectangle on the screen, and moving and sizing it.
    virtual platform::ScreenRect WindowRect() const = 0;
    virtual void MoveWindow(int left, int top, int width, int height) = 0;
    // The work area (the monitor less its taskbar) of the monitor nearest to this rectangle.
    virtual platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const = 0;
    // The canvas's place in the preview window's client area.
    virtual void MoveCanvas(int left, int top, int width, int height) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // Opens the frame window's save popup (正序保存, 倒序保存) at the mouse cursor.
    virtual void ShowSavePopup() = 0;
    // Starts an export on a thread of its own (Exporter::Start through the shell).
    virtual void StartExport(ExportDirection direction) = 0;
};

class PreviewPlayer {
public:
    PreviewPlayer(const capture::FrameStore& store, PlayerPort& port) : store_(store), port_(port) {}

    // The "预览" button: the canvas takes the capture panel's place (`capture_panel` in the frame
    // window's client area), the window is centred on the frame window and then takes its size,
    // and is moved inside the work area of its monitor; the caption names the frame count, and the
    // window is shown. Playback does not start.
    void Prepare(const platform::ScreenRect& frame_window, const platform::ScreenRect& capture_panel);
    // A toolbar button, dispatched on its caption: 正序, 倒序, 暂停, 继续, 保存.
    void ToolbarClick(int index);
    // A toolbar drop-down arrow: the save button's opens the save popup.
    void ToolbarDropDown(int index);
    // The playback timer's tick.
    void Tick();
    // The client area's new size: the canvas fills it below the toolbar.
    void Resize(int client_width, int client_height, int toolbar_height);
    // The close box: hides the window and stops playback. Always false: the window is kept for the
    // next preview.
    bool RequestClose();

    bool playing() const { return playing_; }
    std::int64_t position() const { return position_; }
    int step() const { return step_; }

private:
    void start_timer();
    void stop_timer();
    std::string count_caption(std::int32_t n) const;

    const capture::FrameStore& store_;
    PlayerPort& port_;
    // The frame last shown (0 before the first forward tick); 64 bits, so that 继续 pressed again
    // and again after the end can never overflow it.
    std::int64_t position_ = 0;
    int step_ = 1;
    bool playing_ = false;
};

}  // namespace gifanim::review
