#pragma once
// The frame editor: the recording as a strip of 200 x 200 thumbnails, trimmed by three delete
// commands and saved back into the store. The working list names the store's frames by their
// positions, so opening the editor copies no image; the store's generation tells whether those
// positions still name the same frames when the edits are saved.
#include <cstdint>
#include <string>
#include <vector>

#include "capture/session.h"
#include "platform/screen.h"

namespace gifanim::review {

// The editor window as designed (at 96 DPI), and the parts of it the model places.
inline constexpr int kEditorDesignedWidth = 806;
inline constexpr int kEditorDesignedHeight = 332;
inline constexpr int kThumbnailSize = 200;
// The strip of thumbnails at 0,0, 800 x 202; a thumbnail sits 1 pixel below the strip's top.
inline constexpr int kStripTop = 0;
inline constexpr int kStripHeight = 202;
inline constexpr int kThumbnailTop = 1;
// The scroll track (a grey line) and its knob as designed; the first resize places them.
inline constexpr platform::ScreenRect kTrackDesigned{24, 224, 24 + 648, 224 + 3};
inline constexpr int kKnobSize = 12;
inline constexpr int kKnobDesignedLeft = 240;
inline constexpr int kKnobDesignedTop = 224;
// Red = green = blue = 102, as 0x00BBGGRR.
inline constexpr std::uint32_t kTrackColour = 0x00666666u;
// The delete commands of the frame window's third popup, by menu command id.
namespace editor_command {
inline constexpr int delete_current = 14;
inline constexpr int delete_to_current = 15;
inline constexpr int delete_from_current = 16;
}  // namespace editor_command
// Message box flags: Yes, No and Cancel buttons with the information icon.
inline constexpr int kSavePromptFlags = 67;

extern const char* const kSavePromptText;
extern const char* const kSavePromptTitle;
// Shown when the edits cannot be saved: the store was emptied or replaced since the editor opened,
// or the spill file could not take the kept frames.
extern const char* const kEditsOutdatedText;
extern const char* const kEditsNotSavedText;

// A thumbnail label's text runs in their colours: "第 ", the number, " 帧  延时:", the delay in
// milliseconds, "毫秒".
struct LabelRun {
    enum class Colour { template_text, black, red };
    std::string text;  // GBK
    Colour colour = Colour::black;
};
inline constexpr std::uint32_t kLabelBlack = 0;
inline constexpr std::uint32_t kLabelRed = 255;
std::vector<LabelRun> thumbnail_label(std::int32_t place, std::int16_t delay_time);

// The window of a thumbnail in view: its place in the list (its tag), its left edge in the
// editor's client area, and the store frame it shows.
struct VisibleThumbnail {
    std::int32_t place = 0;
    std::int32_t left = 0;
    std::int32_t frame = 0;
};

// The places (from 1) of the thumbnails that a client area `client_width` wide shows with the strip's
// left edge at `strip_left`: first..last, empty (first > last) when none.
struct PlaceRange {
    std::int32_t first = 1;
    std::int32_t last = 0;
};
PlaceRange visible_places(std::int32_t count, std::int64_t strip_left, std::int32_t client_width);

// The strip's left edge for the scroll value p: −floor(p ÷ (track.width − track.left) ×
// (count × 200 − 4 × 200)), or 0 when the track has no length.
std::int64_t strip_left_for(std::int64_t p, std::int32_t track_left, std::int32_t track_width, std::int32_t count);

// What the editor asks of its windows.
class EditorPort {
public:
    enum class Answer { yes, no, cancel };

    virtual ~EditorPort() = default;
    virtual void SetCaption(const std::string& gbk) = 0;
    // The editor window's rectangle on the screen, and moving and sizing it.
    virtual platform::ScreenRect WindowRect() const = 0;
    virtual void MoveWindow(int left, int top, int width, int height) = 0;
    // The work area (the monitor less its taskbar) of the monitor nearest to this rectangle.
    virtual platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const = 0;
    virtual void MoveTrack(int left, int top, int width, int height) = 0;
    virtual void MoveKnob(int left, int top) = 0;
    // The thumbnails, their number or the strip's left edge changed: draw the strip again from
    // FrameEditor::Visible.
    virtual void StripChanged() = 0;
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;
    // Opens the frame window's delete popup (commands 14 to 16) at the mouse cursor.
    virtual void ShowDeletePopup() = 0;
    // Creates the frame viewer on first use, shows the picture in it with this caption.
    virtual void ShowViewer(const capture::FrameImage& image, const std::string& gbk_caption) = 0;
    // A modal message box owned by the editor with these flags (67: Yes, No, Cancel, information).
    virtual Answer Ask(const std::string& gbk_text, const std::string& gbk_title, int flags) = 0;
    // A modal box owned by the editor with an OK button.
    virtual void ShowMessage(const std::string& gbk_text, const std::string& gbk_title) = 0;
    // Destroys the editor window (and with it the frame viewer).
    virtual void Destroy() = 0;
};

class FrameEditor {
public:
    FrameEditor(capture::RecordingSession& session, EditorPort& port) : session_(session), port_(port) {}

    // The window was created: the working lists are built from the store, the caption is set,
    // the window is narrowed for fewer than 4 thumbnails and centred on the frame window, then
    // moved inside the work area of its monitor.
    void Open(const platform::ScreenRect& frame_window);
    // The client area's new size: the track runs below the strip, the knob goes to its left end.
    void Resize(int client_width, int client_height);

    // Thumbnail `place` double-clicked: it becomes current and the frame viewer shows it.
    void ThumbnailDoubleClick(std::int32_t place);
    // Right button released over thumbnail `place`: it becomes current and the delete popup opens.
    void ThumbnailRightClick(std::int32_t place);
    // Commands 14 (删除当前帧), 15 (删除第一帧到当前帧) and 16 (删除从当前帧最后一帧) on the current
    // thumbnail; nothing without one. The deleted thumbnail is no longer current.
    void Command(int id);

    void KnobMouseDown();
    void MouseUp();
    void MouseMove(int screen_x);
    void TrackMouseDown(int screen_x);

    // "保存": the store keeps the remaining frames, then the frames recorded since the editor
    // opened. False (with a message) when it could not.
    bool Save();
    // "取消": the edits are dropped and the window destroyed without asking.
    void Cancel();
    // The close box: true when the window may close, after asking whether to save unsaved edits.
    bool RequestClose();

    std::int32_t count() const { return static_cast<std::int32_t>(frames_.size()); }
    // The store frame (from 1) that thumbnail `place` shows; 0 when there is no such place.
    std::int32_t frame_at(std::int32_t place) const;
    const std::vector<FrameInfo>& infos() const { return infos_; }
    // The image of thumbnail `place`, read from the store; null when there is none.
    capture::FrameImage image_at(std::int32_t place) const;
    // The thumbnails in view in a client area this wide, with their left edges.
    std::vector<VisibleThumbnail> Visible(std::int32_t client_width) const;
    // Names the picture of thumbnail `place` in a thumbnail cache: the same frame of the same
    // store generation has the same key, so a delete does not make the others decode again.
    std::uint64_t thumbnail_key(std::int32_t place) const;

    std::int32_t current() const { return current_; }
    bool modified() const { return modified_; }
    bool dragging() const { return dragging_; }
    std::int64_t strip_left() const { return strip_left_; }
    std::int32_t knob_left() const { return knob_.left; }
    const platform::ScreenRect& track() const { return track_; }

private:
    void load();
    void show_caption();
    void scroll_to(std::int64_t p);
    void delete_places(std::int32_t first, std::int32_t last);
    void move_knob(std::int32_t left);

    capture::RecordingSession& session_;
    EditorPort& port_;
    // Store frame positions (from 1) of the thumbnails in list order, and their records.
    std::vector<std::int32_t> frames_;
    std::vector<FrameInfo> infos_;
    // The store's generation and frame count when the lists were built: frames past that count
    // were recorded while the editor was open.
    std::uint64_t generation_ = 0;
    std::int32_t loaded_count_ = 0;
    std::int32_t current_ = 0;
    bool modified_ = false;
    bool dragging_ = false;
    std::int64_t strip_left_ = 0;
    platform::ScreenRect track_ = kTrackDesigned;
    platform::ScreenRect knob_{kKnobDesignedLeft, kKnobDesignedTop, kKnobDesignedLeft + kKnobSize,
                               kKnobDesignedTop + kKnobSize};
};

}  // namespace gifanim::review
