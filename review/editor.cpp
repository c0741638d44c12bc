#include "review/editor.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "review/export.h"
#include "review/window_placement.h"

namespace gifanim::review {

const char* const kSavePromptText =
    "Zovaro提示您：\r\n\r\n你已做了修改,尚未保存,是否保存\r\n\r\n点击是保存并退出\r\n点击否不保存并退出\r\n"
    "点击取消,则返回编辑界面继续操作";
const char* const kSavePromptTitle = "Zovaro提示您：";
const char* const kEditsOutdatedText = "录制的帧在编辑期间被清空或替换，修改无法保存，已重新载入当前的帧";
const char* const kEditsNotSavedText = "保存失败，录制的帧没有改动";

namespace {

constexpr int kFewestFullWidth = 4;
constexpr int kOneThumbnailWidth = 406;
// Track placement after a resize: 10 pixels in from each side, 20 below the strip.
constexpr int kTrackInset = 10;
constexpr int kTrackGap = 20;
constexpr int kTrackHeight = 3;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t ceil_div(std::int64_t a, std::int64_t b) {
    return -floor_div(-a, b);
}

}  // namespace

std::vector<LabelRun> thumbnail_label(std::int32_t place, std::int16_t delay_time) {
    using Colour = LabelRun::Colour;
    return {{"第 ", Colour::template_text},
            {std::to_string(place), Colour::red},
            {" 帧  延时:", Colour::black},
            {std::to_string(static_cast<std::int32_t>(delay_time) * 10), Colour::red},
            {"毫秒", Colour::black}};
}

PlaceRange visible_places(std::int32_t count, std::int64_t strip_left, std::int32_t client_width) {
    // Thumbnail p covers strip_left + (p − 1) × 200 up to, not including, strip_left + p × 200.
    PlaceRange range;
    if (count <= 0 || client_width <= 0) return range;
    range.first = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(floor_div(-strip_left, kThumbnailSize) + 1, 1, std::int64_t{count} + 1));
    range.last = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(ceil_div(client_width - strip_left, kThumbnailSize), 0, count));
    return range;
}

std::int64_t strip_left_for(std::int64_t p, std::int32_t track_left, std::int32_t track_width, std::int32_t count) {
    const std::int64_t length = std::int64_t{track_width} - track_left;
    if (length <= 0) return 0;
    const double hidden = (static_cast<double>(count) - kFewestFullWidth) * kThumbnailSize;
    const double left = -std::floor(static_cast<double>(p) / static_cast<double>(length) * hidden);
    // A click far outside the track gives a value past what the window could draw; it stays in range.
    constexpr double kFar = 1e15;
    return static_cast<std::int64_t>(std::clamp(left, -kFar, kFar));
}

void FrameEditor::load() {
    const capture::FrameStore& store = session_.store();
    std::vector<std::int32_t> frames(static_cast<std::size_t>(store.count()));
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<std::int32_t>(i + 1);
    frames_ = std::move(frames);
    infos_ = store.Infos();
    generation_ = store.generation();
    loaded_count_ = store.count();
    current_ = 0;
    modified_ = false;
    strip_left_ = 0;
}

void FrameEditor::show_caption() {
    port_.SetCaption("总帧数:" + std::to_string(session_.store().count()) +
                     "      当前剩余帧数:" + std::to_string(count()));
}

void FrameEditor::Open(const platform::ScreenRect& frame_window) {
    load();
    show_caption();
    const platform::ScreenRect own = port_.WindowRect();
    std::int32_t width = own.right - own.left;
    // Fewer than four thumbnails narrow the window to them; none keeps the width of one.
    if (count() < kFewestFullWidth) width = count() <= 1 ? kOneThumbnailWidth : count() * kThumbnailSize + 6;
    const std::int32_t height = own.bottom - own.top;
    const platform::ScreenRect centred = centred_on(frame_window, width, height);
    const platform::ScreenRect placed = inside_work_area(centred, port_.WorkArea(centred));
    port_.MoveWindow(placed.left, placed.top, width, height);
    port_.StripChanged();
}

void FrameEditor::Resize(int client_width, int /*client_height*/) {
    const int top = kStripTop + kStripHeight + kTrackGap;
    const int width = std::max(client_width - 2 * kTrackInset, 0);
    track_ = {kTrackInset, top, kTrackInset + width, top + kTrackHeight};
    port_.MoveTrack(track_.left, track_.top, width, kTrackHeight);
    const int knob_top = track_.top + (kTrackHeight - kKnobSize) / 2;
    knob_ = {track_.left, knob_top, track_.left + kKnobSize, knob_top + kKnobSize};
    port_.MoveKnob(knob_.left, knob_.top);
}

std::int32_t FrameEditor::frame_at(std::int32_t place) const {
    return place >= 1 && place <= count() ? frames_[static_cast<std::size_t>(place - 1)] : 0;
}

capture::FrameImage FrameEditor::image_at(std::int32_t place) const {
    const std::int32_t frame = frame_at(place);
    // After the store was emptied or replaced the positions name other frames, or none.
    if (frame == 0 || session_.store().generation() != generation_) return nullptr;
    return session_.store().FrameAt(frame);
}

std::uint64_t FrameEditor::thumbnail_key(std::int32_t place) const {
    return (generation_ << 32) | static_cast<std::uint32_t>(frame_at(place));
}

std::vector<VisibleThumbnail> FrameEditor::Visible(std::int32_t client_width) const {
    const PlaceRange range = visible_places(count(), strip_left_, client_width);
    std::vector<VisibleThumbnail> out;
    for (std::int32_t place = range.first; place <= range.last; ++place) {
        const auto left = static_cast<std::int32_t>(strip_left_ + std::int64_t{place - 1} * kThumbnailSize);
        out.push_back({place, left, frame_at(place)});
    }
    return out;
}

void FrameEditor::ThumbnailDoubleClick(std::int32_t place) {
    if (frame_at(place) == 0) return;
    current_ = place;
    port_.ShowViewer(image_at(place),
                     "一共有" + std::to_string(count()) + "帧     当前帧: 第" + std::to_string(place) + "帧");
}

void FrameEditor::ThumbnailRightClick(std::int32_t place) {
    if (frame_at(place) == 0) return;
    current_ = place;
    port_.ShowDeletePopup();
}

void FrameEditor::delete_places(std::int32_t first, std::int32_t last) {
    // The thumbnails after them move left and take tags one less per thumbnail deleted: a tag is
    // the place in the list.
    frames_.erase(frames_.begin() + (first - 1), frames_.begin() + last);
    infos_.erase(infos_.begin() + (first - 1), infos_.begin() + last);
    current_ = 0;
    modified_ = true;
    show_caption();
    if (count() <= kFewestFullWidth) strip_left_ = 0;
    port_.StripChanged();
}

void FrameEditor::Command(int id) {
    const std::int32_t k = current_;
    if (k < 1 || k > count()) return;
    switch (id) {
        case editor_command::delete_current: delete_places(k, k); break;
        case editor_command::delete_to_current: delete_places(1, k); break;
        case editor_command::delete_from_current: delete_places(k, count()); break;
        default: break;
    }
}

void FrameEditor::scroll_to(std::int64_t p) {
    if (count() <= kFewestFullWidth) return;
    strip_left_ = strip_left_for(p, track_.left, track_.right - track_.left, count());
    port_.StripChanged();
}

void FrameEditor::move_knob(std::int32_t left) {
    knob_.right = left + kKnobSize;
    knob_.left = left;
    port_.MoveKnob(knob_.left, knob_.top);
}

void FrameEditor::KnobMouseDown() {
    port_.CaptureMouse();
    dragging_ = true;
}

void FrameEditor::MouseUp() {
    if (!dragging_) return;
    dragging_ = false;
    port_.ReleaseMouse();
}

void FrameEditor::MouseMove(int screen_x) {
    if (!dragging_) return;
    const std::int64_t wanted = std::int64_t{screen_x} - port_.WindowRect().left - kKnobSize / 2;
    // The knob stops at the track's left edge and at its width, as measured from the client's left.
    const std::int32_t track_width = track_.right - track_.left;
    std::int32_t x = 0;
    if (wanted <= track_.left) {
        x = track_.left;
    } else if (wanted >= track_width) {
        x = track_width;
    } else {
        x = static_cast<std::int32_t>(wanted);
    }
    if (x == knob_.left) return;
    move_knob(x);
    scroll_to(std::int64_t{x} - track_.left);
}

void FrameEditor::TrackMouseDown(int screen_x) {
    const std::int64_t wanted = std::int64_t{screen_x} - port_.WindowRect().left - kKnobSize / 2;
    const auto x = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        wanted, std::numeric_limits<std::int32_t>::min() / 2, std::numeric_limits<std::int32_t>::max() / 2));
    move_knob(x);
    scroll_to(x);
}

bool FrameEditor::Save() {
    capture::FrameStore& store = session_.store();
    if (store.generation() != generation_) {
        port_.ShowMessage(kEditsOutdatedText, kSavePromptTitle);
        load();
        show_caption();
        port_.StripChanged();
        return false;
    }
    // The frames recorded since the editor opened come after the edited ones. Each frame goes with
    // the store's record of it now, which is the working copy's unless a still screen lengthened
    // the last frame meanwhile.
    std::vector<std::int32_t> kept = frames_;
    for (std::int32_t p = loaded_count_ + 1; p <= store.count(); ++p) kept.push_back(p);
    std::vector<FrameInfo> infos;
    infos.reserve(kept.size());
    for (const std::int32_t p : kept) infos.push_back(store.Infos()[static_cast<std::size_t>(p - 1)]);
    if (!session_.KeepFrames(kept, infos)) {
        port_.ShowMessage(kEditsNotSavedText, kSavePromptTitle);
        return false;
    }
    // The thumbnails stay as they are; they are now the store's first frames.
    for (std::size_t i = 0; i < frames_.size(); ++i) frames_[i] = static_cast<std::int32_t>(i + 1);
    infos_.assign(infos.begin(), infos.begin() + static_cast<std::ptrdiff_t>(frames_.size()));
    generation_ = store.generation();
    loaded_count_ = count();
    modified_ = false;
    show_caption();
    port_.StripChanged();
    return true;
}

void FrameEditor::Cancel() {
    modified_ = false;
    port_.Destroy();
}

bool FrameEditor::RequestClose() {
    if (!modified_) return true;
    switch (port_.Ask(kSavePromptText, kSavePromptTitle, kSavePromptFlags)) {
        case EditorPort::Answer::yes:
            // A save that failed keeps the editor open, so that no edit is lost unasked.
            return Save();
        case EditorPort::Answer::no:
            frames_.clear();
            infos_.clear();
            current_ = 0;
            modified_ = false;
            dragging_ = false;
            return true;
        case EditorPort::Answer::cancel: break;
    }
    return false;
}

}  // namespace gifanim::review
