#include "gif/lossy_lzw.h"

#include <algorithm>
#include <limits>

#include "gif/lzw_encoder.h"

namespace gifanim {

namespace {

constexpr int kMaxCode = 4095;
constexpr std::int16_t kNone = -1;

// Codes packed least significant bit first, then cut into sub-blocks of up to 255 bytes.
class CodeWriter {
public:
    explicit CodeWriter(std::vector<std::uint8_t>& packed) : packed_(packed) {}
    void put(unsigned code, unsigned width) {
        acc_ |= static_cast<std::uint64_t>(code) << fill_;
        fill_ += width;
        while (fill_ >= 8) {
            packed_.push_back(static_cast<std::uint8_t>(acc_));
            acc_ >>= 8;
            fill_ -= 8;
        }
    }
    void flush() {
        if (fill_ > 0) packed_.push_back(static_cast<std::uint8_t>(acc_));
        acc_ = 0;
        fill_ = 0;
    }

private:
    std::vector<std::uint8_t>& packed_;
    std::uint64_t acc_ = 0;
    unsigned fill_ = 0;
};

}  // namespace

void lossy_lzw_encode(const PixelChoices& px, unsigned bits, bool interlace, std::vector<std::uint8_t>& out,
                      std::vector<std::uint8_t>& chosen) {
    const unsigned min_code_size = std::max(2u, bits);
    const unsigned clear_code = 1u << min_code_size;
    const unsigned end_code = clear_code + 1;
    const std::size_t area = static_cast<std::size_t>(px.width) * static_cast<std::size_t>(px.height);
    chosen.resize(area);

    // The string table as a tree: each code's first child, next sibling and last pixel.
    std::vector<std::int16_t> first_child(kMaxCode + 1, kNone), next_sibling(kMaxCode + 1, kNone);
    std::vector<std::uint8_t> pixel_of(kMaxCode + 1, 0);
    unsigned next_code = end_code + 1;
    unsigned width = min_code_size + 1;

    std::vector<std::uint8_t> packed;
    packed.reserve(area / 2 + 64);
    CodeWriter writer(packed);
    const auto emit = [&](unsigned code) {
        writer.put(code, width);
        if (next_code >= (1u << width) && width < 12) ++width;
    };
    const auto restart = [&] {
        std::fill(first_child.begin(), first_child.end(), kNone);
        next_code = end_code + 1;
        width = min_code_size + 1;
    };

    // The error of showing entry k at pixel i, or above every tolerance when it may not.
    const auto error = [&](std::size_t i, unsigned k) -> unsigned {
        if (static_cast<int>(k) == px.transparent) return distance2(px.shown[i], px.wanted[i]);
        if (k >= px.table.size()) return std::numeric_limits<unsigned>::max();
        return distance2(px.table[k], px.wanted[i]);
    };

    // Pixels in the order they are sent.
    std::vector<std::uint32_t> order;
    if (interlace) {
        order.reserve(area);
        for_each_gif_row(px.height, true, [&](int r) {
            for (int x = 0; x < px.width; ++x) order.push_back(static_cast<std::uint32_t>(r * px.width + x));
        });
    }
    const auto pixel_at = [&](std::size_t pos) -> std::size_t { return interlace ? order[pos] : pos; };

    // The child of `node` that may show the pixel sent at `pos` best: its own entry, or the
    // closest within the tolerance; kNone when there is none.
    const auto best_child = [&](int node, std::size_t pos) {
        const std::size_t i = pixel_at(pos);
        const unsigned own = px.fallback[i];
        int best = kNone;
        unsigned best_error = std::numeric_limits<unsigned>::max();
        for (int c = first_child[static_cast<std::size_t>(node)]; c != kNone; c = next_sibling[static_cast<std::size_t>(c)]) {
            const unsigned k = pixel_of[static_cast<std::size_t>(c)];
            const unsigned e = error(i, k);
            if (k != own && e > px.tolerance2[i]) continue;
            if (best == kNone || e < best_error) {
                best = c;
                best_error = e;
            }
        }
        return best;
    };
    // How many more pixels from `pos` on the string of `node` goes on matching, taking the best
    // child each time, up to a limit.
    constexpr int kLookahead = 24;
    const auto reach = [&](int node, std::size_t pos) {
        int n = 0;
        while (n < kLookahead && pos < area) {
            node = best_child(node, pos++);
            if (node == kNone) break;
            ++n;
        }
        return n;
    };

    emit(clear_code);
    int current = -1;
    int candidates[256];
    for (std::size_t pos = 0; pos < area; ++pos) {
        const std::size_t i = pixel_at(pos);
        const unsigned own = px.fallback[i];
        if (current >= 0) {
            // Of the children that may show this pixel, the one whose string goes on the longest
            // (the closest among equals).
            int count = 0;
            for (int c = first_child[static_cast<std::size_t>(current)]; c != kNone;
                 c = next_sibling[static_cast<std::size_t>(c)]) {
                const unsigned k = pixel_of[static_cast<std::size_t>(c)];
                if (k == own || error(i, k) <= px.tolerance2[i]) candidates[count++] = c;
            }
            int best = kNone;
            if (count == 1) {
                best = candidates[0];
            } else if (count > 1) {
                int best_reach = -1;
                unsigned best_error = std::numeric_limits<unsigned>::max();
                for (int j = 0; j < count; ++j) {
                    const int c = candidates[j];
                    const int r = reach(c, pos + 1);
                    const unsigned e = error(i, pixel_of[static_cast<std::size_t>(c)]);
                    if (r > best_reach || (r == best_reach && e < best_error)) {
                        best = c;
                        best_reach = r;
                        best_error = e;
                    }
                }
            }
            if (best != kNone) {
                current = best;
                chosen[i] = pixel_of[static_cast<std::size_t>(best)];
                continue;
            }
            emit(static_cast<unsigned>(current));
            if (next_code > kMaxCode - 1) {
                emit(clear_code);
                restart();
            } else {
                const auto code = static_cast<std::int16_t>(next_code++);
                pixel_of[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(own);
                next_sibling[static_cast<std::size_t>(code)] = first_child[static_cast<std::size_t>(current)];
                first_child[static_cast<std::size_t>(current)] = code;
            }
        }
        current = static_cast<int>(own);
        chosen[i] = static_cast<std::uint8_t>(own);
    }
    if (current >= 0) emit(static_cast<unsigned>(current));
    emit(end_code);
    writer.flush();

    out.push_back(static_cast<std::uint8_t>(min_code_size));
    for (std::size_t pos = 0; pos < packed.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - pos);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(pos),
                   packed.begin() + static_cast<std::ptrdiff_t>(pos + n));
    }
}

}  // namespace gifanim
