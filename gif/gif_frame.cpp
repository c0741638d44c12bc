#include "gif/gif_frame.h"

#include <algorithm>
#include <cstring>

#include "gif/lzw_decoder.h"
#include "gif/lzw_encoder.h"

namespace gifanim {

namespace {

// The 16 colours of the fixed table (red, green, blue), for frames without any colour table.
constexpr std::uint8_t kSixteen[16][3] = {
    {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128}, {128, 0, 0},   {128, 0, 128},
    {128, 128, 0},   {128, 128, 128}, {192, 192, 192}, {0, 0, 255}, {0, 255, 0}, {0, 255, 255},
    {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
};

// The frame's pixels in its own rectangle, top-down, rows in place even when interlaced.
std::vector<std::uint8_t> frame_pixels(std::span<const std::uint8_t> gif, const FrameBlocks& f, int& width,
                                       int& height) {
    width = read16(gif, f.descriptor + 5);
    height = read16(gif, f.descriptor + 7);
    const std::size_t w = static_cast<std::size_t>(width);
    std::vector<std::uint8_t> sent(w * static_cast<std::size_t>(height));
    if (sent.empty()) return sent;  // no pixels, and no buffer to copy rows of
    const std::span<const std::uint8_t> data =
        f.image_data < gif.size() ? gif.subspan(f.image_data) : std::span<const std::uint8_t>{};
    lzw_decode(data, sent);
    if (!(gif[f.descriptor + 9] & 0x40) || height < 2) return sent;
    std::vector<std::uint8_t> rows(sent.size());
    const std::uint8_t* src = sent.data();
    for_each_gif_row(height, true, [&](int r) {
        std::memcpy(rows.data() + static_cast<std::size_t>(r) * w, src, w);
        src += w;
    });
    return rows;
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

void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> frame_as_bmp(std::span<const std::uint8_t> gif, const FrameBlocks& f) {
    const std::optional<ColourTable> table = frame_table(gif, f);
    const unsigned table_bits = table ? table->bits : (gif[10] & 7u) + 1;
    const unsigned depth = table_bits == 1 ? 1 : table_bits <= 4 ? 4 : 8;
    const unsigned colours = 1u << depth;

    int width = 0, height = 0;
    const std::vector<std::uint8_t> pixels = frame_pixels(gif, f, width, height);
    const std::size_t stride = ((static_cast<std::size_t>(width) * depth + 31) / 32) * 4;
    const std::size_t image_size = stride * static_cast<std::size_t>(height);
    const std::size_t offset = 14 + 40 + 4u * colours;
    std::vector<std::uint8_t> bmp(offset + image_size, 0);

    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    put32(bmp, 10, static_cast<std::uint32_t>(offset));
    put32(bmp, 14, 40);
    put32(bmp, 18, static_cast<std::uint32_t>(width));
    put32(bmp, 22, static_cast<std::uint32_t>(height));
    bmp[26] = 1;
    bmp[28] = static_cast<std::uint8_t>(depth);
    put32(bmp, 34, static_cast<std::uint32_t>(image_size));
    put32(bmp, 46, colours);

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

    const std::size_t w = static_cast<std::size_t>(width);
    if (w == 0) return bmp;  // rows of no bytes; `pixels` holds no buffer to copy from
    const unsigned mask = colours - 1;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* src = pixels.data() + static_cast<std::size_t>(r) * w;
        std::uint8_t* dst = bmp.data() + offset + stride * static_cast<std::size_t>(height - 1 - r);
        if (depth == 8) {
            std::memcpy(dst, src, w);
        } else {
            const unsigned per_byte = 8 / depth;
            for (std::size_t x = 0; x < w; ++x) {
                const unsigned shift = 8 - depth * (static_cast<unsigned>(x % per_byte) + 1);
                dst[x / per_byte] |= static_cast<std::uint8_t>((src[x] & mask) << shift);
            }
        }
    }
    return bmp;
}

platform::LoadResult decode_gif_picture(std::span<const std::uint8_t> gif, platform::Dib24& out) {
    if (gif.size() < 13 || !is_gif_signature(gif)) return platform::LoadResult::undecodable;
    const GifIndex index = build_index(gif);
    if (index.damaged || index.frames.empty()) return platform::LoadResult::undecodable;
    const std::optional<FrameBlocks> f = walk_frame(gif, index.frames.front());
    if (!f) return platform::LoadResult::undecodable;

    // The frame is decoded whole, so it must be a picture we would decode on its own.
    if (const auto r = platform::check_picture_size(std::max<int>(read16(gif, f->descriptor + 5), 1),
                                                    std::max<int>(read16(gif, f->descriptor + 7), 1));
        r != platform::LoadResult::ok)
        return r;
    int fw = 0, fh = 0;
    const std::vector<std::uint8_t> pixels = frame_pixels(gif, *f, fw, fh);
    const int left = read16(gif, f->descriptor + 1), top = read16(gif, f->descriptor + 3);
    int sw = read16(gif, 6), sh = read16(gif, 8);
    if (sw == 0 || sh == 0) {
        sw = fw;
        sh = fh;
    }
    if (const auto r = platform::check_picture_size(sw, sh); r != platform::LoadResult::ok) return r;

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
