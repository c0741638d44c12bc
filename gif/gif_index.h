#pragma once
// Finding the blocks of a loaded GIF. Every read is checked against the loaded bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace gifanim {

inline std::uint16_t read16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline void write16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Whether the bytes start with the signature "GIF", letter case ignored: the one rule of every
// GIF decoder here.
inline bool is_gif_signature(std::span<const std::uint8_t> b) {
    auto lower = [](std::uint8_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return b.size() >= 3 && lower(b[0]) == 'g' && lower(b[1]) == 'i' && lower(b[2]) == 'f';
}

struct ColourTable {
    std::size_t offset = 0;  // first entry (red, green, blue); entries may run past the loaded bytes
    unsigned entries = 0;    // 2^bits
    unsigned bits = 0;       // the size field of the packed byte plus 1
};

// Where the frames are. frames[i] is the position of frame i + 1's first block: its graphic control
// extension if it has one, otherwise its image descriptor.
struct GifIndex {
    std::vector<std::size_t> frames;
    std::optional<std::size_t> loop;     // data of the last looping extension's identifier; its count lies 13 bytes on
    std::optional<std::size_t> comment;  // data of the animation comment's first sub-block
    bool damaged = false;                // an unknown block: frames is then empty, loop and comment stay
};

// The blocks of one frame, found by walking from its first block to its image descriptor.
struct FrameBlocks {
    std::optional<std::size_t> control;  // graphic control extension (8 bytes available)
    std::optional<std::size_t> comment;   // data of the first comment sub-block met
    std::size_t descriptor = 0;           // image descriptor (10 bytes available)
    std::optional<ColourTable> local;
    std::size_t image_data = 0;  // the LZW minimum code size byte (may lie past the end)
};

// The global colour table, when the screen descriptor announces one.
std::optional<ColourTable> global_table(std::span<const std::uint8_t> gif);

// Indexes a GIF whose header (at least 13 bytes) has been checked.
GifIndex build_index(std::span<const std::uint8_t> gif);

// Walks from a frame's first block over extensions to its image descriptor; nothing when the bytes
// end first or an unexpected block stands in the way.
std::optional<FrameBlocks> walk_frame(std::span<const std::uint8_t> gif, std::size_t first_block);

// The text of a comment's first sub-block whose data starts at `data` (empty for none).
std::string comment_text(std::span<const std::uint8_t> gif, std::optional<std::size_t> data);

}  // namespace gifanim
