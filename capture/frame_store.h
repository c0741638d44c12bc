#pragma once
// The recording: every frame image captured since the last reset, each with its FrameInfo, held
// in memory up to a budget and read from the spill file after that. Whatever the budget, every
// frame and every change to the recording is also written to the spill file as it happens, and
// flushed to the disk about once a second, so that a process that finds the file after this one
// died rebuilds the recording as it was (see capture/recording_journal.h).
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "capture/frame_record_file.h"
#include "gif/records.h"
#include "platform/screen.h"

namespace gifanim::capture {

inline constexpr std::size_t kNoRecord = std::numeric_limits<std::size_t>::max();

// Where one frame's bytes are read from: memory, or a record of the spill file.
struct FrameSlot {
    FrameImage memory;               // null when the frame is read from disk
    std::size_t record = kNoRecord;  // the spill file's record; kNoRecord when its write failed
};

// Writes the recording's notes, and the images of the frames kept in memory, to the spill file on
// a thread of its own, in the order they were given, and flushes the file to the disk about once
// a second after a write: the record tick never waits for the disk.
class JournalWriter {
public:
    JournalWriter() = default;
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;
    ~JournalWriter() { stop(); }
    void start(FrameRecordFile& file);
    // Writes what is queued, flushes, and ends the thread.
    void stop();
    bool running() const { return thread_.joinable(); }
    // Queues a note, after `image` when there is one. Throws std::bad_alloc.
    void write(FrameImage image, std::vector<std::uint8_t> note);
    // Waits until everything queued is written, so that the caller may write to the file itself.
    void drain();
    // The file was written by someone else: a flush is due within the second.
    void written();
    // Whether the last queued write failed.
    bool failed() const { return failed_.load(); }

private:
    struct Job {
        FrameImage image;
        std::vector<std::uint8_t> note;
    };
    void run();

    FrameRecordFile* file_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Job> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    bool dirty_ = false;
    std::atomic<bool> failed_{false};
};

// Frame i (from 1) of a FrameStore as it was when the snapshot was taken. Any thread may read it
// while the store goes on changing; the bytes are shared, not copied.
class FrameStoreSnapshot {
public:
    std::size_t count() const { return slots_.size(); }
    // Frame image i, 1 <= i <= count(); null when i is out of range or the record is damaged.
    FrameImage FrameAt(std::size_t i) const;
    // The bytes of frame image i, from the index (nothing is read); 0 when i is out of range.
    std::uint64_t ImageSize(std::size_t i) const;
    const std::vector<FrameInfo>& Infos() const { return infos_; }
    const platform::ScreenRect& capture_rect() const { return capture_rect_; }
    std::int32_t timer_interval() const { return timer_interval_; }

private:
    friend class FrameStore;
    std::vector<FrameSlot> slots_;
    FrameRecordFile::Snapshot disk_;
    std::vector<FrameInfo> infos_;
    platform::ScreenRect capture_rect_;
    std::int32_t timer_interval_ = 0;
};

// The one owner of the recording. The user-interface thread changes it; other threads read
// snapshots. Frames are kept in capture order: FrameAt(1) is the oldest. The memory frames come
// first, then the disk frames, except that a frame whose disk write failed stays in memory at its
// place rather than being lost.
class FrameStore {
public:
    FrameStore() = default;
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Creates the spill file in the temporary folder (or in `dir`); false when it cannot be made.
    bool Open();
    bool Open(const std::filesystem::path& dir);
    // Drops every frame and deletes the spill file.
    void Close();
    // Drops every frame and closes the spill file but leaves it for a later process to recover.
    void Release();
    // Takes the recording another process left in the spill file at `path`: every frame of it,
    // read from disk, its records, capture rectangle and timer interval replace what this store
    // holds, and that file becomes the spill file (the current one is deleted). False, with the
    // store as it was, when the file is in use, not such a recording, or holds no frame. Throws
    // std::bad_alloc with the store as it was.
    bool Adopt(const std::filesystem::path& path);
    // Whether the last write of the recording to the spill file failed: a crash then loses the
    // frames since. Cleared by the next write that succeeds.
    bool journal_failed() const { return journal_failed_ || writer_.failed(); }
    bool is_open() const { return disk_.is_open(); }
    const FrameRecordFile& DiskFrames() const { return disk_; }

    std::int32_t count() const { return static_cast<std::int32_t>(slots_.size()); }
    // The number of frames held in memory.
    std::int32_t MemoryFrames() const { return memory_count_; }
    const std::vector<FrameInfo>& Infos() const { return infos_; }
    // The bytes of every frame image stored since the last reset, memory and disk alike.
    std::int64_t BytesUsed() const { return bytes_used_; }
    void set_bytes_used(std::int64_t bytes) { bytes_used_ = bytes; }
    // The most recently stored frame image; null until one was stored.
    const FrameImage& LastFrame() const { return last_frame_; }
    // Changes whenever the frames are renumbered (emptied, replaced or kept in part), never when
    // one is appended or merged: a frame position taken earlier still names the same frame while
    // the generation is the same.
    std::uint64_t generation() const { return generation_; }
    // Whether a frame went to disk since the store was last emptied or replaced: from then on
    // every frame goes to disk, so that the frames stay in capture order.
    bool spilled() const { return spilled_; }

    const platform::ScreenRect& capture_rect() const { return capture_rect_; }
    void set_capture_rect(const platform::ScreenRect& rect);
    std::int32_t timer_interval() const { return timer_interval_; }
    void set_timer_interval(std::int32_t ms);

    // Frame image i (from 1), from memory or disk; null when out of range or the record is damaged.
    FrameImage FrameAt(std::int32_t i) const;
    // Throws std::bad_alloc.
    FrameStoreSnapshot Snapshot() const;

    enum class Stored { memory, disk, memory_instead_of_disk };
    // Appends a frame with its record and makes it the last frame. With to_disk the bytes are
    // read from the spill file from now on; when their write fails they stay in memory. Throws
    // std::bad_alloc before anything changed.
    Stored Append(FrameImage image, const FrameInfo& info, bool to_disk);
    // The last frame's record; Infos() must not be empty.
    const FrameInfo& LastInfo() const { return infos_.back(); }
    // A still screen lengthened the last frame; Infos() must not be empty.
    void SetLastDelay(std::int16_t delay);
    // Drops every frame and record; BytesUsed goes to 0. LastFrame, the capture rectangle and the
    // timer interval stay.
    void Clear();
    // Replaces every frame by `images` with `infos` (the same number of each): the first ones, up
    // to the number of frames in memory now, stay in memory and the rest go to disk (or stay in
    // memory where a disk write fails). BytesUsed and LastFrame stay. Throws std::bad_alloc
    // before anything changed.
    void Replace(std::span<const FrameImage> images, std::span<const FrameInfo> infos);
    // Keeps exactly the frames at `positions` (from 1, rising), in that order, with `infos` as
    // their records (the same number of each). A memory frame keeps its shared bytes and stays in
    // memory; the kept disk frames are copied into a fresh spill file that replaces the old one
    // once all of them were copied, so the memory taken does not grow with the recording.
    // BytesUsed and LastFrame stay. False, with nothing changed, when a position is out of range
    // or not above the one before, the counts differ, there is no memory or the disk frames cannot be copied.
    bool Keep(std::span<const std::int32_t> positions, std::span<const FrameInfo> infos);

private:
    // Writes the image and its record to `file`; in memory as well unless to_disk and the write
    // succeeded.
    Stored place(FrameRecordFile& file, FrameImage image, const FrameInfo& info, bool to_disk, FrameSlot& slot);
    // Notes a change of the recording, behind the caller's back.
    void note(std::vector<std::uint8_t> bytes);
    // Starts the spill file afresh (after remove_all): its head and the capture settings.
    void note_start(FrameRecordFile& file, bool building);
    // A fresh spill file beside the current one, its start noted; false when none can be made.
    bool fresh_file(FrameRecordFile& fresh);

    FrameRecordFile disk_;
    JournalWriter writer_;
    bool journal_failed_ = false;
    std::vector<FrameSlot> slots_;
    std::vector<FrameInfo> infos_;
    std::int32_t memory_count_ = 0;
    std::int64_t bytes_used_ = 0;
    FrameImage last_frame_;
    bool spilled_ = false;
    std::uint64_t generation_ = 0;
    platform::ScreenRect capture_rect_;
    std::int32_t timer_interval_ = 0;
};

}  // namespace gifanim::capture
