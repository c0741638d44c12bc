#include "review/player.h"

#include <algorithm>

#include "review/window_placement.h"

namespace gifanim::review {

void PreviewPlayer::Prepare(const platform::ScreenRect& frame_window, const platform::ScreenRect& capture_panel) {
    port_.MoveCanvas(capture_panel.left, capture_panel.top, capture_panel.right - capture_panel.left,
                     capture_panel.bottom - capture_panel.top);
    // Centred with the preview window's size before the move, then given the frame window's size.
    const platform::ScreenRect own = port_.WindowRect();
    const platform::ScreenRect centred = centred_on(frame_window, own.right - own.left, own.bottom - own.top);
    const std::int32_t width = frame_window.right - frame_window.left;
    const std::int32_t height = frame_window.bottom - frame_window.top;
    const platform::ScreenRect sized{centred.left, centred.top, centred.left + width, centred.top + height};
    const platform::ScreenRect placed = inside_work_area(sized, port_.WorkArea(sized));
    port_.MoveWindow(placed.left, placed.top, width, height);
    port_.SetCaption(count_caption(store_.count()));
    port_.Show();
}

std::string PreviewPlayer::count_caption(std::int32_t n) const {
    return "一共有" + std::to_string(n) + "帧";
}

void PreviewPlayer::start_timer() {
    // A restart replaces the running timer rather than adding a second one.
    if (playing_) port_.StopTimer(kPlaybackTimerId);
    // The interval is 0 only before anything was recorded; the timer still needs a period.
    port_.StartTimer(kPlaybackTimerId, std::max<std::int32_t>(store_.timer_interval(), 1));
    playing_ = true;
}

void PreviewPlayer::stop_timer() {
    port_.StopTimer(kPlaybackTimerId);
    playing_ = false;
}

void PreviewPlayer::ToolbarClick(int index) {
    const std::string caption = port_.ButtonCaption(index);
    if (caption == "正序") {
        position_ = 0;
        step_ = 1;
        start_timer();
    } else if (caption == "倒序") {
        position_ = static_cast<std::int64_t>(store_.count()) + 1;
        step_ = -1;
        start_timer();
    } else if (caption == "暂停") {
        port_.SetButtonCaption(index, "继续");
        stop_timer();
    } else if (caption == "继续") {
        port_.SetButtonCaption(index, "暂停");
        start_timer();
    } else if (caption == "保存") {
        port_.StartExport(ExportDirection::forward);
    }
}

void PreviewPlayer::ToolbarDropDown(int index) {
    if (index == player_button::save) port_.ShowSavePopup();
}

void PreviewPlayer::Tick() {
    // The count is taken afresh at every tick: a recording may go on, or the editor save, meanwhile.
    const std::int32_t n = store_.count();
    position_ += step_;
    if (position_ < 1 || position_ > n) {
        stop_timer();
        port_.SetCaption(count_caption(n) + "     当前播放第" + std::to_string(position_ - step_) + "帧,已播放完毕");
        return;
    }
    port_.ShowFrame(store_.FrameAt(static_cast<std::int32_t>(position_)));
    port_.SetCaption(count_caption(n) + "     当前播放第" + std::to_string(position_) + "帧");
}

void PreviewPlayer::Resize(int client_width, int client_height, int toolbar_height) {
    port_.MoveCanvas(0, toolbar_height, client_width, std::max(client_height - toolbar_height, 0));
}

bool PreviewPlayer::RequestClose() {
    port_.Hide();
    stop_timer();
    return false;
}

}  // namespace gifanim::review
