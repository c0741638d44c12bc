#include "platform/bmp.h"

#include <cstring>
#include <limits>

#include "platform/bit_channel.h"

namespace gifanim::platform {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

std::uint32_t u16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::optional<std::uint32_t> bmp_file_size(std::uint64_t width, std::uint64_t rows, unsigned bits_per_pixel,
                                           std::uint32_t pixel_offset) {
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint32_t>::max();
    // Widths and heights of a BMP are 32-bit numbers, so neither product below can wrap.
    if (width > kMost || rows > kMost || bits_per_pixel > 64) return std::nullopt;
    const std::uint64_t stride = bmp_stride(width, bits_per_pixel);
    if (rows != 0 && stride > (kMost - pixel_offset) / rows) return std::nullopt;
    return static_cast<std::uint32_t>(pixel_offset + stride * rows);
}

bool write_bmp_headers(std::span<std::uint8_t, kBmpHeadersSize> out, std::int32_t width, std::int32_t height,
                       unsigned bits_per_pixel, std::uint32_t colours_used, std::uint32_t image_size,
                       std::uint32_t pixel_offset) {
    const auto rows = static_cast<std::uint64_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
    const auto columns = static_cast<std::uint64_t>(width < 0 ? 0 : width);
    const std::optional<std::uint32_t> file_size = bmp_file_size(columns, rows, bits_per_pixel, pixel_offset);
    if (!file_size) return false;
    std::uint8_t* h = out.data();
    std::memset(h, 0, kBmpHeadersSize);
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, *file_size);
    put32(h + 10, pixel_offset);
    put32(h + 14, 40);
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height));
    put16(h + 26, 1);
    put16(h + 28, bits_per_pixel);
    put32(h + 34, image_size);
    put32(h + 46, colours_used);
    return true;
}

LoadResult decode_bmp(std::span<const std::uint8_t> bytes, Dib24& out) {
    const std::size_t size = bytes.size();
    const std::uint8_t* b = bytes.data();
    if (size < 14 + 12 || b[0] != 'B' || b[1] != 'M') return LoadResult::undecodable;
    const std::uint32_t pixel_offset = u32(b + 10);
    const std::uint32_t header_size = u32(b + 14);
    if (header_size < 12 || header_size > size - 14) return LoadResult::undecodable;
    const std::uint8_t* hdr = b + 14;

    long long width = 0, height = 0;
    unsigned bit_count = 0;
    std::uint32_t compression = kBiRgb, colours_used = 0;
    std::size_t palette_entry = 4;
    bool core = header_size < 16;
    if (core) {  // the old core header: 16-bit sizes, three-byte colour table entries
        if (header_size != 12) return LoadResult::undecodable;
        width = u16(hdr + 4);
        height = static_cast<std::int16_t>(u16(hdr + 6));
        if (u16(hdr + 8) != 1) return LoadResult::undecodable;
        bit_count = u16(hdr + 10);
        palette_entry = 3;
    } else {
        if (header_size < 40) return LoadResult::undecodable;
        width = static_cast<std::int32_t>(u32(hdr + 4));
        height = static_cast<std::int32_t>(u32(hdr + 8));
        if (u16(hdr + 12) != 1) return LoadResult::undecodable;
        bit_count = u16(hdr + 14);
        compression = u32(hdr + 16);
        colours_used = u32(hdr + 32);
    }
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (const LoadResult r = check_picture_size(width, height); r != LoadResult::ok) return r;

    // Channel masks: from the header (V2 and later), after the 40-byte header, or the defaults.
    BitChannel red, green, blue;
    std::size_t table_offset = 14 + header_size;
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
        if (bit_count != 16 && bit_count != 32) return LoadResult::undecodable;
        std::uint32_t masks[3];
        if (header_size >= 52) {
            for (int i = 0; i < 3; ++i) masks[i] = u32(hdr + 40 + 4 * i);
        } else {
            const std::size_t extra = compression == kBiAlphaBitfields ? 16 : 12;
            if (size < table_offset + extra) return LoadResult::undecodable;
            for (int i = 0; i < 3; ++i) masks[i] = u32(b + table_offset + 4 * i);
            table_offset += extra;
        }
        red = BitChannel(masks[0]);
        green = BitChannel(masks[1]);
        blue = BitChannel(masks[2]);
    } else if (compression != kBiRgb) {
        return LoadResult::undecodable;  // run-length and embedded JPEG/PNG data are not read
    } else if (bit_count == 16) {
        red = BitChannel(0x7C00);
        green = BitChannel(0x03E0);
        blue = BitChannel(0x001F);
    } else if (bit_count == 32) {
        red = BitChannel(0x00FF0000);
        green = BitChannel(0x0000FF00);
        blue = BitChannel(0x000000FF);
    }

    // Colour table of paletted pictures.
    std::uint8_t palette[256][3] = {};
    if (bit_count == 1 || bit_count == 4 || bit_count == 8) {
        const std::uint32_t max_colours = 1u << bit_count;
        std::uint32_t n = (colours_used == 0 || colours_used > max_colours) ? max_colours : colours_used;
        if (core) n = max_colours;
        if (table_offset > size || (size - table_offset) / palette_entry < n) return LoadResult::undecodable;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* e = b + table_offset + i * palette_entry;
            palette[i][0] = e[0];
            palette[i][1] = e[1];
            palette[i][2] = e[2];
        }
    } else if (bit_count != 16 && bit_count != 24 && bit_count != 32) {
        return LoadResult::undecodable;
    }

    const std::size_t src_stride = ((static_cast<std::size_t>(width) * bit_count + 31) / 32) * 4;
    const std::size_t rows = static_cast<std::size_t>(height);
    if (pixel_offset > size || (size - pixel_offset) / src_stride < rows) {
        // The last row may lack its padding.
        const std::size_t last_row = (static_cast<std::size_t>(width) * bit_count + 7) / 8;
        if (pixel_offset > size || size - pixel_offset < src_stride * (rows - 1) + last_row)
            return LoadResult::undecodable;
    }

    Dib24& dib = out;  // reuses the caller's buffer; its contents are undefined after a failure
    dib.allocate(static_cast<int>(width), static_cast<int>(height));
    const int w = static_cast<int>(width);
    for (std::size_t r = 0; r < rows; ++r) {
        // File row r is the bottom row for bottom-up files and the top row for top-down files.
        const std::uint8_t* src = b + pixel_offset + r * src_stride;
        std::uint8_t* dst = dib.row(static_cast<int>(top_down ? rows - 1 - r : r));
        switch (bit_count) {
            case 24: std::memcpy(dst, src, static_cast<std::size_t>(w) * 3); break;
            case 32:
                for (int x = 0; x < w; ++x, src += 4, dst += 3) {
                    const std::uint32_t px = u32(src);
                    dst[0] = blue(px);
                    dst[1] = green(px);
                    dst[2] = red(px);
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x, src += 2, dst += 3) {
                    const std::uint32_t px = u16(src);
                    dst[0] = blue(px);
                    dst[1] = green(px);
                    dst[2] = red(px);
                }
                break;
            default: {
                const unsigned per_byte = 8 / bit_count;
                const unsigned mask = (1u << bit_count) - 1;
                for (int x = 0; x < w; ++x, dst += 3) {
                    const unsigned shift = 8 - bit_count * (static_cast<unsigned>(x) % per_byte + 1);
                    const unsigned index = (src[static_cast<unsigned>(x) / per_byte] >> shift) & mask;
                    std::memcpy(dst, palette[index], 3);
                }
            }
        }
    }
    return LoadResult::ok;
}

}  // namespace gifanim::platform
