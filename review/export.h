#pragma once
// Writing the recording as one looping GIF, forwards or backwards, with a progress bar.
#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "capture/frame_store.h"
#include "capture/session.h"
#include "gif/gif_maker.h"
#include "platform/screen.h"

namespace gifanim::review {

enum class ExportDirection { forward = 1, reverse = 2 };

// What the export asks of the windows. It calls these on its own thread: a window shell hands
// each change over to the user-interface thread.
class ExportShell {
public:
    virtual ~ExportShell() = default;
    // The path the user chose in the save dialog; empty when the dialog was cancelled.
    virtual std::filesystem::path AskSavePath() = 0;
    // Sizes the progress window to its bar, centres it on the frame window and shows it.
    virtual void ShowProgressWindow() = 0;
    virtual void HideProgressWindow() = 0;
    virtual void EnableFrameWindow(bool enabled) = 0;
    virtual std::int32_t ProgressMaximum() = 0;
    virtual void SetProgress(std::int32_t position) = 0;
    virtual void SetFrameWindowCaption(const std::string& gbk) = 0;
    // A modal box owned by the frame window with an OK button; icon 64 information, 16 error.
    virtual void ShowMessage(const std::string& gbk_text, const std::string& gbk_title, int icon) = 0;
};

inline constexpr int kInformationIcon = 64;
inline constexpr int kErrorIcon = 16;
extern const char* const kExportTitle;
extern const char* const kExportSucceededText;
extern const char* const kExportFailedText;

// The progress bar's position after `added` of `total` frames: the whole part of
// added * maximum / total, without overflow.
std::int32_t progress_position(std::int64_t added, std::int64_t total, std::int32_t maximum);

// A window of this size centred on the frame window: each offset is half the difference of the
// sizes, truncated toward zero, so a window larger than the frame window overhangs it evenly.
platform::ScreenRect centred_on(const platform::ScreenRect& frame_window, std::int32_t width, std::int32_t height);

// Where the progress window goes: its size is the bar's, centred on the frame window.
platform::ScreenRect progress_window_rect(const platform::ScreenRect& frame_window, std::int32_t bar_width,
                                          std::int32_t bar_height);

// While an export runs, the frame window is disabled and the progress window shows. Whatever
// ends the export (a shell call, the maker out of memory, a frame read), both come back: a frame
// window left disabled could never be used or closed again. Made before the calls it undoes.
class BusyWindows {
public:
    explicit BusyWindows(ExportShell& shell) : shell_(shell) {}
    BusyWindows(const BusyWindows&) = delete;
    BusyWindows& operator=(const BusyWindows&) = delete;
    ~BusyWindows();
    // The normal end: a failure of a restoring call reaches the caller, after the other calls ran.
    void end();

private:
    // Each call is made even when one before it threw; the first exception is the one kept.
    std::exception_ptr restore() noexcept;

    ExportShell& shell_;
    bool busy_ = true;
};

// The flow every export shares: the save dialog (a cancelled one ends it with 0), the maker
// created with the size of `info`, the progress window and the frame window disabled while
// add(1) .. add(frames) give the maker its frames, the frame window's caption with the `recorded`
// count, then the save and its message. Returns 1 when the file was written, 0 otherwise.
int RunExport(AnimationInfo info, std::int32_t frames, std::int32_t recorded,
              const std::function<void(std::int32_t added)>& add, GifMaker& maker, ExportShell& shell);

// One export of the frames of `frames`, every frame with its own FrameInfo, through `maker`.
// Returns 1 when the file was written, 0 when the dialog was cancelled or the save failed.
int ExportFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, GifMaker& maker,
                 ExportShell& shell);

// Runs exports on a thread of their own, one at a time, each from a snapshot of the store taken
// as it starts: whatever the user-interface thread does to the store meanwhile changes nothing the
// export writes.
class Exporter {
public:
    explicit Exporter(GifMaker& maker) : maker_(maker) {}
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;
    // Waits for a running export.
    ~Exporter();

    // Stops a running recording, takes the snapshot and starts the export, whose GIF the maker
    // writes in this optimizing mode (off by default: the plain bytes). Ignored (false) while
    // another export runs or when there is no memory for the snapshot; the running export's mode
    // then stays as it was.
    bool Start(capture::RecordingSession& session, ExportDirection direction, ExportShell& shell,
               const Optimization& optimization = {});
    // What an export does with its snapshot: ExportFrames, or a shaped or size-limited export.
    // Returns 1 when the file was written, 0 otherwise.
    using Job = std::function<int(const capture::FrameStoreSnapshot& frames, GifMaker& maker, ExportShell& shell)>;
    // Start with the export made by `job` instead of ExportFrames.
    bool Start(capture::RecordingSession& session, ExportShell& shell, const Optimization& optimization, Job job);
    bool running() const { return running_.load(); }
    // Waits for the running export, if any.
    void Wait();
    // The last finished export's result (1 written, 0 not).
    int last_result() const { return last_result_.load(); }

private:
    GifMaker& maker_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> last_result_{0};
};

}  // namespace gifanim::review
