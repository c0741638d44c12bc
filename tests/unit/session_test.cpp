#include "capture/session.h"

#include "capture/click_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/unit/file_limit.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FakeShell : RecordingShell {
    std::vector<std::string> calls;
    std::string caption, button = "录制";
    std::vector<std::string> warnings;
    bool full_screen = false, disk = false, hide = false, cursor = false;
    std::int32_t rate = 10;
    std::int64_t budget = 20ll << 20;
    platform::ScreenRect panel{10, 20, 110, 70};

    void SetCaption(const std::string& s) override { caption = s, calls.push_back("caption " + s); }
    void SetRecordButtonCaption(const std::string& s) override { button = s, calls.push_back("button " + s); }
    void RefreshToolbar() override { calls.push_back("refresh"); }
    void MinimizeFrameWindow() override { calls.push_back("minimize"); }
    void Warn(const std::string& s) override { warnings.push_back(s); }
    void StartTimer(int id, std::int32_t ms) override {
        calls.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
    }
    void StopTimer(int id) override { calls.push_back("stop " + std::to_string(id)); }
    bool FullScreenChecked() const override { return full_screen; }
    platform::ScreenRect CapturePanelRect() const override { return panel; }
    Size ScreenSize() const override { return {1920, 1080}; }
    std::int32_t FrameRate() const override { return rate; }
    std::int64_t MemoryBudgetBytes() const override { return budget; }
    bool DiskStorage() const override { return disk; }
    bool FullScreenHide() const override { return hide; }
    bool RecordCursor() const override { return cursor; }
};

// The "screen" is one number; its frame image is `size` bytes that start with that number.
struct FakeGrabber : FrameGrabber {
    int screen = 1;
    std::size_t size = 100;
    bool fail = false;
    int encodes = 0;
    std::vector<platform::ScreenRect> rects;

    bool Grab(const platform::ScreenRect& rect, bool, platform::ScreenPixels& pixels) override {
        rects.push_back(rect);
        pixels.bits_per_pixel = 32;
        pixels.data.assign(8, static_cast<std::uint8_t>(screen));
        return !fail;
    }
    Bytes Encode(platform::ScreenPixels& pixels) override {
        ++encodes;
        Bytes b(size, 0xAB);
        b[0] = pixels.data[0];
        return b;
    }
};

Bytes frame_of(int screen, std::size_t size) {
    Bytes b(size, 0xAB);
    b[0] = static_cast<std::uint8_t>(screen);
    return b;
}

class SessionTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"session-"};
    FakeShell shell;
    FakeGrabber grabber;
    RecordingSession session{shell, grabber};
    FrameStore& store = session.store();

    void SetUp() override { ASSERT_TRUE(store.Open(scratch.dir)); }

    // Ticks showing these screens in turn.
    void ticks(std::initializer_list<int> screens) {
        for (int s : screens) {
            grabber.screen = s;
            session.CaptureTick();
        }
    }
    std::vector<int> screens_in_order() const {
        std::vector<int> out;
        for (std::int32_t i = 1; i <= store.count(); ++i) {
            const FrameImage f = store.FrameAt(i);
            out.push_back(f && !f->empty() ? (*f)[0] : -1);
        }
        return out;
    }
    std::vector<int> delays() const {
        std::vector<int> out;
        for (const FrameInfo& info : store.Infos()) out.push_back(info.DelayTime);
        return out;
    }
};

TEST_F(SessionTest, StillScreensMergeIntoTheLastFrameAtFifteenAndThreeFramesPerSecond) {
    shell.rate = 15;
    ASSERT_TRUE(session.StartRecording());
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"start 1001 66", "button 停止"}));
    EXPECT_EQ(store.timer_interval(), 66);
    ticks({1, 1, 1});
    EXPECT_EQ(store.count(), 1);
    EXPECT_EQ(delays(), std::vector<int>{18});
    EXPECT_EQ(store.BytesUsed(), 100);
    EXPECT_EQ(shell.caption, "当前帧数:1  延时:18");
    // The same pixels are not encoded again.
    EXPECT_EQ(grabber.encodes, 1);
    EXPECT_EQ(session.unencoded_ticks(), 2u);

    const FrameInfo& info = store.Infos()[0];
    EXPECT_EQ(info.Width, 100);
    EXPECT_EQ(info.Depth, 50);
    EXPECT_EQ(info.DisposalMethod, 3);
    EXPECT_EQ(info.Left, 0);

    session.ResetRecording();
    shell.rate = 3;
    ASSERT_TRUE(session.StartRecording());
    ticks({2, 2, 2, 2, 2, 2, 2, 2, 2, 2});
    EXPECT_EQ(delays(), std::vector<int>{330});
    EXPECT_EQ(shell.caption, "当前帧数:1  延时:330");
}

TEST_F(SessionTest, StopThenStartContinuesTheFrames) {
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2});
    shell.calls.clear();
    session.StopRecording();
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"button 录制", "stop 1001", "refresh"}));
    EXPECT_FALSE(session.recording());
    ASSERT_TRUE(session.StartRecording());
    ticks({3});
    EXPECT_EQ(shell.caption, "当前帧数:3  延时:10");
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3}));
}

TEST_F(SessionTest, FullScreenTakesTheScreenAndMinimisesWhenAsked) {
    shell.full_screen = true;
    shell.hide = true;
    ASSERT_TRUE(session.StartRecording());
    EXPECT_EQ(shell.calls.front(), "minimize");
    ticks({1});
    ASSERT_EQ(grabber.rects.size(), 1u);
    EXPECT_EQ(grabber.rects[0].right, 1920);
    EXPECT_EQ(grabber.rects[0].bottom, 1080);
    // Window mode follows the panel from the next tick on; the export keeps the start's rectangle.
    shell.full_screen = false;
    shell.panel = {5, 5, 45, 35};
    ticks({2});
    EXPECT_EQ(grabber.rects[1].right, 45);
    EXPECT_EQ(store.Infos()[1].Width, 40);
    EXPECT_EQ(store.capture_rect().right, 1920);
}

TEST_F(SessionTest, FramesPastTheBudgetGoToDiskAndStayThereUntilReset) {
    shell.budget = 1 << 20;
    grabber.size = 300000;
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2, 3, 4, 5});
    EXPECT_EQ(store.MemoryFrames(), 3);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 2);
    EXPECT_EQ(*store.FrameAt(4), frame_of(4, 300000));
    // The spill file holds every frame, those kept in memory too.
    EXPECT_EQ(*store.DiskFrames().read(3), frame_of(4, 300000));
    EXPECT_EQ(store.BytesUsed(), 1500000);

    // Neither a bigger budget nor memory storage brings later frames back before the disk ones.
    shell.budget = 1ll << 40;
    ticks({6});
    EXPECT_EQ(store.MemoryFrames(), 3);
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3, 4, 5, 6}));

    session.ResetRecording();
    ticks({7});
    EXPECT_EQ(store.MemoryFrames(), 1);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 0);
}

TEST_F(SessionTest, DiskStorageKeepsNothingInMemoryAndTheSwitchBackKeepsTheOrder) {
    shell.disk = true;
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2});
    shell.disk = false;
    ticks({3});
    EXPECT_EQ(store.MemoryFrames(), 0);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 3);
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3}));
}

TEST_F(SessionTest, BudgetsAndByteCountsBeyondThirtyTwoBitsDoNotWrap) {
    shell.budget = 4096ll << 20;
    ASSERT_TRUE(session.StartRecording());
    store.set_bytes_used(3ll << 30);
    ticks({1});
    EXPECT_EQ(store.MemoryFrames(), 1);
    EXPECT_EQ(store.BytesUsed(), (3ll << 30) + 100);
    store.set_bytes_used((4096ll << 20) - 50);
    ticks({2, 3});
    EXPECT_EQ(store.MemoryFrames(), 1);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 2);
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3}));
}

TEST_F(SessionTest, AMergeThatWouldPassTheLongestDelayStartsANewFrameOfTheSameBytes) {
    shell.rate = 3;
    ASSERT_TRUE(session.StartRecording());
    ticks({1});
    store.SetLastDelay(32730);
    ticks({1});
    EXPECT_EQ(delays(), std::vector<int>{32763});
    ticks({1});
    EXPECT_EQ(delays(), (std::vector<int>{32763, 33}));
    EXPECT_EQ(store.FrameAt(1), store.FrameAt(2));  // one copy of the bytes, shared
    EXPECT_EQ(store.BytesUsed(), 200);
    EXPECT_EQ(shell.caption, "当前帧数:2  延时:33");
}

TEST_F(SessionTest, FailedGrabsStoreOneEmptyFrameAndMergeTheRest) {
    ASSERT_TRUE(session.StartRecording());
    grabber.fail = true;
    ticks({1, 1});
    EXPECT_EQ(store.count(), 1);
    EXPECT_TRUE(store.FrameAt(1)->empty());
    EXPECT_EQ(delays(), std::vector<int>{20});
    grabber.fail = false;
    ticks({1});
    EXPECT_EQ(store.count(), 2);
}

TEST_F(SessionTest, ResetDuringARecordingStopsItAndEmptiesBothParts) {
    shell.budget = 150;
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2, 3});
    shell.calls.clear();
    session.ResetRecording();
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"button 录制", "stop 1001", "caption 当前帧数:0", "refresh"}));
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 0);
    EXPECT_EQ(store.BytesUsed(), 0);
    EXPECT_FALSE(session.recording());
    // LastFrame stays, but with no frame left a repeat of it is stored, not merged.
    ticks({3});
    EXPECT_EQ(store.count(), 1);
}

TEST_F(SessionTest, ReplaceFramesKeepsMemoryUpToTheOldCountAndPutsTheRestOnDisk) {
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_EQ(store.MemoryFrames(), 8);
    auto replace = [&](std::vector<int> screens) {
        std::vector<FrameImage> images;
        std::vector<FrameInfo> infos;
        for (int s : screens) {
            images.push_back(std::make_shared<const Bytes>(frame_of(s, 10)));
            infos.emplace_back().DelayTime = static_cast<std::int16_t>(s);
        }
        session.ReplaceFrames(images, infos);
        EXPECT_EQ(screens_in_order(), screens);
        EXPECT_EQ(delays(), screens);
    };
    replace({2, 4, 6, 7, 8});
    EXPECT_EQ(store.MemoryFrames(), 5);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 0);
    EXPECT_EQ(shell.caption, "当前帧数:5");

    session.ResetRecording();
    ticks({1, 2, 3, 4, 5, 6, 7, 8});
    replace({11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
    EXPECT_EQ(store.MemoryFrames(), 8);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 2);
    EXPECT_EQ(store.BytesUsed(), 800);  // untouched
}

TEST_F(SessionTest, AFrameRateOfZeroDoesNotStart) {
    shell.rate = 0;
    EXPECT_FALSE(session.StartRecording());
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(shell.warnings, std::vector<std::string>{kBadFrameRateText});
    EXPECT_FALSE(session.recording());
}

TEST_F(SessionTest, SnapshotsKeepTheirFramesThroughResetAndReplace) {
    shell.budget = 250;
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2, 3, 4});
    const FrameStoreSnapshot before = store.Snapshot();
    session.ResetRecording();
    ticks({9, 8, 7});
    const FrameImage one = std::make_shared<const Bytes>(frame_of(5, 10));
    session.ReplaceFrames(std::vector<FrameImage>{one, one, one, one}, std::vector<FrameInfo>(4));
    ASSERT_EQ(before.count(), 4u);
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_EQ(*before.FrameAt(i), frame_of(static_cast<int>(i), 100)) << i;
    EXPECT_EQ(before.Infos().size(), 4u);
}

TEST_F(SessionTest, APauseStopsTheTimerAndNoDelayHoldsIt) {
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2});
    session.PauseRecording();
    EXPECT_EQ(shell.calls.back(), "caption 已暂停  当前帧数:2");
    EXPECT_EQ(shell.calls[shell.calls.size() - 2], "stop 1001");
    ticks({2, 2, 3});  // ticks queued before the pause took effect
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.Infos().back().DelayTime, 10);
    session.ResumeRecording();
    EXPECT_NE(std::find(shell.calls.begin(), shell.calls.end(), "start 1001 100"), shell.calls.end());
    ticks({2, 3});
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(store.Infos()[1].DelayTime, 20);
    session.PauseRecording();
    session.StopRecording();
    EXPECT_FALSE(session.paused() || session.recording());
}

TEST_F(SessionTest, WithShowClicksAPressedButtonPutsARingAroundThePointerIntoTheFrame) {
    struct ClickingGrabber : FakeGrabber {
        platform::PointerState pointer;
        Bytes seen;
        bool Pointer(platform::PointerState& out) override {
            out = pointer;
            return true;
        }
        Bytes Encode(platform::ScreenPixels& pixels) override {
            seen = pixels.data;
            return FakeGrabber::Encode(pixels);
        }
    };
    struct ClickShell : FakeShell {
        bool ShowClicks() const override { return true; }
    } clicks;
    clicks.panel = {0, 0, 2, 1};
    ClickingGrabber pointer_grabber;
    RecordingSession s(clicks, pointer_grabber);
    ASSERT_TRUE(s.StartRecording());
    // The fake's 8 bytes are two 32-bit pixels; the pointer 17 pixels left of the first one puts
    // it on the left button's ring, 17 pixels away, and the second pixel inside the ring's hole.
    pointer_grabber.pointer = {-17, 0, true, false};
    s.CaptureTick();
    ASSERT_EQ(pointer_grabber.seen.size(), 8u);
    EXPECT_EQ(pointer_grabber.seen[0], kLeftClickColour[2]);
    EXPECT_EQ(pointer_grabber.seen[1], kLeftClickColour[1]);
    EXPECT_EQ(pointer_grabber.seen[2], kLeftClickColour[0]);
    pointer_grabber.pointer = {-17, 0, false, true};
    pointer_grabber.screen = 2;
    s.CaptureTick();
    EXPECT_EQ(pointer_grabber.seen[0], kRightClickColour[2]);
    // No button down: the grab as it was.
    pointer_grabber.pointer.right = false;
    pointer_grabber.screen = 3;
    s.CaptureTick();
    EXPECT_EQ(pointer_grabber.seen, Bytes(8, 3));
}

#ifndef _WIN32
TEST_F(SessionTest, AFailedDiskWriteKeepsTheFrameInMemoryAtItsPlaceAndWarnsOnce) {
    shell.budget = 0;
    ASSERT_TRUE(session.StartRecording());
    ticks({1, 2});
    {
        test::WritesRefusedPastEnd refuse(store.DiskFrames().path(), 20);
        ticks({3, 4});
    }
    ticks({5});
    EXPECT_EQ(screens_in_order(), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(store.Infos().size(), 5u);
    EXPECT_EQ(store.MemoryFrames(), 2);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 3);
    EXPECT_EQ(shell.warnings, std::vector<std::string>{kDiskWriteFailedText});
}
#endif

}  // namespace
}  // namespace gifanim::capture
