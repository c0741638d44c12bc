#include "tests/unit/lzw_reference.h"

namespace gifanim::test {

namespace {

constexpr int kSlots = 5051;

struct Writer {
    std::vector<std::uint8_t>& file;
    std::uint32_t accumulator = 0;
    int bits_held = 0;
    std::uint8_t sub_block[256] = {};
    int filled = 1;
    std::vector<std::uint8_t> staging;

    void close_sub_block() {
        sub_block[0] = static_cast<std::uint8_t>(filled - 1);
        if (staging.size() + 256 >= 32768) {
            file.insert(file.end(), staging.begin(), staging.end());
            staging.clear();
        }
        staging.insert(staging.end(), sub_block, sub_block + filled);
        filled = 1;
    }
    void put_byte(std::uint8_t b) {
        sub_block[filled++] = b;
        if (filled - 1 == 255) close_sub_block();
    }
    void emit(int code, int width) {
        accumulator |= static_cast<std::uint32_t>(code) << bits_held;
        bits_held += width;
        while (bits_held >= 8) {
            put_byte(static_cast<std::uint8_t>(accumulator & 0xFF));
            accumulator >>= 8;
            bits_held -= 8;
        }
    }
};

}  // namespace

std::vector<std::uint8_t> reference_encode(const std::vector<std::uint8_t>& rows, int width, int height,
                                           int row_length, int bits_per_pixel, bool interlace) {
    const int m = bits_per_pixel < 2 ? 2 : bits_per_pixel;
    std::vector<std::uint8_t> file;
    std::vector<std::uint16_t> code_table(kSlots), prefix_table(kSlots);
    std::vector<std::uint8_t> pixel_table(kSlots);
    auto fill = [&] {
        for (auto& c : code_table) c = 0xFFFF;
    };

    // Image rows in sending order; image row r is bitmap row height - 1 - r.
    std::vector<int> order;
    if (interlace) {
        for (int r = 0; r < height; r += 8) order.push_back(r);
        for (int r = 4; r < height; r += 8) order.push_back(r);
        for (int r = 2; r < height; r += 4) order.push_back(r);
        for (int r = 1; r < height; r += 2) order.push_back(r);
    } else {
        for (int r = 0; r < height; ++r) order.push_back(r);
    }
    auto pixel = [&](int image_row, int x) {
        return static_cast<int>(rows[static_cast<std::size_t>(height - 1 - image_row) * row_length + x]);
    };

    fill();
    int width_bits = m + 1;
    int next_code = (1 << m) + 2;
    int limit = 1 << (m + 1);
    const int clear_code = 1 << m;
    file.push_back(static_cast<std::uint8_t>(m));
    Writer out{file, 0, 0, {}, 1, {}};
    out.emit(clear_code, width_bits);

    int prefix = -1;
    for (int image_row : order) {
        for (int x = 0; x < width; ++x) {
            const int c = pixel(image_row, x);
            if (prefix < 0) {
                prefix = c;
                continue;
            }
            int h = (c << 4) ^ prefix;
            auto matches = [&](int slot) {
                return code_table[slot] != 0xFFFF && prefix_table[slot] == prefix && pixel_table[slot] == c;
            };
            if (code_table[h] != 0xFFFF && !matches(h)) {
                const int d = h == 0 ? 1 : kSlots - h;
                do {
                    if (h < d) h += kSlots;
                    h -= d;
                } while (code_table[h] != 0xFFFF && !matches(h));
            }
            if (matches(h)) {
                prefix = code_table[h];
                continue;
            }
            out.emit(prefix, width_bits);
            const int before = next_code;
            if (next_code < 4096) {
                code_table[h] = static_cast<std::uint16_t>(next_code);
                prefix_table[h] = static_cast<std::uint16_t>(prefix);
                pixel_table[h] = static_cast<std::uint8_t>(c);
                ++next_code;
            }
            if (before == limit) {
                if (width_bits < 12) {
                    ++width_bits;
                    limit *= 2;
                } else {
                    out.emit(clear_code, 12);
                    fill();
                    width_bits = m + 1;
                    next_code = (1 << m) + 2;
                    limit = 1 << (m + 1);
                }
            }
            prefix = c;
        }
    }
    out.emit(prefix, width_bits);
    out.emit(clear_code + 1, width_bits);
    if (out.bits_held > 0) out.put_byte(static_cast<std::uint8_t>(out.accumulator & 0xFF));
    if (out.filled > 1) out.close_sub_block();
    file.insert(file.end(), out.staging.begin(), out.staging.end());
    return file;
}

}  // namespace gifanim::test
