#pragma once
// The recording: every frame image captured since the last reset, each with its FrameInfo, held
// in memory up to a budget and in the spill file after that.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "capture/frame_record_file.h"
#include "gif/records.h"
#include "platform/screen.h"

namespace gifanim::capture {

// Where one frame's bytes are: in memory, or in a record of the spill file.
struct FrameSlot {
    FrameImage memory;       // null when the frame is on disk
    std::size_t record = 0;  // the spill file's record, for a frame on disk
};

// Frame i (from 1) of a FrameStore as it was when the snapshot was taken. Any thread may read it
// while the store goes on changing; the bytes are shared, not copied.
class FrameStoreSnapshot {
public:
    std::size_t count() const { return slots_.size(); }
    // Frame image i, 1 <= i <= count(); null when i is out of range or the record is damaged.
    FrameImage FrameAt(std::size_t i) const;
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
    void set_capture_rect(const platform::ScreenRect& rect) { capture_rect_ = rect; }
    std::int32_t timer_interval() const { return timer_interval_; }
    void set_timer_interval(std::int32_t ms) { timer_interval_ = ms; }

    // Frame image i (from 1), from memory or disk; null when out of range or the record is damaged.
    FrameImage FrameAt(std::int32_t i) const;
    // Throws std::bad_alloc.
    FrameStoreSnapshot Snapshot() const;

    enum class Stored { memory, disk, memory_instead_of_disk };
    // Appends a frame with its record and makes it the last frame. With to_disk the bytes go to
    // the spill file; when that fails they stay in memory. Throws std::bad_alloc before anything
    // changed.
    Stored Append(FrameImage image, const FrameInfo& info, bool to_disk);
    // The last frame's record, for a merge; Infos() must not be empty.
    FrameInfo& LastInfo() { return infos_.back(); }
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
    // A new record of the spill file when to_disk and the write succeeds, memory otherwise.
    Stored place(FrameImage image, bool to_disk, FrameSlot& slot);

    FrameRecordFile disk_;
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
