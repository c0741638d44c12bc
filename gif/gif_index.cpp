#include "gif/gif_index.h"

#include <cstring>

namespace gifanim {

namespace {

// Reads the loaded bytes from a position on; every read says whether the bytes held it, so no
// test of a block's bytes can look past the end or start at the wrong byte.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> bytes, std::size_t pos) : b_(bytes), pos_(pos) {}

    std::size_t position() const { return pos_; }
    bool at_end() const { return pos_ >= b_.size(); }
    // The byte `ahead` bytes on, without moving.
    std::optional<std::uint8_t> peek(std::size_t ahead = 0) const {
        if (pos_ >= b_.size() || ahead >= b_.size() - pos_) return std::nullopt;
        return b_[pos_ + ahead];
    }
    // Whether the next bytes are exactly these, without moving.
    bool looking_at(std::initializer_list<std::uint8_t> expected) const {
        std::size_t i = 0;
        for (const std::uint8_t e : expected)
            if (peek(i++) != e) return false;
        return true;
    }
    // Whether `n` more bytes are there.
    bool holds(std::size_t n) const { return pos_ <= b_.size() && n <= b_.size() - pos_; }
    // Moves on by n bytes; false, at the end, when fewer are left.
    bool skip(std::size_t n) {
        if (holds(n)) {
            pos_ += n;
            return true;
        }
        pos_ = b_.size();
        return false;
    }
    // Passes over data sub-blocks up to and behind their terminator; false when the bytes end first.
    bool skip_sub_blocks() {
        while (const auto len = peek()) {
            skip(1);
            if (*len == 0) return true;
            if (!skip(*len)) return false;
        }
        return false;
    }

private:
    std::span<const std::uint8_t> b_;
    std::size_t pos_;
};

ColourTable table_of(std::uint8_t packed, std::size_t offset) {
    const unsigned bits = (packed & 7u) + 1;
    return {offset, 1u << bits, bits};
}

// A graphic control extension (introducer 0x21, label 0xF9) whose first sub-block holds the 4 bytes
// of its fields, all of them loaded. An image descriptor whose left position is 0x04F9 holds the
// same bytes after its own first one, which is why the introducer is part of the test.
bool is_control(const Cursor& at) { return at.looking_at({0x21, 0xF9, 4}) && at.holds(8); }

// A looping extension's sub-blocks from `first`: the identifier "NETSCAPE2.0" or "ANIMEXTS1.0" in
// 11 bytes, then 3 bytes of data: 1 and the loop count. Other application extensions (encoders
// write their own, with text data) hold no loop count, so the reader neither reports nor patches one.
bool is_looping(std::span<const std::uint8_t> b, std::size_t first) {
    const Cursor at(b, first);
    if (!at.holds(16) || at.peek() != 11 || at.peek(12) != 3 || at.peek(13) != 1) return false;
    const auto* id = reinterpret_cast<const char*>(b.data() + first + 1);
    return std::memcmp(id, "NETSCAPE2.0", 11) == 0 || std::memcmp(id, "ANIMEXTS1.0", 11) == 0;
}

// An index that met a block it cannot read: no frames, but the loop count and the comment found
// before the damage stay, so that they can still be reported and patched.
GifIndex damaged(GifIndex index) {
    index.frames.clear();
    index.damaged = true;
    return index;
}

}  // namespace

std::optional<ColourTable> global_table(std::span<const std::uint8_t> b) {
    if (b.size() < 13 || !(b[10] & 0x80)) return std::nullopt;
    return table_of(b[10], 13);
}

GifIndex build_index(std::span<const std::uint8_t> b) {
    GifIndex index;
    Cursor in(b, 13);
    if (const auto table = global_table(b)) in.skip(3u * table->entries);
    bool frame_open = false;
    // Running out of bytes in the middle of a block ends the index with the frames found so far.
    while (const auto type = in.peek()) {
        const std::size_t pos = in.position();
        if (*type == 0x00) {  // a stray zero
            in.skip(1);
        } else if (*type == 0x3B) {
            break;
        } else if (*type == 0x21) {
            const auto label = in.peek(1);
            if (!label) break;
            if (*label == 0xF9 && is_control(in)) {
                index.frames.push_back(pos);
                frame_open = true;
            }
            in.skip(2);
            const std::size_t first = in.position();  // length byte of the first sub-block
            if (*label == 0xFF && is_looping(b, first)) index.loop = first + 1;
            if (*label == 0xFE && !frame_open) {
                // Taken when its first sub-block is followed directly by the terminator.
                const auto len = in.peek();
                if (len && *len != 0 && in.peek(1u + *len) == 0) index.comment = first + 1;
            }
            // Plain text extensions, and extensions of labels we do not know, are passed over by
            // their sub-blocks, as every decoder must.
            if (!in.skip_sub_blocks()) break;
        } else if (*type == 0x2C) {
            const auto packed = in.peek(9);
            if (!packed) break;
            in.skip(10);
            if ((*packed & 0x80) && !in.skip(3u * table_of(*packed, 0).entries))
                return damaged(std::move(index));  // a local colour table that runs past the end
            if (!frame_open) index.frames.push_back(pos);
            frame_open = false;
            if (!in.skip(1) || !in.skip_sub_blocks()) break;  // the minimum code size, the data
        } else {
            return damaged(std::move(index));
        }
    }
    return index;
}

std::optional<FrameBlocks> walk_frame(std::span<const std::uint8_t> b, std::size_t first_block) {
    FrameBlocks f;
    Cursor in(b, first_block);
    if (is_control(in)) f.control = first_block;
    while (const auto type = in.peek()) {
        if (*type == 0x2C) {
            const auto packed = in.peek(9);
            if (!packed) return std::nullopt;
            f.descriptor = in.position();
            f.image_data = f.descriptor + 10;
            if (*packed & 0x80) {
                f.local = table_of(*packed, f.descriptor + 10);
                f.image_data += 3u * f.local->entries;
            }
            return f;
        }
        if (*type == 0x00) {
            in.skip(1);
            continue;
        }
        const auto label = in.peek(1);
        if (*type != 0x21 || !label || !in.peek(2)) return std::nullopt;
        if (*label == 0xFE && !f.comment && in.peek(2) != 0) f.comment = in.position() + 3;
        in.skip(2);
        if (!in.skip_sub_blocks()) return std::nullopt;
    }
    return std::nullopt;
}

std::string comment_text(std::span<const std::uint8_t> b, std::optional<std::size_t> data) {
    if (!data || *data == 0 || *data > b.size()) return {};
    const std::size_t len = b[*data - 1];
    const std::size_t available = std::min(len, b.size() - *data);
    return std::string(reinterpret_cast<const char*>(b.data() + *data), available);
}

}  // namespace gifanim
