#pragma once
// The GIF89a stream of an animation whose frames are already compressed.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gif/records.h"
#include "platform/file.h"

namespace gifanim {

// The maker's copy of a frame's settings.
struct FrameRecord {
    std::int16_t delay = 0;  // 1/100 s
    std::int16_t left = 0;
    std::int16_t top = 0;
    std::uint8_t disposal = 0;
    Bool32 transparency = 0;
    std::string comment;  // at most 255 bytes
};

// A frame as it goes into the file: its size, its 256-entry palette (red, green, blue) and its
// image data (minimum code size and sub-blocks, without the block terminator).
struct EncodedFrame {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::array<std::uint8_t, 768> palette{};
    std::vector<std::uint8_t> data;
};

struct AnimationSettings {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    bool loop = true;
    std::int16_t loop_count = 0;
    std::string comment;
    bool interlace = false;
};

// A rectangle of the optimizing mode as it goes into the file: its place, its colour table
// (3 x 2^k bytes, red, green, blue) and image data as in EncodedFrame.
struct PlacedFrame {
    std::uint16_t left = 0;
    std::uint16_t top = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    bool transparent = false;
    std::uint8_t transparent_index = 0;
    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> data;
};

// The time and comment of a placed frame, which stay in memory while frames are merged into it.
struct PlacedRecord {
    std::uint16_t delay = 0;
    std::string comment;  // at most 255 bytes
};

// Collects small pieces and hands them to the file in large writes. File errors throw
// platform::FileError.
class BufferedFileOutput {
public:
    explicit BufferedFileOutput(platform::File& file) : file_(file) { buffer_.reserve(kChunk); }

    void byte(std::uint8_t b) { buffer_.push_back(b); }
    void word(std::uint16_t v) {
        byte(static_cast<std::uint8_t>(v & 0xFF));
        byte(static_cast<std::uint8_t>(v >> 8));
    }
    void bytes(std::span<const std::uint8_t> data);
    void text(std::string_view s) { bytes({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}); }
    void flush();

private:
    static constexpr std::size_t kChunk = 1 << 16;
    platform::File& file_;
    std::vector<std::uint8_t> buffer_;
};

// The stream write_gif writes for two or more frames, written as the frames come: the first add
// writes the header (with that frame's palette as the global table) before the frame, and finish
// the end. File errors throw platform::FileError.
class AnimationStream {
public:
    AnimationStream(platform::File& file, const AnimationSettings& settings) : out_(file), settings_(settings) {}
    void add(const FrameRecord& record, const EncodedFrame& frame);
    void finish();

private:
    BufferedFileOutput out_;
    AnimationSettings settings_;
    bool started_ = false;
};

// The stream write_placed_gif writes for two or more frames, written as the frames come.
// File errors throw platform::FileError.
class PlacedStream {
public:
    PlacedStream(platform::File& file, const AnimationSettings& settings) : out_(file), settings_(settings) {}
    void add(const PlacedRecord& record, const PlacedFrame& frame);
    void finish();

private:
    BufferedFileOutput out_;
    AnimationSettings settings_;
    bool started_ = false;
};

// Writes the stream of placed frames: the first frame's table is the global one, every later frame
// has a local table and a graphic control extension that leaves it in place (disposal 1) with its
// transparent index; with two or more frames, the looping extension when enabled. frame_at(i) is
// asked for in order, each reference used until the next call. File errors throw
// platform::FileError.
void write_placed_gif(platform::File& file, const AnimationSettings& settings, std::span<const PlacedRecord> records,
                      const std::function<const PlacedFrame&(std::size_t)>& frame_at);
// The same stream appended to `out`. Throws std::bad_alloc, and what frame_at throws.
void write_placed_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings,
                      std::span<const PlacedRecord> records,
                      const std::function<const PlacedFrame&(std::size_t)>& frame_at);

// Writes the whole stream. Two or more frames give an animation with a looping extension (when
// enabled), and per frame a graphic control extension, comment, descriptor and local table; one
// frame gives a still image with only the global table. File errors throw platform::FileError.
void write_gif(platform::File& file, const AnimationSettings& settings, std::span<const FrameRecord> records,
               std::span<const EncodedFrame> frames);

// The same stream with the frames handed over one at a time: frame_at(i) for i from 0 to
// records.size() - 1, in order, each reference used until the next call. For a writer whose last
// frames are still being finished while the first ones are written.
void write_gif(platform::File& file, const AnimationSettings& settings, std::span<const FrameRecord> records,
               const std::function<const EncodedFrame&(std::size_t)>& frame_at);

// The same stream appended to `out`. Throws std::bad_alloc.
void write_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings,
               std::span<const FrameRecord> records, std::span<const EncodedFrame> frames);
// The same, the frames handed over one at a time. Throws std::bad_alloc, and what frame_at throws.
void write_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings, std::span<const FrameRecord> records,
               const std::function<const EncodedFrame&(std::size_t)>& frame_at);

}  // namespace gifanim
