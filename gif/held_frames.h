#pragma once
// The compressed frames a maker holds until it writes them: in memory up to a budget, the rest in
// a private temporary file, so that an animation of any length takes bounded memory.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gif/failure.h"
#include "gif/gif_writer.h"
#include "platform/frame_record_file.h"

namespace gifanim {

// How a frame goes to and comes back from the temporary file. Throws std::bad_alloc; a record
// that does not read back whole is the failure "临时文件中的帧已损坏".
void serialise(const EncodedFrame& frame, std::vector<std::uint8_t>& out);
void deserialise(std::span<const std::uint8_t> bytes, EncodedFrame& frame);
void serialise(const PlacedFrame& frame, std::vector<std::uint8_t>& out);
void deserialise(std::span<const std::uint8_t> bytes, PlacedFrame& frame);
std::size_t held_bytes(const EncodedFrame& frame);
std::size_t held_bytes(const PlacedFrame& frame);

template <class Frame>
class HeldFrames {
public:
    void set_budget(std::size_t bytes) { budget_ = bytes; }
    std::size_t budget() const { return budget_; }

    // Drops every frame; the temporary file is closed and removed.
    void clear() {
        memory_ = {};
        file_.close();
        memory_bytes_ = 0;
        bytes_ = 0;
        spilled_ = false;
        scratch_ = Frame{};
    }

    std::size_t size() const { return memory_.size() + file_.count(); }
    // What the frames take, in memory or not: at least their tables and data.
    std::size_t bytes() const { return bytes_; }

    // Makes room for this many frames in memory, so that adding them there allocates nothing.
    // Throws std::bad_alloc.
    void reserve(std::size_t frames) {
        if (!spilled_ && memory_.capacity() < frames) memory_.reserve(std::max(frames, 2 * memory_.size()));
    }

    // Appends a frame: to memory while the frames held there stay within the budget, otherwise,
    // and for every later frame, to the file. Throws std::bad_alloc or Failure.
    void push(Frame&& frame) {
        const std::size_t bytes = held_bytes(frame);
        if (!spilled_ && memory_bytes_ + bytes <= budget_) {
            memory_.push_back(std::move(frame));
            memory_bytes_ += bytes;
            bytes_ += bytes;
            return;
        }
        if (!spilled_) {
            if (!file_.create()) fail("无法创建临时文件");
            spilled_ = true;
        }
        blob_.clear();
        serialise(frame, blob_);
        if (!file_.append(blob_)) fail("写入临时文件失败");
        bytes_ += bytes;
    }

    // Frame i (from 0), valid until the next call.
    const Frame& at(std::size_t i) {
        if (i < memory_.size()) return memory_[i];
        const platform::FrameImage bytes = file_.read(i - memory_.size());
        if (!bytes) fail("临时文件中的帧已损坏");
        deserialise(*bytes, scratch_);
        return scratch_;
    }

private:
    std::size_t budget_ = 0;
    std::vector<Frame> memory_;
    std::size_t memory_bytes_ = 0;
    std::size_t bytes_ = 0;
    bool spilled_ = false;
    platform::FrameRecordFile file_;
    std::vector<std::uint8_t> blob_;
    Frame scratch_;
};

}  // namespace gifanim
