#include "gif/lzw_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace gifanim {

static_assert(std::endian::native == std::endian::little, "the bit packer stores little-endian words");

namespace {

constexpr unsigned kMaxCode = 4095;
constexpr unsigned kRunCapacity = 4096;
constexpr std::uint16_t kNoRun = 0xFFFF;

// Room for the packed codes of n pixels: at most one 12-bit code per pixel, plus clear codes, the
// end code and slack for the word-wide stores of the bit packer.
std::size_t packed_capacity(std::size_t n) { return n + n / 2 + n / 1024 + 64; }

// At most 4096 - 6 strings live at once, so the table is never more than half full.
constexpr unsigned kSlotBits = 13;
constexpr std::uint32_t kSlots = 1u << kSlotBits;

inline std::uint32_t slot_of(std::uint32_t key) { return (key * 0x9E3779B1u) >> (32 - kSlotBits); }

// The code a slot holds for `key`, or a value outside 1..4095 when the slot holds another string or
// none: slot - (key << 12) is the code exactly when the slot's key is `key`, wraps to a value of
// 4096 or more for any other key, and is 0 - (key << 12), never in 1..4095, for an empty slot.
inline std::uint32_t code_in(std::uint32_t slot, std::uint32_t key) { return slot - (key << 12); }
inline bool is_code(std::uint32_t v) { return v - 1u < kMaxCode; }

// How many of the next `limit` pixels equal `value` (limit >= 1).
inline std::size_t count_run(const std::uint8_t* p, std::size_t limit, std::uint8_t value) {
    std::size_t n = 0;
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    while (n + 8 <= limit) {
        std::uint64_t word;
        std::memcpy(&word, p + n, 8);
        const std::uint64_t diff = word ^ pattern;
        if (diff != 0) return n + static_cast<std::size_t>(std::countr_zero(diff) / 8);
        n += 8;
    }
    while (n < limit && p[n] == value) ++n;
    return n;
}

// Packs codes LSB-first into bytes.
struct BitPacker {
    std::uint8_t* out;
    std::size_t pos = 0;
    std::uint64_t acc = 0;
    unsigned bits = 0;

    inline void emit(unsigned code, unsigned width) {
        acc |= static_cast<std::uint64_t>(code) << bits;
        bits += width;
        if (bits >= 32) {
            const auto word = static_cast<std::uint32_t>(acc);
            std::memcpy(out + pos, &word, 4);
            pos += 4;
            acc >>= 32;
            bits -= 32;
        }
    }
    void flush() {
        while (bits > 0) {
            out[pos++] = static_cast<std::uint8_t>(acc);
            acc >>= 8;
            bits = bits > 8 ? bits - 8 : 0;
        }
    }
};

}  // namespace

std::size_t LzwEncoder::max_data_size(std::size_t pixels) {
    const std::size_t packed = packed_capacity(pixels);
    return 1 + packed + (packed + 254) / 255;
}

void LzwEncoder::reserve(std::size_t pixels) {
    sequence_.reserve(pixels);
    packed_.reserve(packed_capacity(pixels));
}

LzwEncoder::LzwEncoder()
    : slots_(std::make_unique<std::uint32_t[]>(kSlots)),
      run_byte_(std::make_unique<std::uint16_t[]>(4096)),
      run_len_(std::make_unique<std::uint16_t[]>(4096)),
      run_code_(std::make_unique<std::uint16_t[]>(256 * kRunCapacity)) {}

void LzwEncoder::reset_dictionary() {
    std::memset(slots_.get(), 0, kSlots * sizeof(std::uint32_t));
    for (unsigned c = 0; c < 256; ++c) {
        run_max_[c] = 1;
        run_code_[c * kRunCapacity + 1] = static_cast<std::uint16_t>(c);
    }
}

void LzwEncoder::encode(const std::uint8_t* pixels, int width, int height, std::ptrdiff_t stride,
                        int bits_per_pixel, bool interlace, std::vector<std::uint8_t>& out) {
    min_code_size_ = static_cast<unsigned>(std::max(bits_per_pixel, 2));
    clear_code_ = 1u << min_code_size_;
    first_code_ = clear_code_ + 2;
    const unsigned alphabet = 1u << std::min(bits_per_pixel, 8);

    // Root codes stand for themselves and are runs of length one.
    for (unsigned c = 0; c < 4096; ++c) {
        run_byte_[c] = c < alphabet ? static_cast<std::uint16_t>(c) : kNoRun;
        run_len_[c] = 1;
    }

    const std::size_t w = static_cast<std::size_t>(std::max(width, 0));
    const std::size_t n = w * static_cast<std::size_t>(std::max(height, 0));
    const std::uint8_t* seq = pixels;
    const bool mask = alphabet < 256;
    if (interlace || mask || (stride != static_cast<std::ptrdiff_t>(w) && height > 1)) {
        sequence_.resize(n);
        std::uint8_t* dst = sequence_.data();
        for_each_gif_row(height, interlace, [&](int r) {
            std::memcpy(dst, pixels + stride * r, w);
            dst += w;
        });
        if (mask)
            for (auto& p : sequence_) p = static_cast<std::uint8_t>(p & (alphabet - 1));
        seq = sequence_.data();
    }

    packed_.resize(packed_capacity(n));
    const std::size_t packed = encode_sequence(seq, n);

    // Minimum code size, then sub-blocks of 255 data bytes (the last one shorter).
    const std::size_t blocks = (packed + 254) / 255;
    const std::size_t start = out.size();
    out.resize(start + 1 + blocks + packed);
    std::uint8_t* dst = out.data() + start;
    *dst++ = static_cast<std::uint8_t>(min_code_size_);
    for (std::size_t done = 0; done < packed;) {
        const std::size_t len = std::min<std::size_t>(255, packed - done);
        *dst++ = static_cast<std::uint8_t>(len);
        std::memcpy(dst, packed_.data() + done, len);
        dst += len;
        done += len;
    }
}

std::size_t LzwEncoder::encode_sequence(const std::uint8_t* in, std::size_t n) {
    const unsigned initial_width = min_code_size_ + 1;
    unsigned width = initial_width;
    unsigned limit = 1u << initial_width;
    unsigned next = first_code_;
    BitPacker bits{packed_.data()};
    reset_dictionary();
    bits.emit(clear_code_, width);
    if (n == 0) {
        bits.emit(clear_code_ + 1, width);
        bits.flush();
        return bits.pos;
    }

    std::uint32_t* const slots = slots_.get();
    std::uint16_t* const run_byte = run_byte_.get();
    std::uint16_t* const run_len = run_len_.get();
    std::uint16_t* const run_code = run_code_.get();

    unsigned prefix = in[0];
    std::size_t i = 1;
    while (i < n) {
        const unsigned c = in[i];
        if (run_byte[prefix] == c) {
            // The prefix is c repeated k times and the dictionary holds every run of c up to
            // run_max_[c]: the greedy match walks straight through them.
            const unsigned k = run_len[prefix];
            const unsigned longest = run_max_[c];
            if (k < longest) {
                const std::size_t r = count_run(in + i, std::min<std::size_t>(n - i, longest - k), static_cast<std::uint8_t>(c));
                prefix = run_code[c * kRunCapacity + k + r];
                i += r;
                continue;
            }
        }
        const std::uint32_t key = (prefix << 8) | c;
        std::uint32_t slot = slot_of(key);
        std::uint32_t found = 0;
        for (std::uint32_t s; (s = slots[slot]) != 0; slot = (slot + 1) & (kSlots - 1)) {
            found = code_in(s, key);
            if (is_code(found)) break;
        }
        if (is_code(found)) {
            prefix = found;
            ++i;
            continue;
        }

        bits.emit(prefix, width);
        const unsigned before = next;
        if (next <= kMaxCode) {
            slots[slot] = (key << 12) | next;
            if (run_byte[prefix] == c) {
                const unsigned len = run_len[prefix] + 1u;
                run_byte[next] = static_cast<std::uint16_t>(c);
                run_len[next] = static_cast<std::uint16_t>(len);
                run_max_[c] = static_cast<std::uint16_t>(len);
                run_code[c * kRunCapacity + len] = static_cast<std::uint16_t>(next);
            } else {
                run_byte[next] = kNoRun;
            }
            ++next;
        }
        if (before == limit) {
            if (width < 12) {
                ++width;
                limit <<= 1;
            } else {
                bits.emit(clear_code_, 12);
                width = initial_width;
                limit = 1u << initial_width;
                next = first_code_;
                reset_dictionary();
            }
        }
        prefix = c;
        ++i;
    }
    bits.emit(prefix, width);
    bits.emit(clear_code_ + 1, width);
    bits.flush();
    return bits.pos;
}

}  // namespace gifanim
