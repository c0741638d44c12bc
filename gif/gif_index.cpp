#include "gif/gif_index.h"

#include <cstring>

namespace gifanim {

namespace {

// Passes over data sub-blocks from `pos` (a length byte). Returns the position behind the block
// terminator, or nothing when the bytes end first.
std::optional<std::size_t> skip_sub_blocks(std::span<const std::uint8_t> b, std::size_t pos) {
    while (pos < b.size()) {
        const std::size_t len = b[pos];
        if (len == 0) return pos + 1;
        pos += 1 + len;
    }
    return std::nullopt;
}

ColourTable table_of(std::uint8_t packed, std::size_t offset) {
    const unsigned bits = (packed & 7u) + 1;
    return {offset, 1u << bits, bits};
}

// A graphic control extension at `pos` (introducer 0x21, label 0xF9) whose first sub-block holds
// the 4 bytes of its fields. An image descriptor whose left position is 0x04F9 has the same bytes
// after its own first one.
bool is_control(std::span<const std::uint8_t> b, std::size_t pos) {
    return pos + 8 <= b.size() && b[pos] == 0x21 && b[pos + 1] == 0xF9 && b[pos + 2] == 4;
}

// A looping extension's sub-blocks from `first`: the identifier "NETSCAPE2.0" or "ANIMEXTS1.0" in
// 11 bytes, then 3 bytes of data: 1 and the loop count. Other application extensions (encoders
// write their own, with text data) hold no loop count, so the reader neither reports nor patches one.
bool is_looping(std::span<const std::uint8_t> b, std::size_t first) {
    if (first + 16 > b.size() || b[first] != 11 || b[first + 12] != 3 || b[first + 13] != 1) return false;
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
    std::size_t pos = 13;
    if (const auto table = global_table(b)) pos += 3u * table->entries;
    bool frame_open = false;
    // Running out of bytes in the middle of a block ends the index with the frames found so far.
    while (pos < b.size()) {
        const std::uint8_t type = b[pos];
        if (type == 0x00) {  // a stray zero
            ++pos;
            continue;
        }
        if (type == 0x3B) break;
        if (type == 0x21) {
            if (pos + 1 >= b.size()) break;
            const std::uint8_t label = b[pos + 1];
            const std::size_t first = pos + 2;  // length byte of the first sub-block
            if (label == 0xF9) {
                if (is_control(b, pos)) {
                    index.frames.push_back(pos);
                    frame_open = true;
                }
            } else if (label == 0xFF) {
                if (is_looping(b, first)) index.loop = first + 1;
            } else if (label == 0xFE) {
                if (first < b.size() && !frame_open) {
                    const std::size_t end = first + 1 + b[first];
                    if (b[first] != 0 && end < b.size() && b[end] == 0) index.comment = first + 1;
                }
            }
            // Plain text extensions, and extensions of labels we do not know, are passed over by
            // their sub-blocks, as every decoder must.
            const auto after = skip_sub_blocks(b, first);
            if (!after) break;
            pos = *after;
            continue;
        }
        if (type == 0x2C) {
            if (pos + 10 > b.size()) break;
            std::size_t after = pos + 10;
            if (b[pos + 9] & 0x80) {
                after += 3u * table_of(b[pos + 9], after).entries;
                if (after > b.size()) return damaged(std::move(index));  // a local table past the end
            }
            if (!frame_open) index.frames.push_back(pos);
            frame_open = false;
            const auto end = skip_sub_blocks(b, after + 1);  // behind the minimum code size
            if (!end) break;
            pos = *end;
            continue;
        }
        return damaged(std::move(index));
    }
    return index;
}

std::optional<FrameBlocks> walk_frame(std::span<const std::uint8_t> b, std::size_t pos) {
    FrameBlocks f;
    if (pos < b.size() && is_control(b, pos)) f.control = pos;
    while (pos < b.size()) {
        const std::uint8_t type = b[pos];
        if (type == 0x2C) {
            if (pos + 10 > b.size()) return std::nullopt;
            f.descriptor = pos;
            f.image_data = pos + 10;
            if (b[pos + 9] & 0x80) {
                f.local = table_of(b[pos + 9], pos + 10);
                f.image_data += 3u * f.local->entries;
            }
            return f;
        }
        if (type == 0x00) {
            ++pos;
            continue;
        }
        if (type != 0x21 || pos + 2 >= b.size()) return std::nullopt;
        if (b[pos + 1] == 0xFE && !f.comment && b[pos + 2] != 0) f.comment = pos + 3;
        const auto after = skip_sub_blocks(b, pos + 2);
        if (!after) return std::nullopt;
        pos = *after;
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
