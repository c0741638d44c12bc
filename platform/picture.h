#pragma once
// Image bytes to a 24-bit device-independent bitmap at the picture's natural size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/memory.h"

namespace gifanim::platform {

// 24-bit true-colour pixels: rows bottom-up (row 0 in memory is the bottom row of the picture),
// blue, green, red per pixel, each row padded to a multiple of 4 bytes.
struct Dib24 {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;                               // ((width * 24 + 31) / 32) * 4
    std::unique_ptr<std::uint8_t[], BufferDeleter> bits;  // from allocate_buffer
    std::size_t capacity = 0;                             // bytes held by bits

    static std::size_t stride_for(int width) { return ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4; }
    // Bytes of room past the last row, so that a hot loop may read 4 bytes at the last pixel.
    static constexpr std::size_t kSlack = 4;
    // Makes room for width x height pixels (contents unspecified) plus kSlack bytes; a buffer that
    // is large enough is reused.
    // Throws std::bad_alloc.
    void allocate(int w, int h);
    std::uint8_t* row(int bottom_up_index) { return bits.get() + stride * static_cast<std::size_t>(bottom_up_index); }
    const std::uint8_t* row(int bottom_up_index) const {
        return bits.get() + stride * static_cast<std::size_t>(bottom_up_index);
    }
};

// Scratch buffers that a platform service keeps between calls for speed (the picture of a
// conversion, the pixels of a grab) are let go once they grow beyond this, so that one huge
// picture does not hold its memory for the rest of the run; a 4K screen's fit.
inline constexpr std::size_t kKeptScratchBytes = std::size_t{64} << 20;

// implausible: the declared size is out of all proportion to the data that could fill it (a
// decompression bomb), refused before anything is allocated for it.
enum class LoadResult { ok, undecodable, too_large, implausible };

// Whether a picture of this size can be decoded: undecodable when a side is not positive,
// too_large beyond 65535 pixels a side or 2^30 pixels in all.
LoadResult check_picture_size(long long width, long long height);

// As check_picture_size, and implausible when `data_bytes` of a format that packs at most
// `max_pixels_per_byte` pixels into a byte could not fill the picture. Pictures of up to
// kPlausiblePixels pass whatever their data, so only a size out of all proportion is refused.
inline constexpr long long kPlausiblePixels = 1ll << 24;
LoadResult check_picture_data(long long width, long long height, std::size_t data_bytes, unsigned max_pixels_per_byte);

// Whether this platform's picture loader and image codecs read and write GIF themselves (Win32:
// OleLoadPicture and GDI+). Where they do not, they refuse GIF bytes and the GIF library above
// decodes and encodes that format instead.
bool platform_handles_gif();

// Decodes a complete image file (BMP, JPEG, PNG; GIF where platform_handles_gif()) into `out`,
// whose buffer is reused; after a failure its contents are undefined. Pictures wider or
// taller than 65535 pixels are refused with too_large, since no GIF can hold them. Memory
// exhaustion throws std::bad_alloc.
LoadResult load_picture(std::span<const std::uint8_t> bytes, Dib24& out);

// The size load_picture would give a JPEG picture, from its header alone, after the same checks
// of its header; false for other formats, for a header that does not pass, and where the
// platform cannot tell without decoding.
bool jpeg_size(std::span<const std::uint8_t> bytes, int& width, int& height);

// How many times smaller a side of a reduced picture is.
inline constexpr int kReduction = 8;

// `in` made kReduction times smaller a side (rounded up, at least one pixel), each pixel the mean
// of the block it stands for. Throws std::bad_alloc.
void reduce_picture(const Dib24& in, Dib24& out);

// A picture kReduction times smaller a side than load_picture gives, for a quick look at what
// changes between frames: JPEG is decoded at that scale directly (where the platform can), the
// other formats are reduced after decoding. Fails where load_picture fails.
LoadResult load_picture_reduced(std::span<const std::uint8_t> bytes, Dib24& out);

}  // namespace gifanim::platform
