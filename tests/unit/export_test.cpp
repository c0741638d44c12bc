#include "review/export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/unit/file_limit.h"
#include "tests/unit/quiet_recording_shell.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::review {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_all(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// A small picture of one colour per frame number.
Bytes picture(int n) {
    return test::make_bmp(12, 8, [n](int x, int) {
        return test::Rgb{static_cast<std::uint8_t>(n * 40), static_cast<std::uint8_t>(x * 20), 200};
    });
}

struct FakeExportShell : ExportShell {
    std::filesystem::path answer;
    std::vector<std::string> calls;
    std::mutex mutex;
    std::condition_variable cv;
    bool hold_dialog = false, in_dialog = false;
    // A call whose log line starts with this throws after it was logged.
    std::string throw_at;

    std::filesystem::path AskSavePath() override {
        std::unique_lock lock(mutex);
        calls.push_back("dialog");
        in_dialog = true;
        cv.notify_all();
        cv.wait(lock, [this] { return !hold_dialog; });
        return answer;
    }
    void release() {
        std::lock_guard lock(mutex);
        hold_dialog = false;
        cv.notify_all();
    }
    void wait_in_dialog() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return in_dialog; });
    }
    void log(std::string s) {
        std::lock_guard lock(mutex);
        const bool fail = !throw_at.empty() && s.starts_with(throw_at);
        calls.push_back(std::move(s));
        if (fail) throw std::runtime_error("window gone");
    }
    void ShowProgressWindow() override { log("show progress"); }
    void HideProgressWindow() override { log("hide progress"); }
    void EnableFrameWindow(bool on) override { log(on ? "enable" : "disable"); }
    std::int32_t ProgressMaximum() override { return 100; }
    void SetProgress(std::int32_t p) override { log("progress " + std::to_string(p)); }
    void SetFrameWindowCaption(const std::string& s) override { log("caption " + s); }
    void ShowMessage(const std::string& text, const std::string& title, int icon) override {
        log("box " + std::to_string(icon) + " " + title + "|" + text);
    }
};

// The screen shows picture n at tick n; it is the frame image as it is, so any store placement of
// the same frames must give the same GIF.
struct PictureGrabber : capture::FrameGrabber {
    int screen = 1;
    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& pixels) override {
        pixels.bits_per_pixel = 24;
        pixels.data.assign(1, static_cast<std::uint8_t>(screen));
        return true;
    }
    Bytes Encode(platform::ScreenPixels& pixels) override { return picture(pixels.data[0]); }
};

using Shell = test::QuietRecordingShell;

class ExportTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"export-"};
    Shell shell;
    PictureGrabber grabber;
    capture::RecordingSession session{shell, grabber};
    FakeExportShell ui;
    GifMaker maker;

    void SetUp() override { ASSERT_TRUE(session.store().Open(scratch.dir)); }

    // Records pictures 1..n, each shown for `repeat` ticks.
    void record(int n, int repeat = 1) {
        ASSERT_TRUE(session.StartRecording());
        for (int i = 1; i <= n; ++i) {
            grabber.screen = i;
            for (int r = 0; r < repeat; ++r) session.CaptureTick();
        }
        session.StopRecording();
    }
    Bytes export_to(const std::string& name, ExportDirection direction) {
        ui.answer = scratch.dir / name;
        EXPECT_EQ(ExportFrames(session.store().Snapshot(), direction, maker, ui), 1);
        return read_all(ui.answer);
    }
    // The GIF made straight through the maker from these pictures and delays, in this order; a
    // maker never told of the optimizing mode unless it is on, so that plain exports are compared
    // with the bytes the maker has always written.
    Bytes expected(const std::vector<int>& pictures, const std::vector<int>& delays, const Optimization& mode = {}) {
        GifMaker direct;
        if (mode.enabled) direct.SetOptimization(mode);
        AnimationInfo info;
        info.Width = 12;
        info.Depth = 8;
        info.Interlace = 1;
        info.FrameCount = static_cast<std::int32_t>(pictures.size());
        direct.Create(info);
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            FrameInfo frame;
            frame.DelayTime = static_cast<std::int16_t>(delays[i]);
            frame.Width = 12;
            frame.Depth = 8;
            frame.DisposalMethod = 3;
            EXPECT_TRUE(direct.AddFrame(frame, {}, picture(pictures[i])));
        }
        const auto path = scratch.dir / "expected.gif";
        EXPECT_TRUE(direct.SaveGif(path));
        return read_all(path);
    }
};

TEST_F(ExportTest, ForwardAndReverseGiveEachFrameItsOwnDelayWhereverTheFramesAre) {
    record(3, 2);  // delays 20 each after the merges
    session.store().SetLastDelay(7);
    const Bytes forward = expected({1, 2, 3}, {20, 20, 7});
    const Bytes reverse = expected({3, 2, 1}, {7, 20, 20});
    EXPECT_EQ(export_to("memory.gif", ExportDirection::forward), forward);
    EXPECT_EQ(export_to("memory-r.gif", ExportDirection::reverse), reverse);

    // The same frames split between memory and disk, then all on disk.
    for (const std::int64_t budget : {400ll, 0ll}) {
        session.ResetRecording();
        shell.budget = budget;
        record(3, 2);
        session.store().SetLastDelay(7);
        EXPECT_EQ(session.store().MemoryFrames(), budget ? 1 : 0);
        EXPECT_EQ(export_to("split.gif", ExportDirection::forward), forward) << budget;
        EXPECT_EQ(export_to("split-r.gif", ExportDirection::reverse), reverse) << budget;
    }
}

TEST_F(ExportTest, TheWindowsFollowTheExportAndTheMakerIsResetAfterSuccess) {
    record(3);
    export_to("a.gif", ExportDirection::forward);
    EXPECT_EQ(ui.calls,
              (std::vector<std::string>{"dialog", "show progress", "disable", "progress 33", "progress 66",
                                        "progress 100", "caption 当前帧数:3", "hide progress", "enable", "progress 0",
                                        "box 64 Zovaro提示您：|Zovaro提示您：\r\n\r\n导出成功"}));
    EXPECT_EQ(maker.FrameCount(), 0);
}

TEST_F(ExportTest, AnExceptionAnywhereAfterTheDisableStillEnablesTheFrameWindowAndHidesTheProgress) {
    record(3);
    for (const std::string at : {"show progress", "disable", "progress 33", "progress 66", "caption"}) {
        ui.calls.clear();
        ui.throw_at = at;
        ui.answer = scratch.dir / "thrown.gif";
        EXPECT_THROW(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), std::runtime_error)
            << at;
        const auto thrown = std::find_if(ui.calls.begin(), ui.calls.end(),
                                         [&at](const std::string& call) { return call.starts_with(at); });
        ASSERT_NE(thrown, ui.calls.end()) << at;
        const std::vector<std::string> after(std::next(thrown), ui.calls.end());
        EXPECT_EQ(after, (std::vector<std::string>{"hide progress", "enable", "progress 0"})) << at;
    }
    // A restoring call that throws does not keep the others from running, and its exception is
    // the one the caller sees.
    for (const std::string at : {"hide progress", "enable"}) {
        ui.calls.clear();
        ui.throw_at = at;
        EXPECT_THROW(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), std::runtime_error);
        EXPECT_EQ(std::count(ui.calls.begin(), ui.calls.end(), "enable"), 1) << at;
        EXPECT_EQ(ui.calls.back(), "progress 0") << at;
    }
    // Nothing thrown: the success box as ever.
    ui.throw_at.clear();
    export_to("after.gif", ExportDirection::forward);
    EXPECT_EQ(ui.calls.back(), "box 64 Zovaro提示您：|Zovaro提示您：\r\n\r\n导出成功");
}

// An export cut short after frames went to the file beside the target leaves no such file.
TEST_F(ExportTest, AnExportCutShortLeavesNothingBesideTheTarget) {
    record(9);
    maker.SetThreads(1);  // fewer frames in flight than the export adds
    ui.throw_at = "caption";
    ui.answer = scratch.dir / "cut.gif";
    EXPECT_THROW(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), std::runtime_error);
    EXPECT_EQ(maker.FrameCount(), 0);
    for (const auto& entry : std::filesystem::directory_iterator(scratch.dir))
        EXPECT_EQ(entry.path(), session.store().DiskFrames().path()) << entry.path().filename().string();
}

TEST_F(ExportTest, CancellingTheDialogChangesNothing) {
    record(2);
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, picture(1)));
    ui.answer.clear();
    EXPECT_EQ(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), 0);
    EXPECT_EQ(ui.calls, std::vector<std::string>{"dialog"});
    EXPECT_EQ(maker.FrameCount(), 1);
}

TEST_F(ExportTest, NoFramesOrAnUnwritablePathShowTheFailureBoxAndKeepTheStore) {
    ui.answer = scratch.dir / "empty.gif";
    EXPECT_EQ(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), 0);
    EXPECT_EQ(ui.calls.back(), "box 16 Zovaro提示您：|Zovaro提示您：\r\n\r\n导出失败");
    EXPECT_FALSE(std::filesystem::exists(ui.answer));

    record(2);
    ui.calls.clear();
    ui.answer = scratch.dir / "no such folder" / "x.gif";
    EXPECT_EQ(ExportFrames(session.store().Snapshot(), ExportDirection::reverse, maker, ui), 0);
    EXPECT_EQ(ui.calls.back(), "box 16 Zovaro提示您：|Zovaro提示您：\r\n\r\n导出失败");
    EXPECT_EQ(session.store().count(), 2);
    // Not reset after a failure: the frames are still there to save again.
    EXPECT_EQ(maker.FrameCount(), 2);
}

#ifndef _WIN32
TEST_F(ExportTest, AFailedSaveLeavesTheFileItWouldHaveReplaced) {
    record(4);
    const auto target = scratch.dir / "keep.gif";
    const Bytes old(64, 'x');
    std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(old.data()), 64);
    ui.answer = target;
    for (const bool optimize : {false, true}) {
        maker.SetOptimization({optimize, Optimization::kDefaultQuality});
        {
            test::WritesRefusedPastEnd refuse(target, 100);  // the new GIF is larger than 164 bytes
            EXPECT_EQ(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), 0);
        }
        EXPECT_EQ(read_all(target), old);
        for (const auto& entry : std::filesystem::directory_iterator(scratch.dir)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "keep.gif" || entry.path() == session.store().DiskFrames().path())
                << name << " " << optimize;
        }
    }
}
#endif

TEST_F(ExportTest, TargetsAtTheLengthLimitsAreWrittenAndLeaveNoTemporaryFile) {
    record(2);
    const Bytes gif = expected({1, 2}, {10, 10});
    // A name as long as file systems take (255), and a full path of 255 characters with the name
    // the save dialog would have accepted: the temporary file beside each must be taken as well.
    const std::filesystem::path deep = scratch.dir / "deep";
    std::filesystem::create_directory(deep);
    const std::size_t rest = 255 - (deep / "").native().size();
    ASSERT_GT(rest, 8u) << deep;
    const std::filesystem::path targets[] = {scratch.dir / (std::string(251, 'n') + ".gif"),
                                             deep / (std::string(rest - 4, 'p') + ".gif")};
    ASSERT_EQ(targets[1].native().size(), 255u);
    for (const std::filesystem::path& target : targets) {
        ui.answer = target;
        EXPECT_EQ(ExportFrames(session.store().Snapshot(), ExportDirection::forward, maker, ui), 1);
        EXPECT_EQ(read_all(target), gif);
        for (const auto& folder : {scratch.dir, deep}) {
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                const bool ours = entry.path() == deep || entry.path() == scratch.dir / "expected.gif" ||
                                  entry.path() == session.store().DiskFrames().path() ||
                                  std::find(std::begin(targets), std::end(targets), entry.path()) != std::end(targets);
                EXPECT_TRUE(ours) << entry.path().filename().string().substr(0, 40);
            }
        }
    }
}

TEST_F(ExportTest, ExportsRunOneAtATimeFromASnapshotTakenAtTheStart) {
    record(3);
    ASSERT_TRUE(session.StartRecording());
    Exporter exporter(maker);
    ui.answer = scratch.dir / "snap.gif";
    ui.hold_dialog = true;
    ASSERT_TRUE(exporter.Start(session, ExportDirection::forward, ui));
    EXPECT_FALSE(session.recording());
    ui.wait_in_dialog();
    EXPECT_FALSE(exporter.Start(session, ExportDirection::reverse, ui));
    // A reset and a new recording meanwhile change nothing the export writes.
    session.ResetRecording();
    record(1);
    ui.release();
    exporter.Wait();
    EXPECT_EQ(exporter.last_result(), 1);
    EXPECT_EQ(read_all(ui.answer), expected({1, 2, 3}, {10, 10, 10}));
}

TEST_F(ExportTest, TheOptimizingModeGivenAtTheStartHoldsForThatExportAlone) {
    record(3);
    const Bytes plain = expected({1, 2, 3}, {10, 10, 10});
    const Bytes optimized = expected({1, 2, 3}, {10, 10, 10}, {true, Optimization::kDefaultQuality});
    ASSERT_LT(optimized.size(), plain.size()) << "the maker's optimizing mode writes a smaller GIF";

    Exporter exporter(maker);
    ui.answer = scratch.dir / "optimized.gif";
    ui.hold_dialog = true;
    ASSERT_TRUE(exporter.Start(session, ExportDirection::forward, ui, {true, Optimization::kDefaultQuality}));
    ui.wait_in_dialog();
    // The maker has not been created yet: a second start that reached it now would turn the
    // running export plain.
    EXPECT_FALSE(exporter.Start(session, ExportDirection::forward, ui));
    ui.release();
    exporter.Wait();
    EXPECT_EQ(exporter.last_result(), 1);
    EXPECT_EQ(read_all(ui.answer), optimized);

    // The maker was optimizing when reset after that save; the next start chooses again.
    ui.answer = scratch.dir / "plain.gif";
    ASSERT_TRUE(exporter.Start(session, ExportDirection::forward, ui));
    exporter.Wait();
    EXPECT_EQ(read_all(ui.answer), plain);
}

TEST(ExportArithmetic, ProgressAndWindowPlacement) {
    EXPECT_EQ(progress_position(1, 1, 100), 100);
    EXPECT_EQ(progress_position(1, 3, 100), 33);
    EXPECT_EQ(progress_position(2147483646, 2147483647, 2147483647), 2147483646);
    EXPECT_EQ(progress_position(0, 0, 100), 0);
    const platform::ScreenRect r = progress_window_rect({50, 50, 638, 479}, 247, 28);
    EXPECT_EQ(r.left, 50 + (588 - 247) / 2);
    EXPECT_EQ(r.top, 50 + (429 - 28) / 2);
    EXPECT_EQ(r.right - r.left, 247);
    EXPECT_EQ(progress_window_rect({0, 0, 10, 10}, 15, 15).left, -2);  // truncated toward zero
}

}  // namespace
}  // namespace gifanim::review
