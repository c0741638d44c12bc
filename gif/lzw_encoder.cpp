#include "gif/lzw_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace gifanim {

static_assert(std::endian::native == std::endian::little, "the bit packer stores little-endian words");

namespace {

constexpr unsigned kMaxCode = 4095;
constexpr unsigned kRunCapacity = 4096;

// Room for the packed codes of n pixels: at most one 12-bit code per pixel, plus clear codes, the
// end code and slack for the word-wide stores of the bit packer.
std::size_t packed_capacity(std::size_t n) { return n + n / 2 + n / 1024 + 64; }

// At most 4096 - 6 strings go into the table, so it is never more than half full.
constexpr unsigned kSlotBits = 13;
constexpr std::uint32_t kSlots = 1u << kSlotBits;

inline std::uint32_t slot_of(std::uint32_t key) { return (key * 0x9E3779B1u) >> (32 - kSlotBits); }

// The code a slot holds for `key`, or a value outside 1..4095 when the slot holds another string or
// none: slot - (key << 12) is the code exactly when the slot's key is `key`, wraps to a value of
// 4096 or more for any other key, and is 0 - (key << 12), never in 1..4095, for an empty slot.
inline std::uint32_t code_in(std::uint32_t slot, std::uint32_t key) { return slot - (key << 12); }
inline bool is_code(std::uint32_t v) { return v - 1u < kMaxCode; }

// How many of the next `limit` pixels equal `value`, given that the first does and that `avail`
// (>= limit) bytes may be read from p.
inline std::size_t count_run(const std::uint8_t* p, std::size_t limit, std::size_t avail, std::uint8_t value) {
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    std::size_t n = 0;
    while (n + 8 <= avail) {
        std::uint64_t word;
        std::memcpy(&word, p + n, 8);
        const std::uint64_t diff = word ^ pattern;
        if (diff != 0) return std::min(limit, n + static_cast<std::size_t>(std::countr_zero(diff) / 8));
        n += 8;
        if (n >= limit) return limit;
    }
    while (n < limit && p[n] == value) ++n;
    return n;
}

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
    // Left unset: a run's code is read only up to run_max_, and each is written on the way there.
    // Runs of one length lie side by side, so that only as many pages are touched as the longest
    // run needs.
    : run_code_(new std::uint16_t[kRunCapacity * 256]),
      pair_code_(std::make_unique<std::uint16_t[]>(256 * 256)),
      slots_(std::make_unique<std::uint32_t[]>(kSlots)),
      successor_(std::make_unique<std::uint32_t[]>(4096)) {
    pairs_set_.reserve(4096);  // more than one generation of codes, so encode() never allocates here
}

void LzwEncoder::reset_dictionary() {
    std::memset(slots_.get(), 0, kSlots * sizeof(std::uint32_t));
    std::memset(successor_.get(), 0, 4096 * sizeof(std::uint32_t));
    std::fill(std::begin(run_max_), std::end(run_max_), std::uint16_t{1});
    for (const std::uint16_t pair : pairs_set_) pair_code_[pair] = 0;
    pairs_set_.clear();
}

void LzwEncoder::encode(const std::uint8_t* pixels, int width, int height, std::ptrdiff_t stride,
                        int bits_per_pixel, bool interlace, std::vector<std::uint8_t>& out) {
    min_code_size_ = static_cast<unsigned>(std::max(bits_per_pixel, 2));
    clear_code_ = 1u << min_code_size_;
    first_code_ = clear_code_ + 2;
    const unsigned alphabet = 1u << std::min(bits_per_pixel, 8);

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
    reset_dictionary();
    std::uint32_t* const slots = slots_.get();
    std::uint32_t* const successor = successor_.get();
    std::uint16_t* const run_code = run_code_.get();
    std::uint16_t* const run_max = run_max_;
    std::uint16_t* const pair_code = pair_code_.get();
    const unsigned clear = clear_code_;
    const unsigned initial_width = min_code_size_ + 1;
    unsigned width = initial_width;
    unsigned limit = 1u << initial_width;
    unsigned next = first_code_;

    // The codes go LSB-first into `acc`; every code stores eight bytes at `out`, which then moves on
    // by the whole bytes done, so the buffer needs eight bytes of slack beyond the packed data.
    std::uint8_t* out = packed_.data();
    std::uint64_t acc = 0;
    unsigned bits = 0;
    const auto emit = [&](unsigned code, unsigned code_width) {
        acc |= static_cast<std::uint64_t>(code) << bits;
        bits += code_width;
        std::memcpy(out, &acc, 8);
        out += bits >> 3;
        acc >>= bits & ~7u;
        bits &= 7;
    };
    // After a code has been sent and `before` was the next code at that point: a wider code from
    // the one that fills the current width on, or a clear code once 4096 codes are assigned.
    const auto after_code = [&](unsigned before) {
        if (before != limit) return;
        if (width < 12) {
            ++width;
            limit <<= 1;
        } else {
            emit(clear, 12);
            width = initial_width;
            limit = 1u << initial_width;
            next = first_code_;
            reset_dictionary();
        }
    };

    emit(clear, width);
    if (n != 0) {
        const std::uint8_t* p = in + 1;
        const std::uint8_t* const end = in + n;
        unsigned prefix = in[0];
        // At the top of this loop the prefix is the root code of the pixel before p. Only there can
        // it be a run of the pixel at p or a string of one pixel: every later prefix is a longer run
        // followed by another value, a pair, or a string from the table.
        while (p != end) {
            unsigned c = *p;
            if (c == prefix) {
                // The dictionary holds every run of c up to run_max[c]: the greedy match walks
                // straight through them, and only the run one longer can be missing.
                const unsigned longest = run_max[c];
                unsigned k = 1;
                if (longest > 1) {
                    const auto avail = static_cast<std::size_t>(end - p);
                    const std::size_t r =
                        count_run(p, std::min<std::size_t>(avail, longest - 1), avail, static_cast<std::uint8_t>(c));
                    p += r;
                    k += static_cast<unsigned>(r);
                    prefix = run_code[k * 256 + c];
                    if (p == end) break;
                }
                if (*p == c) {
                    emit(prefix, width);
                    const unsigned before = next;
                    if (next <= kMaxCode) {
                        run_max[c] = static_cast<std::uint16_t>(k + 1);
                        run_code[(k + 1) * 256 + c] = static_cast<std::uint16_t>(next);
                        ++next;
                    }
                    after_code(before);
                    prefix = c;
                    ++p;
                    continue;
                }
                c = *p;
            } else {
                // The prefix is a root code, and strings of two pixels have a table of their own:
                // one load, no hashing.
                const unsigned pair = prefix << 8 | c;
                const unsigned code = pair_code[pair];
                if (code == 0) {
                    emit(prefix, width);
                    const unsigned before = next;
                    if (next <= kMaxCode) {
                        pair_code[pair] = static_cast<std::uint16_t>(next);
                        pairs_set_.push_back(static_cast<std::uint16_t>(pair));
                        ++next;
                    }
                    after_code(before);
                    prefix = c;
                    ++p;
                    continue;
                }
                prefix = code;
                if (++p == end) break;
                c = *p;
            }
            // The prefix is a run or a pair or longer: extend the match through the table until
            // prefix + c is not in the dictionary. Each code remembers the last string found or
            // made from it, so a match that retraces a recent path needs no hashing:
            // successor[prefix] - (c << 12) is the code of prefix + c exactly when that string is
            // the one remembered.
            std::uint32_t key, slot;
            for (;;) {
                std::uint32_t found = successor[prefix] - (c << 12);
                if (!is_code(found)) {
                    key = (prefix << 8) | c;
                    slot = slot_of(key);
                    std::uint32_t held = slots[slot];
                    found = code_in(held, key);
                    while (!is_code(found) && held != 0) {
                        slot = (slot + 1) & (kSlots - 1);
                        held = slots[slot];
                        found = code_in(held, key);
                    }
                    if (!is_code(found)) break;
                    successor[prefix] = (c << 12) | found;
                }
                prefix = found;
                if (++p == end) goto done;
                c = *p;
            }
            emit(prefix, width);
            const unsigned before = next;
            if (next <= kMaxCode) {
                slots[slot] = (key << 12) | next;
                successor[prefix] = (c << 12) | next;
                ++next;
            }
            after_code(before);
            prefix = c;
            ++p;
        }
    done:
        emit(prefix, width);
    }
    emit(clear + 1, width);
    if (bits > 0) *out++ = static_cast<std::uint8_t>(acc);
    return static_cast<std::size_t>(out - packed_.data());
}

}  // namespace gifanim
