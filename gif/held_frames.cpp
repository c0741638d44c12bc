#include "gif/held_frames.h"

namespace gifanim {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Reads the fields of a record back in the order they were written; running out is a failure.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t byte() {
        need(1);
        return bytes_[pos_++];
    }
    std::uint16_t word() {
        const std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | (byte() << 8));
    }
    void copy(std::uint8_t* out, std::size_t n) {
        need(n);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out);
        pos_ += n;
    }
    // The rest of the record.
    std::span<const std::uint8_t> rest() const { return bytes_.subspan(pos_); }

private:
    void need(std::size_t n) const {
        if (bytes_.size() - pos_ < n) fail("临时文件中的帧已损坏");
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

std::size_t held_bytes(const EncodedFrame& frame) {
    return sizeof(EncodedFrame) + frame.data.capacity();
}

std::size_t held_bytes(const PlacedFrame& frame) {
    return sizeof(PlacedFrame) + frame.table.capacity() + frame.data.capacity();
}

void serialise(const EncodedFrame& frame, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + 4 + frame.palette.size() + frame.data.size());
    put16(out, frame.width);
    put16(out, frame.height);
    out.insert(out.end(), frame.palette.begin(), frame.palette.end());
    out.insert(out.end(), frame.data.begin(), frame.data.end());
}

void deserialise(std::span<const std::uint8_t> bytes, EncodedFrame& frame) {
    Reader in(bytes);
    frame.width = in.word();
    frame.height = in.word();
    in.copy(frame.palette.data(), frame.palette.size());
    frame.data.assign(in.rest().begin(), in.rest().end());
}

void serialise(const PlacedFrame& frame, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + 11 + frame.table.size() + frame.data.size());
    put16(out, frame.left);
    put16(out, frame.top);
    put16(out, frame.width);
    put16(out, frame.height);
    out.push_back(frame.transparent ? 1 : 0);
    out.push_back(frame.transparent_index);
    put16(out, static_cast<std::uint16_t>(frame.table.size()));
    out.insert(out.end(), frame.table.begin(), frame.table.end());
    out.insert(out.end(), frame.data.begin(), frame.data.end());
}

void deserialise(std::span<const std::uint8_t> bytes, PlacedFrame& frame) {
    Reader in(bytes);
    frame.left = in.word();
    frame.top = in.word();
    frame.width = in.word();
    frame.height = in.word();
    frame.transparent = in.byte() != 0;
    frame.transparent_index = in.byte();
    const std::size_t table = in.word();
    if (table > 768) fail("临时文件中的帧已损坏");
    frame.table.resize(table);
    in.copy(frame.table.data(), table);
    frame.data.assign(in.rest().begin(), in.rest().end());
}

}  // namespace gifanim
