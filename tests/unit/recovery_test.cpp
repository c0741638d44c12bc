// Recordings that outlive their process: what a later process finds in the spill file after the
// recorder died, at every stage of a recording's life.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/recording_journal.h"
#include "capture/session.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

FrameImage image_of(int screen, std::size_t size = 100) {
    Bytes b(size, 0xAB);
    b[0] = static_cast<std::uint8_t>(screen);
    return std::make_shared<const Bytes>(std::move(b));
}

FrameInfo info_of(std::int16_t delay) {
    FrameInfo info;
    info.DelayTime = delay;
    info.Width = 40;
    info.Depth = 30;
    info.DisposalMethod = 3;
    return info;
}

class RecoveryTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"recovery-"};
    FrameStore store;

    void SetUp() override {
        ASSERT_TRUE(store.Open(scratch.dir));
        store.set_capture_rect({10, 20, 50, 50});
        store.set_timer_interval(100);
    }
    // Frames 1..n with delays 10, 20, ..., the first `in_memory` of them in memory.
    void record(int n, int in_memory) {
        for (int i = 1; i <= n; ++i)
            store.Append(image_of(i), info_of(static_cast<std::int16_t>(10 * i)), i > in_memory);
    }
    // What the recorder leaves when its process dies: the file as it is, closed but not deleted.
    std::filesystem::path die() {
        const std::filesystem::path path = store.DiskFrames().path();
        store.Release();
        return path;
    }
    static std::vector<int> screens(const FrameStore& s) {
        std::vector<int> out;
        for (std::int32_t i = 1; i <= s.count(); ++i) {
            const FrameImage image = s.FrameAt(i);
            out.push_back(image && !image->empty() ? (*image)[0] : -1);
        }
        return out;
    }
    static std::vector<int> delays(const FrameStore& s) {
        std::vector<int> out;
        for (const FrameInfo& info : s.Infos()) out.push_back(info.DelayTime);
        return out;
    }
};

TEST_F(RecoveryTest, EveryFrameWithItsLatestDelayComesBackWhetherItWasInMemoryOrOnDisk) {
    record(5, 2);
    store.SetLastDelay(77);
    const std::filesystem::path path = die();

    const auto left = journal::find_left_recordings(scratch.dir);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].path, path);
    EXPECT_EQ(left[0].frames, 5u);
    EXPECT_EQ(left[0].duration_cs, 10 + 20 + 30 + 40 + 77);
    EXPECT_EQ(left[0].capture_rect.right, 50);

    FrameStore again;
    ASSERT_TRUE(again.Adopt(path));
    EXPECT_EQ(screens(again), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(delays(again), (std::vector<int>{10, 20, 30, 40, 77}));
    EXPECT_EQ(again.Infos()[0].Width, 40);
    EXPECT_EQ(again.timer_interval(), 100);
    EXPECT_EQ(again.capture_rect().top, 20);
    // The adopted recording goes on: a later frame follows it, and survives another death.
    again.Append(image_of(6), info_of(60), false);
    const std::filesystem::path same = again.DiskFrames().path();
    again.Release();
    FrameStore third;
    ASSERT_TRUE(third.Adopt(same));
    EXPECT_EQ(screens(third), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST_F(RecoveryTest, ATornTailIsCutAtTheLastWholeRecordAndNothingBeforeItIsLost) {
    record(4, 1);
    const std::filesystem::path path = die();
    const auto size = std::filesystem::file_size(path);
    for (const std::uintmax_t cut : {std::uintmax_t{1}, std::uintmax_t{60}}) {
        // A copy cut inside the last frame's record (its image or the note that follows it).
        const std::filesystem::path torn = scratch.dir / ("a" + std::to_string(cut) + ".tmp");
        std::filesystem::copy_file(path, torn);
        std::filesystem::resize_file(torn, size - cut);
        FrameStore found;
        ASSERT_TRUE(found.Adopt(torn)) << cut;
        EXPECT_EQ(screens(found), (std::vector<int>{1, 2, 3})) << cut;
        found.Append(image_of(9), info_of(90), true);
        EXPECT_EQ(screens(found), (std::vector<int>{1, 2, 3, 9})) << cut;
        found.Close();
    }
    // Garbage after the last whole record is cut off, not read as records.
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(100, '\x5A');
    FrameStore found;
    ASSERT_TRUE(found.Adopt(path));
    EXPECT_EQ(screens(found), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(std::filesystem::file_size(path), size);
}

TEST_F(RecoveryTest, TheEditorsChangesAndClearingAreWhatIsFound) {
    record(5, 3);
    ASSERT_TRUE(
        store.Keep(std::vector<std::int32_t>{2, 4, 5}, std::vector<FrameInfo>{info_of(1), info_of(2), info_of(3)}));
    std::filesystem::path path = die();
    FrameStore kept;
    ASSERT_TRUE(kept.Adopt(path));
    EXPECT_EQ(screens(kept), (std::vector<int>{2, 4, 5}));
    EXPECT_EQ(delays(kept), (std::vector<int>{1, 2, 3}));
    // Only the new file is left: the old one went once the kept frames were copied.
    EXPECT_EQ(journal::find_left_recordings(scratch.dir).size(), 0u);  // kept holds it now

    kept.Replace(std::vector<FrameImage>{image_of(7), image_of(8)}, std::vector<FrameInfo>{info_of(4), info_of(5)});
    path = kept.DiskFrames().path();
    kept.Release();
    ASSERT_EQ(journal::find_left_recordings(scratch.dir).size(), 1u);
    FrameStore replaced;
    ASSERT_TRUE(replaced.Adopt(path));
    EXPECT_EQ(screens(replaced), (std::vector<int>{7, 8}));

    // An emptied recording leaves nothing to offer, and its file is deleted when found.
    replaced.Clear();
    path = replaced.DiskFrames().path();
    replaced.Release();
    EXPECT_TRUE(journal::find_left_recordings(scratch.dir).empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RecoveryTest, ARunningRecordersFileAndFilesNotOursAreNeverTaken) {
    record(2, 2);
    // Still open here: its owner runs.
    EXPECT_TRUE(journal::find_left_recordings(scratch.dir).empty());
    FrameStore other;
    EXPECT_FALSE(other.Adopt(store.DiskFrames().path()));
    EXPECT_EQ(store.count(), 2);
    EXPECT_TRUE(std::filesystem::exists(store.DiskFrames().path()));

    // A file of another kind under a spill file's name stays as it is; so does one others may write.
    const std::filesystem::path stranger = scratch.dir / "abc.tmp";
    std::ofstream(stranger, std::ios::binary) << std::string(64, 'x');
    std::filesystem::permissions(stranger, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::filesystem::path path = die();
#ifndef _WIN32
    std::filesystem::permissions(path, std::filesystem::perms::group_write, std::filesystem::perm_options::add);
    EXPECT_TRUE(journal::find_left_recordings(scratch.dir).empty());
    std::filesystem::permissions(path, std::filesystem::perms::group_write, std::filesystem::perm_options::remove);
#endif
    EXPECT_EQ(journal::find_left_recordings(scratch.dir).size(), 1u);
    EXPECT_FALSE(other.Adopt(stranger));
    EXPECT_EQ(std::filesystem::file_size(stranger), 64u);
}

TEST(RecoveryJournal, NotesThatCannotBeReadArePassedOver) {
    journal::Replay replay;
    replay.note(0, journal::head_note(false));
    replay.note(1, journal::frame_note(FrameInfo{}));
    const Bytes note = journal::info_note(1, FrameInfo{});
    for (std::size_t cut = 0; cut < note.size(); ++cut) replay.note(1, std::span(note).first(cut));
    replay.note(1, journal::info_note(5, FrameInfo{}));  // no frame 5
    replay.note(1, journal::frame_note(FrameInfo{}));    // image 0 is frame 1's already
    replay.note(1, Bytes{99, 1, 2});                     // a kind a later version writes
    ASSERT_TRUE(replay.complete());
    EXPECT_EQ(replay.records(), (std::vector<std::size_t>{0}));
    // A head that is not the file's first record does not make the file a journal.
    journal::Replay late;
    late.note(1, journal::head_note(false));
    EXPECT_FALSE(late.ours());
}

}  // namespace
}  // namespace gifanim::capture
