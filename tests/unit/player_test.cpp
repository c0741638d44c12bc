#include "review/player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/recorded_frames.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::review {
namespace {

struct FakePlayerPort : PlayerPort {
    std::string caption;
    std::vector<std::string> buttons{"正序", "倒序", "暂停", "保存"};
    std::vector<int> shown;  // frame numbers, in the order shown
    bool timer = false;
    std::int32_t period = 0;
    int timer_starts = 0;
    platform::ScreenRect window{0, 0, 364, 333};
    platform::ScreenRect canvas;
    bool visible = false;
    int save_popups = 0;
    std::vector<ExportDirection> exports;
    platform::ScreenRect work_area{0, 0, 1280, 1024};

    void SetCaption(const std::string& s) override { caption = s; }
    std::string ButtonCaption(int i) const override { return buttons.at(static_cast<std::size_t>(i)); }
    void SetButtonCaption(int i, const std::string& s) override { buttons.at(static_cast<std::size_t>(i)) = s; }
    void StartTimer(int id, std::int32_t ms) override {
        EXPECT_EQ(id, kPlaybackTimerId);
        // A second start of a running timer would leave two running.
        EXPECT_FALSE(timer) << "timer started twice";
        timer = true;
        period = ms;
        ++timer_starts;
    }
    void StopTimer(int id) override {
        EXPECT_EQ(id, kPlaybackTimerId);
        timer = false;
    }
    void ShowFrame(const capture::FrameImage& image) override { shown.push_back(test::frame_number(image)); }
    platform::ScreenRect WindowRect() const override { return window; }
    void MoveWindow(int l, int t, int w, int h) override { window = {l, t, l + w, t + h}; }
    platform::ScreenRect WorkArea(const platform::ScreenRect&) const override { return work_area; }
    void MoveCanvas(int l, int t, int w, int h) override { canvas = {l, t, l + w, t + h}; }
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    void ShowSavePopup() override { ++save_popups; }
    void StartExport(ExportDirection d) override { exports.push_back(d); }
};

class PlayerTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"player-"};
    capture::FrameStore store;
    FakePlayerPort port;
    PreviewPlayer player{store, port};

    void SetUp() override {
        ASSERT_TRUE(store.Open(scratch.dir));
        store.set_timer_interval(66);
    }
    void click(const std::string& caption) {
        for (std::size_t i = 0; i < port.buttons.size(); ++i) {
            if (port.buttons[i] == caption) return player.ToolbarClick(static_cast<int>(i));
        }
        FAIL() << "no button " << caption;
    }
    // Ticks while the timer runs, at most `limit` times.
    void run(int limit = 100) {
        for (int i = 0; i < limit && port.timer; ++i) player.Tick();
    }
};

TEST_F(PlayerTest, PlaysEveryFrameOnceAcrossTheMemoryAndDiskPartsInBothDirections) {
    test::record_frames(store, 3, 4);
    click("正序");
    EXPECT_EQ(port.period, 66);
    player.Tick();
    EXPECT_EQ(port.caption, "一共有7帧     当前播放第1帧");
    run();
    EXPECT_EQ(port.shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(port.caption, "一共有7帧     当前播放第7帧,已播放完毕");

    port.shown.clear();
    click("倒序");
    run();
    EXPECT_EQ(port.shown, (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(port.caption, "一共有7帧     当前播放第1帧,已播放完毕");
    EXPECT_FALSE(port.timer);
}

TEST_F(PlayerTest, PauseAndContinueResumeAtTheNextFrameAndContinueAfterTheEndTicksOnce) {
    test::record_frames(store, 1, 3);
    click("正序");
    player.Tick();
    player.Tick();
    click("暂停");
    EXPECT_EQ(port.buttons[2], "继续");
    EXPECT_FALSE(port.timer);
    click("继续");
    EXPECT_EQ(port.buttons[2], "暂停");
    run();
    EXPECT_EQ(port.shown, (std::vector<int>{1, 2, 3, 4}));

    // The run is over; 继续 gives one more tick past the end, which names the next position.
    click("暂停");
    click("继续");
    run();
    EXPECT_EQ(port.caption, "一共有4帧     当前播放第5帧,已播放完毕");
    EXPECT_EQ(port.shown.size(), 4u);
}

TEST_F(PlayerTest, ARestartWhilePlayingRunsOneTimerFromTheOtherEnd) {
    test::record_frames(store, 2, 2);
    click("倒序");
    player.Tick();
    player.Tick();
    click("正序");  // the fake fails if this starts a second timer
    EXPECT_TRUE(port.timer);
    run();
    EXPECT_EQ(port.shown, (std::vector<int>{4, 3, 1, 2, 3, 4}));
    EXPECT_EQ(port.timer_starts, 2);
}

TEST_F(PlayerTest, AnEmptyStoreEndsAtTheFirstTickNamingFrameZeroOrOne) {
    click("正序");
    EXPECT_TRUE(port.timer);
    player.Tick();
    EXPECT_EQ(port.caption, "一共有0帧     当前播放第0帧,已播放完毕");
    click("倒序");
    player.Tick();
    EXPECT_EQ(port.caption, "一共有0帧     当前播放第1帧,已播放完毕");
    EXPECT_TRUE(port.shown.empty());
    EXPECT_FALSE(port.timer);
}

TEST_F(PlayerTest, TheCountIsTakenAtEveryTick) {
    test::record_frames(store, 2, 0);
    click("正序");
    player.Tick();
    test::record_frames(store, 0, 1, 3);
    run();
    EXPECT_EQ(port.shown, (std::vector<int>{1, 2, 3}));

    click("正序");
    player.Tick();
    store.Clear();
    player.Tick();
    EXPECT_EQ(port.caption, "一共有0帧     当前播放第1帧,已播放完毕");
    EXPECT_FALSE(port.timer);
}

std::vector<int> ltrb(const platform::ScreenRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

TEST_F(PlayerTest, PrepareCentresThenTakesTheFrameWindowsSizeAndCloseStopsWithoutResumingLater) {
    test::record_frames(store, 3, 0);
    // A frame window smaller than the preview: the offsets are negative and truncated toward zero.
    player.Prepare({100, 50, 100 + 301, 50 + 300}, {0, 40, 301, 260});
    EXPECT_EQ(ltrb(port.window), (std::vector<int>{69, 34, 69 + 301, 34 + 300}));
    EXPECT_EQ(ltrb(port.canvas), (std::vector<int>{0, 40, 301, 260}));
    EXPECT_EQ(port.caption, "一共有3帧");
    EXPECT_TRUE(port.visible);
    player.Resize(500, 400, 40);
    EXPECT_EQ(ltrb(port.canvas), (std::vector<int>{0, 40, 500, 400}));

    click("正序");
    player.Tick();
    EXPECT_FALSE(player.RequestClose());
    EXPECT_FALSE(port.visible);
    EXPECT_FALSE(port.timer);
    player.Prepare({0, 0, 588, 429}, {0, 40, 588, 429});
    EXPECT_EQ(port.caption, "一共有3帧");
    EXPECT_FALSE(port.timer);

    click("保存");
    EXPECT_EQ(port.exports, std::vector<ExportDirection>{ExportDirection::forward});
    for (int i = 0; i < 3; ++i) player.ToolbarDropDown(i);
    EXPECT_EQ(port.save_popups, 0);
    player.ToolbarDropDown(player_button::save);
    EXPECT_EQ(port.save_popups, 1);
}

TEST_F(PlayerTest, PrepareMovesThePreviewWithTheFrameWindowsSizeInsideTheWorkArea) {
    test::record_frames(store, 1, 0);
    // Centred with its own 364 x 333 the preview would fit; with the frame window's size it would
    // pass the work area's right and bottom edges.
    port.work_area = {0, 0, 1280, 984};
    player.Prepare({1000, 800, 1000 + 588, 800 + 429}, {0, 40, 588, 429});
    EXPECT_EQ(ltrb(port.window), (std::vector<int>{1280 - 588, 984 - 429, 1280, 984}));
    // A monitor left of the primary one, at negative coordinates.
    port.window = {0, 0, 364, 333};
    port.work_area = {-1024, 0, 0, 768};
    player.Prepare({-1100, -40, -1100 + 301, -40 + 300}, {0, 40, 301, 260});
    EXPECT_EQ(ltrb(port.window), (std::vector<int>{-1024, 0, -1024 + 301, 300}));
}

}  // namespace
}  // namespace gifanim::review
