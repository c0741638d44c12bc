#include "review/editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/quiet_recording_shell.h"
#include "tests/unit/recorded_frames.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::review {
namespace {

using test::delays;
using test::stored_numbers;
using Ints = std::vector<int>;

struct FakeEditorPort : EditorPort {
    std::string caption;
    platform::ScreenRect window{0, 0, kEditorDesignedWidth, kEditorDesignedHeight};
    platform::ScreenRect track;
    int knob_left = 0, knob_top = 0;
    bool captured = false;
    int delete_popups = 0;
    std::vector<int> viewer_frames;
    std::string viewer_caption;
    std::vector<Answer> answers;  // handed out in turn by Ask
    int asked = 0;
    std::vector<std::string> messages;
    bool destroyed = false;
    platform::ScreenRect work_area{0, 0, 1280, 1024};
    mutable platform::ScreenRect work_area_near;

    void SetCaption(const std::string& s) override { caption = s; }
    platform::ScreenRect WindowRect() const override { return window; }
    void MoveWindow(int l, int t, int w, int h) override { window = {l, t, l + w, t + h}; }
    platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const override {
        work_area_near = rect;
        return work_area;
    }
    void MoveTrack(int l, int t, int w, int h) override { track = {l, t, l + w, t + h}; }
    void MoveKnob(int l, int t) override { knob_left = l, knob_top = t; }
    void StripChanged() override {}
    void CaptureMouse() override { captured = true; }
    void ReleaseMouse() override { captured = false; }
    void ShowDeletePopup() override { ++delete_popups; }
    void ShowViewer(const capture::FrameImage& image, const std::string& s) override {
        viewer_frames.push_back(test::frame_number(image));
        viewer_caption = s;
    }
    Answer Ask(const std::string& text, const std::string& title, int flags) override {
        EXPECT_EQ(text, kSavePromptText);
        EXPECT_EQ(title, "Zovaro提示您：");
        EXPECT_EQ(flags, 67);
        return answers.at(static_cast<std::size_t>(asked++));
    }
    void ShowMessage(const std::string& text, const std::string&) override { messages.push_back(text); }
    void Destroy() override { destroyed = true; }
};

class EditorTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"editor-"};
    test::QuietRecordingShell shell;
    test::NoScreenGrabber grabber;
    capture::RecordingSession session{shell, grabber};
    capture::FrameStore& store = session.store();
    FakeEditorPort port;
    FrameEditor editor{session, port};
    const platform::ScreenRect frame_window{10, 20, 10 + 588, 20 + 429};

    void SetUp() override { ASSERT_TRUE(store.Open(scratch.dir)); }

    void open(int memory, int disk) {
        test::record_frames(store, memory, disk);
        editor.Open(frame_window);
    }
    // The frame number each thumbnail shows, read through the store.
    Ints thumbnails() const {
        Ints out;
        for (std::int32_t place = 1; place <= editor.count(); ++place) {
            out.push_back(test::frame_number(editor.image_at(place)));
        }
        return out;
    }
    void delete_at(int id, std::int32_t place) {
        editor.ThumbnailRightClick(place);
        editor.Command(id);
    }
};

TEST_F(EditorTest, EachDeleteAtTheFirstMiddleAndLastThumbnailKeepsFramesAndRecordsInStep) {
    struct Case {
        int id;
        std::int32_t k;
        Ints left;
    };
    const std::vector<Case> cases = {
        {editor_command::delete_current, 1, {2, 3, 4, 5, 6}},
        {editor_command::delete_current, 3, {1, 2, 4, 5, 6}},
        {editor_command::delete_current, 6, {1, 2, 3, 4, 5}},
        {editor_command::delete_to_current, 1, {2, 3, 4, 5, 6}},
        {editor_command::delete_to_current, 4, {5, 6}},
        {editor_command::delete_to_current, 6, {}},
        {editor_command::delete_from_current, 1, {}},
        {editor_command::delete_from_current, 4, {1, 2, 3}},
        {editor_command::delete_from_current, 6, {1, 2, 3, 4, 5}},
    };
    test::record_frames(store, 3, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE("command " + std::to_string(c.id) + " at " + std::to_string(c.k));
        editor.Open(frame_window);
        EXPECT_EQ(port.caption, "总帧数:6      当前剩余帧数:6");
        delete_at(c.id, c.k);
        EXPECT_EQ(thumbnails(), c.left);
        EXPECT_EQ(delays(editor.infos()), c.left);
        EXPECT_EQ(port.caption, "总帧数:6      当前剩余帧数:" + std::to_string(c.left.size()));
        EXPECT_TRUE(editor.modified());
        // The deleted thumbnail is no longer current: a second command does nothing.
        EXPECT_EQ(editor.current(), 0);
        editor.Command(c.id);
        EXPECT_EQ(editor.count(), static_cast<std::int32_t>(c.left.size()));
    }
    EXPECT_EQ(stored_numbers(store), (Ints{1, 2, 3, 4, 5, 6}));
}

TEST_F(EditorTest, TheViewerShowsTheThumbnailByItsPlaceAfterDeletes) {
    open(2, 3);
    delete_at(editor_command::delete_current, 2);
    delete_at(editor_command::delete_current, 1);
    editor.ThumbnailDoubleClick(2);
    EXPECT_EQ(port.viewer_frames, Ints{4});
    EXPECT_EQ(port.viewer_caption, "一共有3帧     当前帧: 第2帧");
    // Places outside the list are ignored rather than read.
    editor.ThumbnailDoubleClick(4);
    editor.ThumbnailRightClick(0);
    EXPECT_EQ(port.viewer_frames.size(), 1u);
    EXPECT_EQ(port.delete_popups, 2);
    EXPECT_EQ(editor.current(), 2);
}

TEST_F(EditorTest, OpeningNarrowsForFewerThanFourThumbnailsAndCentresOnTheFrameWindow) {
    const std::vector<std::pair<int, int>> widths = {{0, 406}, {1, 406}, {2, 406}, {3, 606}, {4, 806}, {5, 806}};
    // A monitor left of this one takes what overhangs the frame window's left edge.
    port.work_area = {-1280, 0, 1280, 1024};
    int recorded = 0;
    for (const auto& [count, width] : widths) {
        test::record_frames(store, count - recorded, 0, recorded + 1);
        recorded = count;
        port.window = {0, 0, kEditorDesignedWidth, kEditorDesignedHeight};
        editor.Open(frame_window);
        EXPECT_EQ(port.window.right - port.window.left, width) << count;
        EXPECT_EQ(port.window.left, 10 + (588 - width) / 2) << count;
        EXPECT_EQ(port.window.top, 20 + (429 - 332) / 2) << count;
    }
}

TEST_F(EditorTest, OpeningBesideAnEdgeOfTheWorkAreaMovesTheCentredEditorInside) {
    test::record_frames(store, 5, 0);
    // The first start's frame window at the screen's top-left corner: centred, the editor's left
    // would be (480 - 806) / 2 = -163, its buttons off the screen.
    editor.Open({0, 0, 480, 340});
    EXPECT_EQ(port.work_area_near.left, -163);
    EXPECT_EQ(port.window.left, 0);
    EXPECT_EQ(port.window.top, (340 - 332) / 2);
    EXPECT_EQ(port.window.right - port.window.left, kEditorDesignedWidth);

    // A second monitor right of the first, its taskbar along the bottom: the right and bottom
    // edges come inside it.
    port.work_area = {1280, 0, 1280 + 1024, 728};
    port.window = {0, 0, kEditorDesignedWidth, kEditorDesignedHeight};
    editor.Open({1280 + 900, 600, 1280 + 900 + 480, 600 + 340});
    EXPECT_EQ(port.window.right, 1280 + 1024);
    EXPECT_EQ(port.window.bottom, 728);
    EXPECT_EQ(port.window.right - port.window.left, kEditorDesignedWidth);
    EXPECT_EQ(port.window.bottom - port.window.top, kEditorDesignedHeight);
}

TEST_F(EditorTest, DraggingTheKnobAcrossTheTrackScrollsFiveThumbnailsByOne) {
    open(5, 0);
    editor.Resize(790, 300);
    EXPECT_EQ((Ints{port.track.left, port.track.top, port.track.right, port.track.bottom}), (Ints{10, 222, 780, 225}));
    EXPECT_EQ((Ints{port.knob_left, port.knob_top}), (Ints{10, 218}));
    // The knob's centre follows the mouse: screen x = window left + knob left + half the knob.
    const auto mouse = [&](int knob) { return port.window.left + knob + kKnobSize / 2; };

    editor.MouseMove(mouse(400));  // not dragging: nothing
    EXPECT_EQ(port.knob_left, 10);
    editor.KnobMouseDown();
    EXPECT_TRUE(port.captured);
    editor.MouseMove(mouse(-50));
    EXPECT_EQ(port.knob_left, 10);
    EXPECT_EQ(editor.strip_left(), 0);
    editor.MouseMove(mouse(390));  // p = 380 of 760
    EXPECT_EQ(editor.strip_left(), -100);
    editor.MouseMove(mouse(5000));  // stops at the track's width, 770
    EXPECT_EQ(port.knob_left, 770);
    EXPECT_EQ(editor.strip_left(), -200);
    editor.MouseUp();
    EXPECT_FALSE(port.captured);
    EXPECT_FALSE(editor.dragging());

    // A click on the track is not clamped, and scrolls by the knob's left itself.
    editor.TrackMouseDown(mouse(770));
    EXPECT_EQ(port.knob_left, 770);
    EXPECT_EQ(editor.strip_left(), -202);

    // Four thumbnails left: the strip goes back to 0 and the knob no longer scrolls it.
    delete_at(editor_command::delete_current, 5);
    EXPECT_EQ(editor.strip_left(), 0);
    editor.TrackMouseDown(mouse(500));
    EXPECT_EQ(port.knob_left, 500);
    EXPECT_EQ(editor.strip_left(), 0);
}

TEST_F(EditorTest, OnlyThumbnailsInViewAreListedWithTheirLeftEdges) {
    EXPECT_EQ(strip_left_for(100, 10, 10, 9), 0);  // a track of no length does not divide by it
    const auto places = [](std::int32_t count, std::int64_t left, std::int32_t width) {
        const PlaceRange r = visible_places(count, left, width);
        return Ints{r.first, r.last};
    };
    EXPECT_EQ(places(10, 0, 800), (Ints{1, 4}));
    EXPECT_EQ(places(10, -250, 790), (Ints{2, 6}));
    EXPECT_EQ(places(10, 300, 790), (Ints{1, 3}));
    for (const Ints& none : {places(10, -2000, 790), places(10, 800, 790), places(0, 0, 790), places(10, 0, 0)}) {
        EXPECT_GT(none[0], none[1]);
    }

    open(3, 7);
    delete_at(editor_command::delete_current, 1);
    editor.Resize(790, 300);
    editor.TrackMouseDown(port.window.left + 400 + kKnobSize / 2);  // p = 400 of 760 over (9 − 4) × 200
    ASSERT_EQ(editor.strip_left(), -526);
    const std::vector<VisibleThumbnail> seen = editor.Visible(790);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].place, 3);
    EXPECT_EQ(seen[0].left, -126);
    EXPECT_EQ(seen[0].frame, 4);
    EXPECT_EQ(seen[4].place, 7);
    EXPECT_EQ(seen[4].left, 674);
    EXPECT_NE(editor.thumbnail_key(3), editor.thumbnail_key(4));

    std::string label;
    for (const LabelRun& run : thumbnail_label(12, 6)) label += run.text;
    EXPECT_EQ(label, "第 12 帧  延时:60毫秒");
}

TEST_F(EditorTest, YesSavesTheRemainingFramesWithTheMemoryFramesFirstAndSharedNotCopied) {
    open(3, 4);
    const capture::FrameImage third = store.FrameAt(3);
    delete_at(editor_command::delete_current, 2);
    delete_at(editor_command::delete_current, 5);  // frame 6, on disk
    port.answers = {EditorPort::Answer::yes};
    EXPECT_TRUE(editor.RequestClose());
    EXPECT_EQ(stored_numbers(store), (Ints{1, 3, 4, 5, 7}));
    EXPECT_EQ(delays(store.Infos()), (Ints{1, 3, 4, 5, 7}));
    EXPECT_EQ(store.MemoryFrames(), 2);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 3);
    EXPECT_EQ(store.FrameAt(2).get(), third.get());
    EXPECT_EQ(shell.caption, "当前帧数:5");
    EXPECT_FALSE(editor.modified());
}

TEST_F(EditorTest, NoLeavesTheStoreAsItWasAndCancelKeepsEditing) {
    open(2, 2);
    const std::uint64_t generation = store.generation();
    delete_at(editor_command::delete_to_current, 3);
    port.answers = {EditorPort::Answer::cancel, EditorPort::Answer::no};
    EXPECT_FALSE(editor.RequestClose());
    EXPECT_TRUE(editor.modified());
    EXPECT_EQ(thumbnails(), Ints{4});
    EXPECT_TRUE(editor.RequestClose());
    EXPECT_EQ(editor.count(), 0);
    EXPECT_FALSE(editor.modified());
    EXPECT_EQ(stored_numbers(store), (Ints{1, 2, 3, 4}));
    EXPECT_EQ(store.generation(), generation);
    EXPECT_EQ(port.asked, 2);
}

TEST_F(EditorTest, SaveKeepsTheEditorOpenAndTheCloseBoxThenAsksNothing) {
    open(1, 3);
    delete_at(editor_command::delete_from_current, 1);
    EXPECT_TRUE(editor.Save());
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.count() - store.MemoryFrames(), 0);
    EXPECT_EQ(port.caption, "总帧数:0      当前剩余帧数:0");
    EXPECT_TRUE(editor.RequestClose());
    EXPECT_EQ(port.asked, 0);

    editor.Open(frame_window);
    editor.Cancel();
    EXPECT_TRUE(port.destroyed);
    EXPECT_EQ(port.asked, 0);
}

TEST_F(EditorTest, FramesRecordedWhileTheEditorIsOpenAreKeptAfterTheEditedOnes) {
    open(2, 2);
    delete_at(editor_command::delete_current, 1);
    test::record_frames(store, 0, 2, 5);
    store.SetLastDelay(60);  // a still screen lengthened the newest frame
    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(stored_numbers(store), (Ints{2, 3, 4, 5, 6}));
    EXPECT_EQ(delays(store.Infos()), (Ints{2, 3, 4, 5, 60}));
    EXPECT_EQ(thumbnails(), (Ints{2, 3, 4}));

    // A second save works on the saved store.
    delete_at(editor_command::delete_current, 1);
    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(stored_numbers(store), (Ints{3, 4, 5, 6}));
}

TEST_F(EditorTest, EditsOfAStoreEmptiedMeanwhileAreNotSavedOverTheNewFrames) {
    open(2, 2);
    delete_at(editor_command::delete_current, 1);
    store.Clear();
    test::record_frames(store, 1, 1, 50);
    EXPECT_EQ(editor.image_at(1), nullptr);
    port.answers = {EditorPort::Answer::yes};
    EXPECT_FALSE(editor.RequestClose());
    EXPECT_EQ(port.messages, std::vector<std::string>{kEditsOutdatedText});
    EXPECT_EQ(stored_numbers(store), (Ints{50, 51}));
    // The editor now shows the store as it is.
    EXPECT_EQ(thumbnails(), (Ints{50, 51}));
    EXPECT_FALSE(editor.modified());
}

class SessionKeepFramesTest : public EditorTest {};

TEST_F(SessionKeepFramesTest, RefusesBadPositionsAndLeavesASnapshotReadingTheOldFrames) {
    test::record_frames(store, 2, 3);
    const std::uint64_t generation = store.generation();
    const std::vector<FrameInfo> two(2);
    EXPECT_FALSE(session.KeepFrames(std::vector<std::int32_t>{1, 6}, two));
    EXPECT_FALSE(session.KeepFrames(std::vector<std::int32_t>{0, 1}, two));
    EXPECT_FALSE(session.KeepFrames(std::vector<std::int32_t>{1}, two));
    EXPECT_FALSE(session.KeepFrames(std::vector<std::int32_t>{5, 1}, two));
    EXPECT_FALSE(session.KeepFrames(std::vector<std::int32_t>{2, 2}, two));
    EXPECT_EQ(stored_numbers(store), (Ints{1, 2, 3, 4, 5}));
    EXPECT_EQ(store.generation(), generation);
    EXPECT_TRUE(shell.caption.empty());

    const capture::FrameStoreSnapshot before = store.Snapshot();
    ASSERT_TRUE(session.KeepFrames(std::vector<std::int32_t>{1, 5}, two));
    EXPECT_EQ(stored_numbers(store), (Ints{1, 5}));
    EXPECT_EQ(store.MemoryFrames(), 1);
    EXPECT_EQ(shell.caption, "当前帧数:2");
    EXPECT_NE(store.generation(), generation);
    for (std::size_t i = 1; i <= 5; ++i) EXPECT_EQ(test::frame_number(before.FrameAt(i)), static_cast<int>(i));
    // A disk frame is still kept on disk, so later frames follow it there.
    EXPECT_TRUE(store.spilled());
}

// Every grab encodes to frame 3's bytes.
struct FrameThreeGrabber : capture::FrameGrabber {
    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& pixels) override {
        pixels.bits_per_pixel = 24;
        pixels.data.assign(3, 0);
        return true;
    }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels&) override { return *test::numbered_frame(3); }
};

TEST(SessionKeepFrames, AGrabEqualToADeletedLastFrameIsStoredRatherThanMergedIntoAnother) {
    test::ScratchDir scratch("keep-");
    test::QuietRecordingShell shell;
    FrameThreeGrabber grabber;
    capture::RecordingSession session(shell, grabber);
    ASSERT_TRUE(session.store().Open(scratch.dir));
    test::record_frames(session.store(), 1, 2);
    ASSERT_TRUE(session.KeepFrames(std::vector<std::int32_t>{1, 2}, std::vector<FrameInfo>(2)));
    ASSERT_TRUE(session.StartRecording());
    session.CaptureTick();
    session.CaptureTick();  // the same again: this one lengthens the new last frame
    EXPECT_EQ(stored_numbers(session.store()), (Ints{1, 2, 3}));
    EXPECT_EQ(session.store().Infos().back().DelayTime, 20);
}

}  // namespace
}  // namespace gifanim::review
