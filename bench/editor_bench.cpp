// The frame editor on a long recording: 9000 frames of the corpus's 720p sequence (JPEGs of about
// 180 KB, handed out in turn), the first 20 MB of them in memory and the rest in the spill file,
// as a recording past the default budget leaves them. Measures
//   - opening the editor model until the thumbnails in view are made (decoded and scaled on the
//     cache's worker), with the growth of the resident memory it takes;
//   - a save that keeps 8000 of the 9000 frames (1000 deleted from the middle, memory and disk
//     frames alike), its time and its peak memory growth; every kept frame is then read back and
//     compared byte for byte.
//   editor_bench [--frames N] [--delete N] [--dir DIR]
//   --frames  frames recorded (default 9000)
//   --delete  frames deleted from place 100 on before the save (default 1000)
//   --dir     where the spill file goes (default the temporary folder)
#include <malloc.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "capture/session.h"
#include "platform/system.h"
#include "review/editor.h"
#include "review/thumbnails.h"
#include "tests/unit/quiet_recording_shell.h"

namespace gifanim::bench {
namespace {

constexpr std::int64_t kBudgetBytes = std::int64_t{20} << 20;
constexpr std::int32_t kFirstDeleted = 100;
constexpr int kClientWidth = 790;
constexpr double kLimitMib = 64;
constexpr double kOpenLimitSeconds = 0.5;

class QuietEditorPort final : public review::EditorPort {
public:
    void SetCaption(const std::string&) override {}
    platform::ScreenRect WindowRect() const override { return window_; }
    void MoveWindow(int l, int t, int w, int h) override { window_ = {l, t, l + w, t + h}; }
    platform::ScreenRect WorkArea(const platform::ScreenRect&) const override { return {0, 0, 1920, 1040}; }
    void MoveTrack(int, int, int, int) override {}
    void MoveKnob(int, int) override {}
    void StripChanged() override {}
    void CaptureMouse() override {}
    void ReleaseMouse() override {}
    void ShowDeletePopup() override {}
    void ShowViewer(const capture::FrameImage&, const std::string&) override {}
    Answer Ask(const std::string&, const std::string&, int) override { return Answer::yes; }
    void ShowMessage(const std::string& text, const std::string&) override { die("the editor said: " + text); }
    void Destroy() override {}

private:
    platform::ScreenRect window_{0, 0, review::kEditorDesignedWidth, review::kEditorDesignedHeight};
};

// Counts the thumbnails the cache's worker reports ready.
class ReadyCount {
public:
    void add() {
        {
            std::lock_guard lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    void wait_for(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t count_ = 0;
};

// Removed when the program ends, by die() (std::exit) included.
ScratchFolder g_scratch;

double rss_mib() {
    return static_cast<double>(status_kib("VmRSS")) / 1024.0;
}
double peak_mib() {
    return static_cast<double>(status_kib("VmHWM")) / 1024.0;
}

int run(int argc, char** argv) {
    std::int32_t frames = 9000;
    std::int32_t deleted = 1000;
    std::filesystem::path dir = platform::temp_directory();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--frames") {
            frames = std::atoi(argv[i + 1]);
        } else if (option == "--delete") {
            deleted = std::atoi(argv[i + 1]);
        } else if (option == "--dir") {
            dir = argv[i + 1];
        } else {
            die("unknown option " + option);
        }
    }
    if (frames < kFirstDeleted || deleted < 0 || deleted > frames - kFirstDeleted + 1) die("bad --frames or --delete");

    const std::filesystem::path corpus = corpus_dir();
    std::vector<capture::FrameImage> jpegs;
    for (int i = 0; std::filesystem::exists(seq720_jpeg(corpus, i)); ++i) {
        jpegs.push_back(std::make_shared<const std::vector<std::uint8_t>>(read_file(seq720_jpeg(corpus, i))));
    }
    if (jpegs.empty()) die("no seq720 JPEGs in the corpus");
    const auto source = [&](std::int32_t frame) { return jpegs[static_cast<std::size_t>(frame - 1) % jpegs.size()]; };

    g_scratch.path = dir / ("editor-bench-" + std::to_string(platform::tick_count()));
    std::filesystem::create_directories(g_scratch.path);
    test::QuietRecordingShell shell;
    test::NoScreenGrabber grabber;
    capture::RecordingSession session(shell, grabber);
    capture::FrameStore& store = session.store();
    if (!store.Open(g_scratch.path)) die("cannot create the spill file");

    // Memory frames get bytes of their own, as grabs do; disk frames are written from the shared ones.
    std::int64_t used = 0;
    for (std::int32_t i = 1; i <= frames; ++i) {
        const capture::FrameImage& jpeg = source(i);
        used += static_cast<std::int64_t>(jpeg->size());
        const bool to_disk = used >= kBudgetBytes;
        FrameInfo info;
        info.DelayTime = 6;
        const capture::FrameImage image = to_disk ? jpeg : std::make_shared<const std::vector<std::uint8_t>>(*jpeg);
        if (store.Append(image, info, to_disk) !=
            (to_disk ? capture::FrameStore::Stored::disk : capture::FrameStore::Stored::memory)) {
            die("frame " + std::to_string(i) + " was not stored where it should go");
        }
    }
    store.set_bytes_used(used);
    std::printf("recording: %d frames (%d in memory, %zu on disk), spill file %.1f MiB, mean frame %.0f KiB\n", frames,
                store.MemoryFrames(), store.DiskFrames().count(),
                mib(static_cast<double>(store.DiskFrames().size_on_disk())),
                static_cast<double>(used) / frames / 1024.0);

    // Opening: the model, then the thumbnails in view asked for and made.
    QuietEditorPort port;
    review::FrameEditor editor(session, port);
    ReadyCount ready;
    malloc_trim(0);
    const double rss_before_open = rss_mib();
    const bool peak_reset = reset_peak_rss();
    const std::uint64_t open0 = platform::monotonic_us();
    std::size_t in_view = 0;
    {
        review::ThumbnailCache cache([&](review::ThumbnailCache::Key) { ready.add(); });
        editor.Open({0, 0, 588, 429});
        editor.Resize(kClientWidth, 300);
        const std::uint64_t model_us = platform::monotonic_us() - open0;
        const std::vector<review::VisibleThumbnail> visible = editor.Visible(kClientWidth);
        in_view = visible.size();
        for (const review::VisibleThumbnail& v : visible) {
            cache.Get(editor.thumbnail_key(v.place), [&] { return editor.image_at(v.place); });
        }
        ready.wait_for(in_view);
        const std::uint64_t open_us = platform::monotonic_us() - open0;
        for (const review::VisibleThumbnail& v : visible) {
            const review::ThumbnailPtr t =
                cache.Get(editor.thumbnail_key(v.place), [] { return capture::FrameImage(); });
            if (!t || t->width != review::kThumbnailSide) die("a thumbnail in view was not made");
        }
        const double open_peak = peak_mib() - rss_before_open;
        std::printf("open: model %.3f ms, model + %zu thumbnails in view %.3f s (limit %.1f s) %s\n",
                    static_cast<double>(model_us) / 1e3, in_view, seconds(open_us), kOpenLimitSeconds,
                    seconds(open_us) < kOpenLimitSeconds ? "ok" : "OVER");
        std::printf("open: resident memory growth %.1f MiB, peak growth %.1f MiB%s (limit %.0f MiB) %s\n",
                    rss_mib() - rss_before_open, open_peak, peak_reset ? "" : " (peak not resettable)", kLimitMib,
                    open_peak < kLimitMib ? "ok" : "OVER");
    }

    // The save: `deleted` frames from place 100 on (memory and disk frames), then everything else kept.
    for (std::int32_t i = 0; i < deleted; ++i) {
        editor.ThumbnailRightClick(kFirstDeleted);
        editor.Command(review::editor_command::delete_current);
    }
    malloc_trim(0);
    const double rss_before_save = rss_mib();
    reset_peak_rss();
    const std::uint64_t save0 = platform::monotonic_us();
    if (!editor.Save()) die("the save failed");
    const std::uint64_t save_us = platform::monotonic_us() - save0;
    const double save_peak = peak_mib() - rss_before_save;
    const std::int32_t kept = frames - deleted;
    if (store.count() != kept) die("the store holds " + std::to_string(store.count()) + " frames after the save");
    std::printf("save: kept %d of %d frames (%d in memory, %zu on disk) in %.2f s\n", kept, frames,
                store.MemoryFrames(), store.DiskFrames().count(), seconds(save_us));
    std::printf("save: resident memory growth %.1f MiB, peak growth %.1f MiB (limit %.0f MiB) %s\n",
                rss_mib() - rss_before_save, save_peak, kLimitMib, save_peak < kLimitMib ? "ok" : "OVER");

    for (std::int32_t j = 1; j <= kept; ++j) {
        const std::int32_t original = j < kFirstDeleted ? j : j + deleted;
        const capture::FrameImage image = store.FrameAt(j);
        if (!image || *image != *source(original)) die("frame " + std::to_string(j) + " does not read back");
    }
    std::printf("save: every kept frame reads back byte for byte\n");
    return 0;
}

}  // namespace
}  // namespace gifanim::bench

int main(int argc, char** argv) {
    return gifanim::bench::run(argc, argv);
}
