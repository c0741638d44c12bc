#include "gif/gif_writer.h"

#include <algorithm>

namespace gifanim {

namespace {

// Appends everything to a buffer in memory.
class MemoryOutput {
public:
    explicit MemoryOutput(std::vector<std::uint8_t>& out) : out_(out) {}

    void byte(std::uint8_t b) { out_.push_back(b); }
    void word(std::uint16_t v) {
        byte(static_cast<std::uint8_t>(v & 0xFF));
        byte(static_cast<std::uint8_t>(v >> 8));
    }
    void bytes(std::span<const std::uint8_t> data) { out_.insert(out_.end(), data.begin(), data.end()); }
    void text(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
    void flush() {}

private:
    std::vector<std::uint8_t>& out_;
};

template <class Output>
void comment_extension(Output& out, std::string_view comment) {
    const std::size_t len = std::min<std::size_t>(comment.size(), 255);
    out.byte(0x21);
    out.byte(0xFE);
    out.byte(static_cast<std::uint8_t>(len));
    out.text(comment.substr(0, len));
    out.byte(0x00);
}

template <class Output>
void looping_extension(Output& out, const AnimationSettings& settings) {
    out.byte(0x21);
    out.byte(0xFF);
    out.byte(0x0B);
    out.text("NETSCAPE2.0");
    out.byte(0x03);
    out.byte(0x01);
    out.word(static_cast<std::uint16_t>(settings.loop_count));
    out.byte(0x00);
}

constexpr unsigned kBits = 8;  // every frame of the plain mode has a 256-entry palette

// The header of an animation or still picture: the screen and the global table.
template <class Output>
void stream_head(Output& out, const AnimationSettings& settings, std::span<const std::uint8_t> palette) {
    out.text("GIF89a");
    out.word(settings.width);
    out.word(settings.height);
    out.byte(0x80 + ((kBits - 1) << 4) + (kBits - 1));
    out.byte(0);  // background colour index
    out.byte(0);  // pixel aspect ratio
    out.bytes(palette);
}

// One frame of an animation: its graphic control extension, comment, descriptor, local table and data.
template <class Output>
void animation_frame(Output& out, const AnimationSettings& settings, const FrameRecord& rec,
                     const EncodedFrame& frame) {
    const std::uint8_t interlace_bit = settings.interlace ? 0x40 : 0x00;
    out.byte(0x21);
    out.byte(0xF9);
    out.byte(0x04);
    out.byte(static_cast<std::uint8_t>(((rec.disposal & 7) << 2) | (rec.transparency & 1)));
    out.word(static_cast<std::uint16_t>(rec.delay));
    out.byte(0);  // transparent colour index
    out.byte(0x00);
    if (!rec.comment.empty()) comment_extension(out, rec.comment);
    out.byte(0x2C);
    out.word(static_cast<std::uint16_t>(rec.left));
    out.word(static_cast<std::uint16_t>(rec.top));
    out.word(frame.width);
    out.word(frame.height);
    out.byte(static_cast<std::uint8_t>(0x80 | interlace_bit | (kBits - 1)));
    out.bytes(frame.palette);
    out.bytes(frame.data);
    out.byte(0x00);
}

template <class Output>
void stream_end(Output& out, const AnimationSettings& settings) {
    if (!settings.comment.empty()) comment_extension(out, settings.comment);
    out.byte(0x3B);
    out.flush();
}

// The frames come from frame_at(i), asked for in order, one per record.
template <class Output, class FrameAt>
void write_stream(Output& out, const AnimationSettings& settings, std::span<const FrameRecord> records,
                  FrameAt&& frame_at) {
    const std::size_t count = records.size();
    stream_head(out, settings, frame_at(0).palette);
    if (count >= 2) {
        if (settings.loop) looping_extension(out, settings);
        for (std::size_t i = 0; i < count; ++i) animation_frame(out, settings, records[i], frame_at(i));
    } else {
        const EncodedFrame& frame = frame_at(0);
        out.byte(0x2C);
        out.word(0);
        out.word(0);
        out.word(frame.width);
        out.word(frame.height);
        out.byte(static_cast<std::uint8_t>((settings.interlace ? 0x40 : 0x00) | (kBits - 1)));
        out.bytes(frame.data);
        out.byte(0x00);
    }
    stream_end(out, settings);
}

// The size field of a colour table of `bytes` bytes (3 x 2^(field + 1)).
std::uint8_t table_size_field(std::size_t bytes) {
    std::uint8_t field = 0;
    while ((std::size_t{6} << field) < bytes) ++field;
    return field;
}

}  // namespace

void BufferedFileOutput::bytes(std::span<const std::uint8_t> data) {
    if (buffer_.size() + data.size() > kChunk) {
        flush();
        if (data.size() >= kChunk) {
            file_.write(data);
            return;
        }
    }
    buffer_.insert(buffer_.end(), data.begin(), data.end());
}

void BufferedFileOutput::flush() {
    if (!buffer_.empty()) file_.write(buffer_);
    buffer_.clear();
}

void AnimationStream::add(const FrameRecord& record, const EncodedFrame& frame) {
    if (!started_) {
        stream_head(out_, settings_, frame.palette);
        if (settings_.loop) looping_extension(out_, settings_);
        started_ = true;
    }
    animation_frame(out_, settings_, record, frame);
}

void AnimationStream::finish() { stream_end(out_, settings_); }

namespace {

// The header of placed frames: the screen, the first frame's table as the global one, and with
// two or more frames the looping extension when enabled.
template <class Output>
void placed_head(Output& out, const AnimationSettings& settings, const PlacedFrame& first, bool animation) {
    out.text("GIF89a");
    out.word(settings.width);
    out.word(settings.height);
    const std::uint8_t field = table_size_field(first.table.size());
    out.byte(static_cast<std::uint8_t>(0x80 | (field << 4) | field));
    out.byte(0);  // background colour index
    out.byte(0);  // pixel aspect ratio
    out.bytes(first.table);
    if (animation && settings.loop) looping_extension(out, settings);
}

// A placed frame: left in place (disposal 1) with its transparent index; the first one uses the
// global table, every later one has a local table.
template <class Output>
void placed_frame(Output& out, const AnimationSettings& settings, const PlacedRecord& rec, const PlacedFrame& frame,
                  bool first) {
    const std::uint8_t interlace_bit = settings.interlace ? 0x40 : 0x00;
    out.byte(0x21);
    out.byte(0xF9);
    out.byte(0x04);
    out.byte(static_cast<std::uint8_t>((1 << 2) | (frame.transparent ? 1 : 0)));
    out.word(rec.delay);
    out.byte(frame.transparent ? frame.transparent_index : 0);
    out.byte(0x00);
    if (!rec.comment.empty()) comment_extension(out, rec.comment);
    out.byte(0x2C);
    out.word(frame.left);
    out.word(frame.top);
    out.word(frame.width);
    out.word(frame.height);
    if (first) {
        out.byte(interlace_bit);
    } else {
        out.byte(static_cast<std::uint8_t>(0x80 | interlace_bit | table_size_field(frame.table.size())));
        out.bytes(frame.table);
    }
    out.bytes(frame.data);
    out.byte(0x00);
}

template <class Output>
void write_placed(Output& out, const AnimationSettings& settings, std::span<const PlacedRecord> records,
                  const std::function<const PlacedFrame&(std::size_t)>& frame_at) {
    placed_head(out, settings, frame_at(0), records.size() >= 2);
    for (std::size_t i = 0; i < records.size(); ++i) placed_frame(out, settings, records[i], frame_at(i), i == 0);
    stream_end(out, settings);
}

}  // namespace

void write_placed_gif(platform::File& file, const AnimationSettings& settings, std::span<const PlacedRecord> records,
                      const std::function<const PlacedFrame&(std::size_t)>& frame_at) {
    BufferedFileOutput out(file);
    write_placed(out, settings, records, frame_at);
}

void write_placed_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings,
                      std::span<const PlacedRecord> records,
                      const std::function<const PlacedFrame&(std::size_t)>& frame_at) {
    MemoryOutput memory(out);
    write_placed(memory, settings, records, frame_at);
}

void PlacedStream::add(const PlacedRecord& record, const PlacedFrame& frame) {
    if (!started_) placed_head(out_, settings_, frame, true);
    placed_frame(out_, settings_, record, frame, !started_);
    started_ = true;
}

void PlacedStream::finish() { stream_end(out_, settings_); }

void write_gif(platform::File& file, const AnimationSettings& settings, std::span<const FrameRecord> records,
               std::span<const EncodedFrame> frames) {
    BufferedFileOutput out(file);
    write_stream(out, settings, records.first(frames.size()), [&](std::size_t i) -> const EncodedFrame& { return frames[i]; });
}

void write_gif(platform::File& file, const AnimationSettings& settings, std::span<const FrameRecord> records,
               const std::function<const EncodedFrame&(std::size_t)>& frame_at) {
    BufferedFileOutput out(file);
    write_stream(out, settings, records, frame_at);
}

void write_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings, std::span<const FrameRecord> records,
               std::span<const EncodedFrame> frames) {
    MemoryOutput memory(out);
    write_stream(memory, settings, records.first(frames.size()),
                 [&](std::size_t i) -> const EncodedFrame& { return frames[i]; });
}

void write_gif(std::vector<std::uint8_t>& out, const AnimationSettings& settings, std::span<const FrameRecord> records,
               const std::function<const EncodedFrame&(std::size_t)>& frame_at) {
    MemoryOutput memory(out);
    write_stream(memory, settings, records, frame_at);
}

}  // namespace gifanim
