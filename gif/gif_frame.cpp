#include "gif/gif_frame.h"

#include <algorithm>
#include <cstring>

#include "gif/failure.h"
#include "gif/lzw_decoder.h"
#include "platform/bmp.h"

namespace gifanim {

namespace {

// The 16 colours of the fixed table (red, green, blue), for frames without any colour table.
constexpr std::uint8_t kSixteen[16][3] = {
    {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128}, {128, 0, 0},   {128, 0, 128},
    {128, 128, 0},   {128, 128, 128}, {192, 192, 192}, {0, 0, 255}, {0, 255, 0}, {0, 255, 255},
    {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
};

struct FrameSize {
    std::size_t width = 0;
    std::size_t height = 0;
};

// The frame's image data: the minimum code size byte and the sub-blocks (empty when the bytes end
// before it).
std::span<const std::uint8_t> image_data(std::span<const std::uint8_t> gif, const FrameBlocks& f) {
    return f.image_data < gif.size() ? gif.subspan(f.image_data) : std::span<const std::uint8_t>{};
}

FrameSize frame_size(std::span<const std::uint8_t> gif, const FrameBlocks& f) {
    return {read16(gif, f.descriptor + 5), read16(gif, f.descriptor + 7)};
}

// Whether the frame's image data could fill it. A frame whose declared size is out of all
// proportion to its data (a few bytes claiming gigapixels) is refused before anything is allocated
// for it; every frame the data can fill decodes, whatever its size, and so does any frame of up to
// the picture loader's plausible size.
bool plausible(std::span<const std::uint8_t> gif, const FrameBlocks& f, std::uint64_t pixels) {
    return pixels <= static_cast<std::uint64_t>(platform::kPlausiblePixels) ||
           pixels <= lzw_pixel_bound(image_data(gif, f));
}

// The row of an interlaced frame of `height` rows that is sent k-th: the passes send rows 0, 8,
// 16, ...; then 4, 12, ...; then 2, 6, ...; then 1, 3, ...
std::size_t interlaced_row(std::size_t k, std::size_t height) {
    const std::size_t pass1 = (height + 7) / 8, pass2 = (height + 3) / 8, pass3 = (height + 1) / 4;
    if (k < pass1) return 8 * k;
    k -= pass1;
    if (k < pass2) return 8 * k + 4;
    k -= pass2;
    if (k < pass3) return 4 * k + 2;
    return 2 * (k - pass3) + 1;
}

// Puts rows of `row_bytes` bytes, `stride` apart from `base`, into their places: the row now at
// position k belongs at position `place(k)`. Cycle by cycle, so that each row moves once and only
// one row is held aside.
template <class Place>
void permute_rows(std::uint8_t* base, std::size_t stride, std::size_t row_bytes, std::size_t rows, Place place) {
    std::vector<bool> placed(rows);
    std::vector<std::uint8_t> held(row_bytes), next(row_bytes);
    for (std::size_t start = 0; start < rows; ++start) {
        if (placed[start] || place(start) == start) continue;
        std::memcpy(held.data(), base + start * stride, row_bytes);
        for (std::size_t from = start;;) {
            const std::size_t to = place(from);
            placed[to] = true;
            std::uint8_t* row = base + to * stride;
            if (to != start) std::memcpy(next.data(), row, row_bytes);
            std::memcpy(row, held.data(), row_bytes);
            if (to == start) break;
            held.swap(next);
            from = to;
        }
    }
}

// The frame's pixels in its own rectangle, one byte each, rows top-down and in place even when
// interlaced.
std::vector<std::uint8_t> frame_pixels(std::span<const std::uint8_t> gif, const FrameBlocks& f, FrameSize size) {
    std::vector<std::uint8_t> rows(size.width * size.height);
    if (rows.empty()) return rows;
    lzw_decode(image_data(gif, f), rows);
    if (gif[f.descriptor + 9] & 0x40)
        permute_rows(rows.data(), size.width, size.width, size.height,
                     [&](std::size_t k) { return interlaced_row(k, size.height); });
    return rows;
}

// Gives rows of `width` one-byte pixels, `width` apart from `base` in the order they were sent,
// their BMP layout: `depth` bits a pixel, `stride` apart. Rows move in the order that never
// overwrites a row still to be read.
void restride_rows(std::uint8_t* base, std::size_t width, std::size_t height, std::size_t stride, unsigned depth) {
    const std::size_t used = (width * depth + 7) / 8;
    std::vector<std::uint8_t> row(depth == 8 ? 0 : width);
    auto move_row = [&](std::size_t k) {
        const std::uint8_t* src = base + k * width;
        std::uint8_t* dst = base + k * stride;
        if (depth == 8) {
            std::memmove(dst, src, width);
        } else {
            std::memcpy(row.data(), src, width);
            const unsigned per_byte = 8 / depth, mask = (1u << depth) - 1;
            std::memset(dst, 0, used);
            for (std::size_t x = 0; x < width; ++x) {
                const unsigned shift = 8 - depth * (static_cast<unsigned>(x % per_byte) + 1);
                dst[x / per_byte] = static_cast<std::uint8_t>(dst[x / per_byte] | ((row[x] & mask) << shift));
            }
        }
        std::memset(dst + used, 0, stride - used);
    };
    if (stride == width && depth == 8) return;
    if (stride <= width) {
        for (std::size_t k = 0; k < height; ++k) move_row(k);
    } else {
        for (std::size_t k = height; k-- > 0;) move_row(k);
    }
}

// The table the frame's pixels index: the local one, else the global one.
std::optional<ColourTable> frame_table(std::span<const std::uint8_t> gif, const FrameBlocks& f) {
    return f.local ? f.local : global_table(gif);
}

// Red, green, blue of an entry, black when the loaded bytes end before it.
void entry_colour(std::span<const std::uint8_t> gif, const ColourTable& t, unsigned i, std::uint8_t rgb[3]) {
    const std::size_t at = t.offset + 3u * i;
    for (int c = 0; c < 3; ++c) rgb[c] = i < t.entries && at + 3 <= gif.size() ? gif[at + c] : 0;
}

}  // namespace

std::vector<std::uint8_t> frame_as_bmp(std::span<const std::uint8_t> gif, const FrameBlocks& f) {
    const std::optional<ColourTable> table = frame_table(gif, f);
    const unsigned table_bits = table ? table->bits : (gif[10] & 7u) + 1;
    const unsigned depth = table_bits == 1 ? 1 : table_bits <= 4 ? 4 : 8;
    const unsigned colours = 1u << depth;

    const FrameSize size = frame_size(gif, f);
    const std::size_t w = size.width, h = size.height;
    if (!plausible(gif, f, std::uint64_t{w} * h)) fail("当前帧声明的尺寸远超其图像数据所能填满的大小");
    const std::size_t stride = ((w * depth + 31) / 32) * 4;
    const std::size_t image_size = stride * h;
    const std::size_t offset = 14 + 40 + 4u * colours;
    if (!platform::bmp_file_size(w, h, depth, static_cast<std::uint32_t>(offset))) fail("当前帧太大，BMP文件容纳不下");
    // One buffer for the frame: the pixels are decoded into it one byte each in the order they
    // are sent, then packed to the BMP's depth and stride and put in their rows in place.
    std::vector<std::uint8_t> bmp(offset + std::max(image_size, w * h), 0);

    platform::write_bmp_headers(std::span<std::uint8_t, platform::kBmpHeadersSize>(bmp.data(), platform::kBmpHeadersSize),
                                static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), depth, colours,
                                static_cast<std::uint32_t>(image_size), static_cast<std::uint32_t>(offset));

    for (unsigned i = 0; i < colours; ++i) {
        std::uint8_t rgb[3];
        if (table) {
            entry_colour(gif, *table, i, rgb);
        } else if (depth == 1) {
            rgb[0] = rgb[1] = rgb[2] = i ? 255 : 0;
        } else if (depth == 4) {
            std::memcpy(rgb, kSixteen[i], 3);
        } else {
            rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(i);
        }
        std::uint8_t* e = bmp.data() + 54 + 4 * i;
        e[0] = rgb[2];
        e[1] = rgb[1];
        e[2] = rgb[0];
    }

    if (w != 0 && h != 0) {
        std::uint8_t* pixels = bmp.data() + offset;
        lzw_decode(image_data(gif, f), {pixels, w * h});
        restride_rows(pixels, w, h, stride, depth);
        const bool interlaced = gif[f.descriptor + 9] & 0x40;
        // BMP rows run bottom-up.
        permute_rows(pixels, stride, stride, h, [&](std::size_t k) {
            return h - 1 - (interlaced ? interlaced_row(k, h) : k);
        });
    }
    bmp.resize(offset + image_size);
    return bmp;
}

platform::LoadResult decode_gif_picture(std::span<const std::uint8_t> gif, platform::Dib24& out) {
    if (gif.size() < 13 || !is_gif_signature(gif)) return platform::LoadResult::undecodable;
    const GifIndex index = build_index(gif);
    if (index.damaged || index.frames.empty()) return platform::LoadResult::undecodable;
    const std::optional<FrameBlocks> f = walk_frame(gif, index.frames.front());
    if (!f) return platform::LoadResult::undecodable;

    // The frame is decoded whole, so it must be a picture we would decode on its own.
    const FrameSize size = frame_size(gif, *f);
    if (const auto r = platform::check_picture_size(std::max<std::size_t>(size.width, 1),
                                                    std::max<std::size_t>(size.height, 1));
        r != platform::LoadResult::ok)
        return r;
    if (!plausible(gif, *f, std::uint64_t{size.width} * size.height)) return platform::LoadResult::implausible;
    int sw = read16(gif, 6), sh = read16(gif, 8);
    if (sw == 0 || sh == 0) {
        sw = static_cast<int>(size.width);
        sh = static_cast<int>(size.height);
    }
    if (const auto r = platform::check_picture_size(sw, sh); r != platform::LoadResult::ok) return r;
    // The screen around a frame is background; a screen out of all proportion to the frame's data
    // is refused as the frame would be.
    if (!plausible(gif, *f, std::uint64_t(sw) * std::uint64_t(sh))) return platform::LoadResult::implausible;
    const std::vector<std::uint8_t> pixels = frame_pixels(gif, *f, size);
    const int fw = static_cast<int>(size.width), fh = static_cast<int>(size.height);
    const int left = read16(gif, f->descriptor + 1), top = read16(gif, f->descriptor + 3);

    std::uint8_t colour[256][3] = {};
    if (const auto table = frame_table(gif, *f)) {
        for (unsigned i = 0; i < 256; ++i) entry_colour(gif, *table, i, colour[i]);
    }
    int transparent = -1;
    if (f->control && (gif[*f->control + 3] & 1)) transparent = gif[*f->control + 6];

    out.allocate(sw, sh);
    for (int y = 0; y < sh; ++y) std::memset(out.row(y), 0, static_cast<std::size_t>(sw) * 3);
    const int x0 = std::min(left, sw), x1 = std::min(left + fw, sw);
    for (int y = top; y < std::min(top + fh, sh); ++y) {
        const std::uint8_t* src = pixels.data() + static_cast<std::size_t>(y - top) * static_cast<std::size_t>(fw);
        std::uint8_t* dst = out.row(sh - 1 - y);
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t p = src[x - left];
            if (p == transparent) continue;
            dst[3 * x] = colour[p][2];
            dst[3 * x + 1] = colour[p][1];
            dst[3 * x + 2] = colour[p][0];
        }
    }
    return platform::LoadResult::ok;
}

}  // namespace gifanim
