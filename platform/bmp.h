#pragma once
// BMP files: the headers every BMP we write starts with, and our own decoder (portable, used by
// the picture loader where the platform has none).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/picture.h"

namespace gifanim::platform {

// The 14-byte file header and the 40-byte info header.
inline constexpr std::size_t kBmpHeadersSize = 54;

// Bytes per row of uncompressed pixels: padded to a multiple of 4.
constexpr std::uint64_t bmp_stride(std::uint64_t width, unsigned bits_per_pixel) {
    return ((width * bits_per_pixel + 31) >> 5) << 2;
}

// The file size a BMP states: pixel_offset + stride x rows. Empty when it does not fit the 32-bit
// size field (above 4 GiB), where the file cannot be written.
std::optional<std::uint32_t> bmp_file_size(std::uint64_t width, std::uint64_t rows, unsigned bits_per_pixel,
                                           std::uint32_t pixel_offset);

// Writes both headers of an uncompressed (BI_RGB) BMP into `out`: signature "BM", the file size
// as bmp_file_size gives it, the pixel data offset, then the info header with planes 1, the
// image-size field as given (0 is allowed for uncompressed pixels), no resolution and no important
// colours. A positive height stores the rows bottom-up, a negative one top-down. Returns false,
// writing nothing, when the file would not fit the 32-bit size field.
bool write_bmp_headers(std::span<std::uint8_t, kBmpHeadersSize> out, std::int32_t width, std::int32_t height,
                       unsigned bits_per_pixel, std::uint32_t colours_used, std::uint32_t image_size,
                       std::uint32_t pixel_offset);

// Decodes a BMP file (core, info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits per pixel;
// bottom-up or top-down rows; BI_RGB or BI_BITFIELDS) into the 24-bit layout.
// Truncated pixel data, missing colour tables and compressed data are undecodable.
LoadResult decode_bmp(std::span<const std::uint8_t> bytes, Dib24& out);

}  // namespace gifanim::platform
