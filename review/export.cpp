#include "review/export.h"

#include <exception>
#include <functional>
#include <utility>

namespace gifanim::review {

BusyWindows::~BusyWindows() {
    if (busy_) restore();
}

void BusyWindows::end() {
    busy_ = false;
    if (const std::exception_ptr failure = restore()) std::rethrow_exception(failure);
}

std::exception_ptr BusyWindows::restore() noexcept {
    std::exception_ptr first;
    const auto attempt = [&first](auto&& call) {
        try {
            call();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    };
    attempt([this] { shell_.HideProgressWindow(); });
    attempt([this] { shell_.EnableFrameWindow(true); });
    attempt([this] { shell_.SetProgress(0); });
    return first;
}

const char* const kExportTitle = "Zovaro提示您：";
const char* const kExportSucceededText = "Zovaro提示您：\r\n\r\n导出成功";
const char* const kExportFailedText = "Zovaro提示您：\r\n\r\n导出失败";

std::int32_t progress_position(std::int64_t added, std::int64_t total, std::int32_t maximum) {
    if (total <= 0) return 0;
    // added <= total < 2^31 and maximum < 2^31, so the product fits 63 bits.
    return static_cast<std::int32_t>(added * maximum / total);
}

platform::ScreenRect centred_on(const platform::ScreenRect& frame_window, std::int32_t width, std::int32_t height) {
    const std::int64_t frame_width = static_cast<std::int64_t>(frame_window.right) - frame_window.left;
    const std::int64_t frame_height = static_cast<std::int64_t>(frame_window.bottom) - frame_window.top;
    const auto left = static_cast<std::int32_t>(frame_window.left + (frame_width - width) / 2);
    const auto top = static_cast<std::int32_t>(frame_window.top + (frame_height - height) / 2);
    return {left, top, left + width, top + height};
}

platform::ScreenRect progress_window_rect(const platform::ScreenRect& frame_window, std::int32_t bar_width,
                                          std::int32_t bar_height) {
    return centred_on(frame_window, bar_width, bar_height);
}

int RunExport(AnimationInfo info, std::int32_t frames, std::int32_t recorded,
              const std::function<void(std::int32_t added)>& add, GifMaker& maker, ExportShell& shell) {
    const std::filesystem::path path = shell.AskSavePath();
    if (path.empty()) return 0;
    info.LOOP = 1;
    info.LoopCount = 0;
    info.BgColorIndex = 0;
    info.FrameCount = frames;
    info.ColorNum = 0;
    info.Interlace = 1;
    // The frames go to the file as they are made, not held and copied there at the end. An export
    // cut short by an exception is over: its frames go, with the file beside the target.
    struct Streaming {
        GifMaker& maker;
        bool saved = false;
        ~Streaming() {
            maker.StreamTo({});
            if (!saved) maker.Reset();
        }
    } streaming{maker};
    maker.StreamTo(path);
    maker.Create(info);

    // Made before the calls it undoes: either of them may throw after it took effect.
    BusyWindows busy(shell);
    shell.ShowProgressWindow();
    shell.EnableFrameWindow(false);
    const std::int32_t maximum = shell.ProgressMaximum();
    for (std::int32_t added = 1; added <= frames; ++added) {
        add(added);
        shell.SetProgress(progress_position(added, frames, maximum));
    }
    shell.SetFrameWindowCaption("当前帧数:" + std::to_string(recorded));
    const bool saved = maker.SaveGif(path);
    streaming.saved = true;
    busy.end();
    if (saved) {
        shell.ShowMessage(kExportSucceededText, kExportTitle, kInformationIcon);
        maker.Reset();
        return 1;
    }
    shell.ShowMessage(kExportFailedText, kExportTitle, kErrorIcon);
    return 0;
}

int ExportFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, GifMaker& maker,
                 ExportShell& shell) {
    const auto n = static_cast<std::int32_t>(frames.count());
    const platform::ScreenRect& rect = frames.capture_rect();
    AnimationInfo info;
    info.Width = static_cast<std::int16_t>(static_cast<std::int64_t>(rect.right) - rect.left);
    info.Depth = static_cast<std::int16_t>(static_cast<std::int64_t>(rect.bottom) - rect.top);
    const auto add = [&](std::int32_t added) {
        // The k-th frame added is frame k forwards and frame n + 1 - k backwards; its record
        // always goes with it.
        const std::int32_t k = direction == ExportDirection::forward ? added : n + 1 - added;
        const capture::FrameImage image = frames.FrameAt(static_cast<std::size_t>(k));
        static const std::vector<std::uint8_t> unreadable;
        // A frame that cannot be read is passed on empty: the maker refuses it and the rest go on.
        maker.AddFrame(frames.Infos()[static_cast<std::size_t>(k - 1)], {}, image ? *image : unreadable);
    };
    return RunExport(info, n, n, add, maker, shell);
}

Exporter::~Exporter() {
    Wait();
}

void Exporter::Wait() {
    if (thread_.joinable()) thread_.join();
}

bool Exporter::Start(capture::RecordingSession& session, ExportDirection direction, ExportShell& shell,
                     const Optimization& optimization) {
    return Start(session, shell, optimization,
                 [direction](const capture::FrameStoreSnapshot& frames, GifMaker& maker, ExportShell& ui) {
                     return ExportFrames(frames, direction, maker, ui);
                 });
}

bool Exporter::Start(capture::RecordingSession& session, ExportShell& shell, const Optimization& optimization,
                     Job job) {
    if (running_.load()) return false;
    Wait();
    if (session.recording()) session.StopRecording();
    try {
        auto frames = std::make_shared<const capture::FrameStoreSnapshot>(session.store().Snapshot());
        // The last export's thread has been joined, so the maker is this thread's to change; the
        // mode counts from the Create that the export makes.
        maker_.SetOptimization(optimization);
        running_.store(true);
        thread_ = std::thread([this, frames = std::move(frames), job = std::move(job), &shell] {
            int result = 0;
            try {
                result = job(*frames, maker_, shell);
            } catch (...) {
                // A shell call, the maker or a frame read failed; the export gave the windows
                // back, and it is over.
            }
            last_result_.store(result);
            running_.store(false);
        });
        return true;
    } catch (const std::exception&) {
        running_.store(false);
        return false;
    }
}

}  // namespace gifanim::review
