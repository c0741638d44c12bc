#include "gif/lzw_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace gifanim {

namespace {

constexpr std::size_t kPiece = 32768;

// Gathers the sub-blocks' data into a staging piece and hands out codes LSB-first.
class CodeReader {
public:
    CodeReader(std::span<const std::uint8_t> data, std::size_t pos) : data_(data), pos_(pos) {}

    // False when the data has run out before `width` more bits.
    bool read(unsigned width, unsigned& code) {
        while (bits_ < width) {
            if (next_ == filled_ && !refill()) return false;
            acc_ |= static_cast<std::uint64_t>(piece_[next_++]) << bits_;
            bits_ += 8;
        }
        code = static_cast<unsigned>(acc_ & ((1u << width) - 1));
        acc_ >>= width;
        bits_ -= width;
        return true;
    }

private:
    bool refill() {
        next_ = filled_ = 0;
        while (filled_ < kPiece && !ended_) {
            if (block_left_ == 0) {
                if (pos_ >= data_.size()) {
                    ended_ = true;
                    break;
                }
                block_left_ = data_[pos_++];
                if (block_left_ == 0) {
                    ended_ = true;
                    break;
                }
            }
            const std::size_t available = data_.size() - pos_;
            const std::size_t take = std::min({block_left_, kPiece - filled_, available});
            std::memcpy(piece_.data() + filled_, data_.data() + pos_, take);
            filled_ += take;
            pos_ += take;
            block_left_ -= take;
            if (take == 0) ended_ = true;  // the block runs past the end of the bytes
        }
        return filled_ > 0;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    std::size_t block_left_ = 0;
    bool ended_ = false;
    std::array<std::uint8_t, kPiece> piece_;
    std::size_t next_ = 0, filled_ = 0;
    std::uint64_t acc_ = 0;
    unsigned bits_ = 0;
};

}  // namespace

std::size_t lzw_decode(std::span<const std::uint8_t> data, std::span<std::uint8_t> pixels) {
    std::uint8_t* const out = pixels.data();
    const std::size_t n = pixels.size();
    std::size_t done = 0;
    const auto finish = [&] {
        if (done < n) std::memset(out + done, 0, n - done);  // `out` is null for an empty span
        return done;
    };
    if (data.empty() || n == 0) return finish();
    const unsigned min_size = data[0];
    if (min_size < 1 || min_size > 11) return finish();

    // Every string of the dictionary stands somewhere in the output already: code k is the
    // length_[k] pixels from start_[k] on. A new code is the previous string plus one pixel, which
    // is exactly where the previous string was written, one longer.
    std::array<std::uint32_t, 4096> start;
    std::array<std::uint16_t, 4096> length;
    const unsigned clear = 1u << min_size;
    const unsigned end = clear + 1;
    unsigned width = min_size + 1;
    unsigned next = clear + 2;
    int previous = -1;               // no previous code right after a clear
    std::size_t previous_start = 0;  // where the previous code's string was written

    CodeReader reader(data, 1);
    unsigned code = 0;
    while (done < n && reader.read(width, code)) {
        if (code == clear) {
            width = min_size + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) break;
        if (previous < 0) {
            if (code >= clear) break;  // the first code after a clear must be a pixel
            out[done] = static_cast<std::uint8_t>(code);
            previous = static_cast<int>(code);
            previous_start = done++;
            continue;
        }
        const std::size_t here = done;
        if (code < clear) {
            out[done++] = static_cast<std::uint8_t>(code);
        } else if (code < next && code > end) {
            const std::size_t take = std::min<std::size_t>(length[code], n - done);
            std::memmove(out + done, out + start[code], take);
            done += take;
        } else if (code == next) {
            // The string being defined: the previous one and its own first pixel. Copied forwards
            // byte by byte, since the source runs into the bytes being written.
            const unsigned prev_len = previous < static_cast<int>(clear) ? 1u : length[previous];
            const std::size_t take = std::min<std::size_t>(prev_len + 1, n - done);
            for (std::size_t i = 0; i < take; ++i) out[done + i] = out[previous_start + i];
            done += take;
        } else {
            break;  // a code beyond the dictionary
        }
        if (next < 4096) {
            const unsigned prev_len = previous < static_cast<int>(clear) ? 1u : length[previous];
            start[next] = static_cast<std::uint32_t>(previous_start);
            length[next] = static_cast<std::uint16_t>(prev_len + 1);
            ++next;
            if (next == (1u << width) && width < 12) ++width;
        }
        previous = static_cast<int>(code);
        previous_start = here;
    }
    return finish();
}

std::uint64_t lzw_pixel_bound(std::span<const std::uint8_t> data) {
    if (data.empty() || data[0] < 1 || data[0] > 11) return 0;
    std::uint64_t bytes = 0;
    for (std::size_t pos = 1; pos < data.size() && data[pos] != 0; pos += 1 + data[pos])
        bytes += std::min<std::size_t>(data[pos], data.size() - pos - 1);
    return bytes * 8 / (data[0] + 1u) * 4096;
}

}  // namespace gifanim
