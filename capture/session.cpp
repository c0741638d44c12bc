#include "capture/session.h"

#include <cmath>
#include <new>
#include <utility>

#include "capture/click_ring.h"
#include "capture/grab.h"
#include "imaging/convert.h"

namespace gifanim::capture {

const char* const kDiskWriteFailedText = "临时文件写入失败，之后的帧暂存在内存中";
const char* const kBadFrameRateText = "帧率必须大于0，无法开始录制";
const char* const kOutOfMemoryText = "内存不足，有的帧没有录下";
const char* const kJournalWriteFailedText = "临时文件写入失败，程序意外退出时无法恢复这次录制";

namespace {

constexpr int kJpeg = 2;
constexpr std::int32_t kLongestDelay = 32767;

bool same_rect(const platform::ScreenRect& a, const platform::ScreenRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool same_bytes(const FrameImage& a, const FrameImage& b) {
    const std::size_t na = a ? a->size() : 0;
    const std::size_t nb = b ? b->size() : 0;
    return na == nb && (na == 0 || *a == *b);
}

}  // namespace

bool ScreenGrabber::Grab(const platform::ScreenRect& rect, bool draw_cursor, platform::ScreenPixels& pixels) {
    return grab_pixels(rect, draw_cursor, pixels);
}

std::vector<std::uint8_t> ScreenGrabber::Encode(platform::ScreenPixels& pixels) {
    return imaging::Convert(pixels.data, kJpeg);
}

bool RecordingSession::OpenFrameStore() {
    return store_.Open();
}

void RecordingSession::warn_once(bool& warned, const char* text) {
    if (warned) return;
    warned = true;
    shell_.Warn(text);
}

bool RecordingSession::StartRecording() {
    const std::int32_t rate = shell_.FrameRate();
    if (rate <= 0) {
        shell_.Warn(kBadFrameRateText);
        return false;
    }
    if (shell_.FullScreenChecked()) {
        if (shell_.FullScreenHide()) shell_.MinimizeFrameWindow();
        const RecordingShell::Size screen = shell_.ScreenSize();
        store_.set_capture_rect({0, 0, screen.width, screen.height});
    } else {
        store_.set_capture_rect(shell_.CapturePanelRect());
    }
    store_.set_timer_interval(1000 / rate);
    warned_disk_ = false;
    warned_memory_ = false;
    warned_journal_ = false;
    // The first frame comes one interval after the start, not at once.
    shell_.StartTimer(kRecordTimerId, store_.timer_interval());
    shell_.SetRecordButtonCaption("停止");
    recording_ = true;
    return true;
}

void RecordingSession::StopRecording() {
    shell_.SetRecordButtonCaption("录制");
    shell_.StopTimer(kRecordTimerId);
    recording_ = false;
    paused_ = false;
    shell_.RefreshToolbar();
}

void RecordingSession::PauseRecording() {
    if (!recording_ || paused_) return;
    shell_.StopTimer(kRecordTimerId);
    paused_ = true;
    shell_.SetCaption("已暂停  当前帧数:" + std::to_string(store_.count()));
}

void RecordingSession::ResumeRecording() {
    if (!recording_ || !paused_) return;
    paused_ = false;
    // The next grab comes one interval from now, as at the start: the pause is in no delay.
    shell_.StartTimer(kRecordTimerId, store_.timer_interval());
    show_count_and_delay();
}

FrameImage RecordingSession::grab(const platform::ScreenRect& rect) {
    if (!grabber_.Grab(rect, shell_.RecordCursor(), pixels_)) {
        last_pixels_valid_ = false;
        return std::make_shared<const std::vector<std::uint8_t>>();
    }
    platform::PointerState pointer;
    if (shell_.ShowClicks() && grabber_.Pointer(pointer)) draw_click_ring(pixels_, rect, pointer);
    // The same pixels encode to the same bytes: a still screen costs a comparison, not a JPEG.
    if (last_pixels_valid_ && store_.LastFrame() && same_rect(rect, last_rect_) &&
        pixels_.bits_per_pixel == last_pixels_.bits_per_pixel && pixels_.data == last_pixels_.data) {
        ++unencoded_ticks_;
        return store_.LastFrame();
    }
    auto frame = std::make_shared<const std::vector<std::uint8_t>>(grabber_.Encode(pixels_));
    // These pixels give the frame stored or merged below, which becomes or equals LastFrame.
    last_pixels_valid_ = !frame->empty();
    if (last_pixels_valid_) {
        std::swap(pixels_, last_pixels_);
        last_rect_ = rect;
    }
    return frame;
}

void RecordingSession::store_frame(FrameImage frame, const FrameInfo& info) {
    // Once a frame has gone to disk the later ones follow it there, so the order stays.
    const bool to_disk = store_.spilled() || store_.BytesUsed() >= shell_.MemoryBudgetBytes() || shell_.DiskStorage();
    const FrameStore::Stored where = store_.Append(std::move(frame), info, to_disk);
    last_frame_is_last_ = true;
    if (where == FrameStore::Stored::memory_instead_of_disk) {
        warn_once(warned_disk_, kDiskWriteFailedText);
    } else if (store_.journal_failed()) {
        warn_once(warned_journal_, kJournalWriteFailedText);
    }
}

void RecordingSession::CaptureTick() {
    // A tick the platform queued before the pause took effect.
    if (paused_) return;
    const std::int64_t bytes_before = store_.BytesUsed();
    try {
        const platform::ScreenRect rect =
            shell_.FullScreenChecked() ? store_.capture_rect() : shell_.CapturePanelRect();
        FrameImage frame = grab(rect);
        const auto length = static_cast<std::int64_t>(frame->size());
        store_.set_bytes_used(store_.BytesUsed() + length);

        const std::int32_t interval = store_.timer_interval();
        FrameInfo info;
        info.DelayTime = static_cast<std::int16_t>(interval / 10);
        info.Width = static_cast<std::int16_t>(static_cast<std::int64_t>(rect.right) - rect.left);
        info.Depth = static_cast<std::int16_t>(static_cast<std::int64_t>(rect.bottom) - rect.top);
        info.DisposalMethod = 3;

        bool merged = false;
        if (last_frame_is_last_ && !store_.Infos().empty() && same_bytes(frame, store_.LastFrame())) {
            // A still screen lengthens the last frame; a delay that would pass what the record
            // holds starts a new frame of the same bytes instead.
            const double delay = std::trunc(store_.LastInfo().DelayTime + interval / 10.0);
            if (delay <= kLongestDelay) {
                store_.SetLastDelay(static_cast<std::int16_t>(delay));
                store_.set_bytes_used(store_.BytesUsed() - length);
                merged = true;
            }
        }
        if (!merged) store_frame(std::move(frame), info);
        show_count_and_delay();
    } catch (const std::bad_alloc&) {
        // Nothing was stored: the frame is not counted either, and the pixels grabbed are not
        // those of the last frame, so the next grab of them is a frame of its own.
        last_pixels_valid_ = false;
        store_.set_bytes_used(bytes_before);
        warn_once(warned_memory_, kOutOfMemoryText);
    }
}

void RecordingSession::show_count_and_delay() {
    std::string caption = "当前帧数:" + std::to_string(store_.count());
    if (!store_.Infos().empty()) caption += "  延时:" + std::to_string(store_.Infos().back().DelayTime);
    shell_.SetCaption(caption);
}

void RecordingSession::ResetRecording() {
    shell_.SetRecordButtonCaption("录制");
    shell_.StopTimer(kRecordTimerId);
    recording_ = false;
    paused_ = false;
    store_.Clear();
    shell_.SetCaption("当前帧数:" + std::to_string(store_.MemoryFrames()));
    shell_.RefreshToolbar();
}

void RecordingSession::show_count() {
    shell_.SetCaption("当前帧数:" + std::to_string(store_.count()));
}

void RecordingSession::ReplaceFrames(std::span<const FrameImage> images, std::span<const FrameInfo> infos) {
    store_.Replace(images, infos);
    show_count();
}

bool RecordingSession::KeepFrames(std::span<const std::int32_t> positions, std::span<const FrameInfo> infos) {
    const std::int32_t last = store_.count();
    if (!store_.Keep(positions, infos)) return false;
    if (positions.empty() || positions.back() != last) last_frame_is_last_ = false;
    show_count();
    return true;
}

void RecordingSession::CloseFrameStore() {
    ResetRecording();
    store_.Close();
}

void RecordingSession::ReleaseFrameStore() {
    shell_.StopTimer(kRecordTimerId);
    recording_ = false;
    store_.Release();
}

bool RecordingSession::AdoptRecording(const std::filesystem::path& path) {
    if (recording_ || !store_.Adopt(path)) return false;
    last_pixels_valid_ = false;
    last_frame_is_last_ = true;
    show_count();
    shell_.RefreshToolbar();
    return true;
}

}  // namespace gifanim::capture
