#pragma once
// The spill file as the recording's journal: besides every frame image it holds notes of what the
// recording is (its records, later lengthenings of a delay, the capture rectangle and timer
// interval, a start afresh), so that a process that finds the file after its owner died can
// rebuild the recording as the user last left it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "gif/records.h"
#include "platform/screen.h"

namespace gifanim::capture::journal {

// Each note's bytes; empty when there was no memory to make them.
// The first note of a journal, and of every start afresh: the frames before it no longer count.
// A journal that is being built to replace another is "building" until its ready note.
std::vector<std::uint8_t> head_note(bool building);
std::vector<std::uint8_t> ready_note();
std::vector<std::uint8_t> capture_note(const platform::ScreenRect& rect, std::int32_t timer_interval);
// The record of a new frame whose image is the record just before the note.
std::vector<std::uint8_t> frame_note(const FrameInfo& info);
// Frame `position` (from 1) has this record now.
std::vector<std::uint8_t> info_note(std::uint32_t position, const FrameInfo& info);

// A recording rebuilt from the notes of a journal, fed in the order of the file.
class Replay {
public:
    // A note found after `images_before` image records. Notes that cannot be read are passed
    // over. Throws std::bad_alloc.
    void note(std::size_t images_before, std::span<const std::uint8_t> bytes);

    // Whether the file is a recording's journal at all: its first record is a head note.
    bool ours() const { return ours_; }
    // Whether the journal counts: not one left half built.
    bool complete() const { return ours_ && !building_; }
    // Frame i's image record (from 0) and its FrameInfo.
    const std::vector<std::size_t>& records() const { return records_; }
    const std::vector<FrameInfo>& infos() const { return infos_; }
    const platform::ScreenRect& capture_rect() const { return capture_rect_; }
    std::int32_t timer_interval() const { return timer_interval_; }

private:
    bool seen_any_ = false;
    bool ours_ = false;
    bool building_ = false;
    std::vector<std::size_t> records_;
    std::vector<FrameInfo> infos_;
    platform::ScreenRect capture_rect_;
    std::int32_t timer_interval_ = 0;
};

// A recording whose process is gone, as a listing shows it.
struct LeftRecording {
    std::filesystem::path path;
    std::size_t frames = 0;
    std::int64_t duration_cs = 0;  // the sum of the delays
    platform::ScreenRect capture_rect;
};

// Whether a file name is one a spill file may have: up to 8 lower-case hexadecimal digits, ".tmp".
bool is_spill_file_name(const std::filesystem::path& name);

// The recordings in `dir` that processes left behind and that hold at least one frame, in the
// order of their names. Journals of running processes are never touched; those left behind that
// hold no frame, or that were left half built, are deleted. Files that are not journals stay as
// they are. Throws std::bad_alloc.
std::vector<LeftRecording> find_left_recordings(const std::filesystem::path& dir);

}  // namespace gifanim::capture::journal
