#pragma once
// The recording session: the record timer's ticks grab the capture rectangle, and each grab is
// stored as a new frame or merged into the last one when nothing changed.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "platform/screen.h"

namespace gifanim::capture {

inline constexpr int kRecordTimerId = 1001;

// What the session asks of the frame window and reads from the live settings, each at the moment
// it needs it.
class RecordingShell {
public:
    struct Size {
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    virtual ~RecordingShell() = default;
    virtual void SetCaption(const std::string& gbk) = 0;
    virtual void SetRecordButtonCaption(const std::string& gbk) = 0;
    virtual void RefreshToolbar() = 0;
    virtual void MinimizeFrameWindow() = 0;
    // Tells the user something went wrong that does not stop the recording (or why it did not start).
    virtual void Warn(const std::string& gbk) = 0;
    // The timer calls CaptureTick every period_ms milliseconds; ticks that fall due while one
    // runs collapse into one.
    virtual void StartTimer(int id, std::int32_t period_ms) = 0;
    virtual void StopTimer(int id) = 0;

    virtual bool FullScreenChecked() const = 0;
    // The capture panel's rectangle in screen coordinates.
    virtual platform::ScreenRect CapturePanelRect() const = 0;
    virtual Size ScreenSize() const = 0;
    // The number that starts the checked rate item's label.
    virtual std::int32_t FrameRate() const = 0;
    virtual std::int64_t MemoryBudgetBytes() const = 0;
    virtual bool DiskStorage() const = 0;
    virtual bool FullScreenHide() const = 0;
    virtual bool RecordCursor() const = 0;
    // Whether frames show a ring around the pointer while a mouse button is down.
    virtual bool ShowClicks() const { return false; }
};

// How a tick reads the screen. Split in two so that a grab whose pixels equal the previous one
// skips the encoding.
class FrameGrabber {
public:
    virtual ~FrameGrabber() = default;
    // The rectangle's pixels; false when they cannot be read. May throw std::bad_alloc.
    virtual bool Grab(const platform::ScreenRect& rect, bool draw_cursor, platform::ScreenPixels& pixels) = 0;
    // Pixels of a successful Grab as a frame image; empty when they cannot be encoded.
    virtual std::vector<std::uint8_t> Encode(platform::ScreenPixels& pixels) = 0;
    // Where the pointer is and which buttons are down; false when it cannot be told.
    virtual bool Pointer(platform::PointerState&) { return false; }
};

// The screen through grab_pixels, encoded as JPEG.
class ScreenGrabber final : public FrameGrabber {
public:
    bool Grab(const platform::ScreenRect& rect, bool draw_cursor, platform::ScreenPixels& pixels) override;
    std::vector<std::uint8_t> Encode(platform::ScreenPixels& pixels) override;
    bool Pointer(platform::PointerState& out) override { return platform::pointer_state(out); }
};

// The warnings the session gives through RecordingShell::Warn.
extern const char* const kDiskWriteFailedText;
extern const char* const kBadFrameRateText;
extern const char* const kOutOfMemoryText;
// A frame reached memory but not the spill file, so a crash would lose it.
extern const char* const kJournalWriteFailedText;

class RecordingSession {
public:
    RecordingSession(RecordingShell& shell, FrameGrabber& grabber) : shell_(shell), grabber_(grabber) {}

    FrameStore& store() { return store_; }
    const FrameStore& store() const { return store_; }
    bool recording() const { return recording_; }

    // Creates the spill file; false when it cannot be made.
    bool OpenFrameStore();
    // Takes the capture rectangle and timer interval and starts the record timer; the store is
    // kept, so a new recording continues the frames already there. False (with a warning) when the
    // frame rate is 0 or less.
    bool StartRecording();
    void StopRecording();
    // While recording: the record timer stops and the caption says "已暂停  当前帧数:N"; the
    // recording goes on at Resume, into the same frames, and no delay holds the pause. Stopping
    // ends a paused recording as any other.
    void PauseRecording();
    void ResumeRecording();
    bool paused() const { return paused_; }
    void CaptureTick();
    // Stops the record timer and empties the store.
    void ResetRecording();
    // The whole store becomes these frames, as the frame editor left them.
    void ReplaceFrames(std::span<const FrameImage> images, std::span<const FrameInfo> infos);
    // The store keeps only the frames at `positions` (from 1, rising), in that order, with these records:
    // what the frame editor leaves when it saves. The caption shows the new count. LastFrame stays,
    // but when the last frame was not kept the next grab is stored even if it equals LastFrame.
    // False, with the store and caption as they were, when FrameStore::Keep refuses.
    bool KeepFrames(std::span<const std::int32_t> positions, std::span<const FrameInfo> infos);
    FrameImage FrameAt(std::int32_t i) const { return store_.FrameAt(i); }
    // ResetRecording, then the spill file is deleted.
    void CloseFrameStore();
    // Stops the record timer and leaves the recording in the spill file for a later process.
    void ReleaseFrameStore();
    // The recording left in the spill file at `path` becomes the current one (FrameStore::Adopt);
    // the caption shows its count. False, with nothing changed, when it cannot be taken.
    bool AdoptRecording(const std::filesystem::path& path);

    // Ticks whose grab matched the previous pixels and so were not encoded, since the start.
    std::uint64_t unencoded_ticks() const { return unencoded_ticks_; }

private:
    void warn_once(bool& warned, const char* text);
    FrameImage grab(const platform::ScreenRect& rect);
    void store_frame(FrameImage frame, const FrameInfo& info);
    void show_count_and_delay();
    void show_count();

    RecordingShell& shell_;
    FrameGrabber& grabber_;
    FrameStore store_;
    bool recording_ = false;
    bool paused_ = false;
    bool warned_disk_ = false;
    bool warned_memory_ = false;
    bool warned_journal_ = false;
    // False once KeepFrames dropped the frame that LastFrame holds, until the next frame is
    // stored: a grab equal to a deleted frame is a frame of its own, not a longer last frame.
    bool last_frame_is_last_ = true;
    // The pixels that gave LastFrame, and a buffer for the next grab.
    platform::ScreenPixels last_pixels_;
    platform::ScreenRect last_rect_;
    bool last_pixels_valid_ = false;
    platform::ScreenPixels pixels_;
    std::uint64_t unencoded_ticks_ = 0;
};

}  // namespace gifanim::capture
