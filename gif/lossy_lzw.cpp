#include "gif/lossy_lzw.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gif/lzw_encoder.h"

namespace gifanim {

namespace {

constexpr unsigned kMaxCode = 4095;
constexpr std::int16_t kNone = -1;
// The string table's hash: (code << 8 | pixel) + 1 to the code of that string, open addressing.
constexpr unsigned kSlotBits = 13;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
// At most this many children of a string are weighed for one pixel.
constexpr int kMaxChildren = 8;
// How many pixels ahead a string is followed to tell which of several children goes on longest.
constexpr int kLookahead = 4;

// Codes packed least significant bit first. They gather in 64 bits and go out 32 bits at a time,
// so that a code costs one test rather than one per byte.
class CodeWriter {
public:
    explicit CodeWriter(std::vector<std::uint8_t>& packed) : packed_(packed) {}
    void put(unsigned code, unsigned width) {
        std::uint64_t acc = acc_ | static_cast<std::uint64_t>(code) << fill_;
        unsigned fill = fill_ + width;
        bits_ += width;
        if (fill >= 32) {
            const std::uint8_t word[4] = {static_cast<std::uint8_t>(acc), static_cast<std::uint8_t>(acc >> 8),
                                          static_cast<std::uint8_t>(acc >> 16), static_cast<std::uint8_t>(acc >> 24)};
            packed_.insert(packed_.end(), word, word + 4);
            acc >>= 32;
            fill -= 32;
        }
        acc_ = acc;
        fill_ = fill;
    }
    void flush() {
        for (; fill_ > 0; fill_ = fill_ > 8 ? fill_ - 8 : 0, acc_ >>= 8)
            packed_.push_back(static_cast<std::uint8_t>(acc_));
        acc_ = 0;
    }
    std::size_t bits() const { return bits_; }

private:
    std::vector<std::uint8_t>& packed_;
    std::uint64_t acc_ = 0;
    unsigned fill_ = 0;
    std::size_t bits_ = 0;
};

// A pixel by its place in the rectangle's arrays, and by its column and row.
struct Place {
    std::size_t i;
    int x;
    int y;
};

// The largest step of a channel from colour c to colour n.
inline unsigned channel_step(Rgb c, Rgb n) {
    return std::max({static_cast<unsigned>(std::abs(static_cast<int>(red_of(c)) - static_cast<int>(red_of(n)))),
                     static_cast<unsigned>(std::abs(static_cast<int>(green_of(c)) - static_cast<int>(green_of(n)))),
                     static_cast<unsigned>(std::abs(static_cast<int>(blue_of(c)) - static_cast<int>(blue_of(n))))});
}

// The tolerance of the loose pixels of row y (it is read for no other): of_activity[] of the
// largest step of a channel from its wanted colour to that of a neighbour in the rectangle.
void row_tolerances(const PixelChoices& px, int y, const std::uint16_t* of_activity, std::uint16_t* tolerances) {
    const auto w = static_cast<std::size_t>(px.width);
    const Rgb* row = px.wanted + static_cast<std::size_t>(y) * w;
    // A missing neighbour above or below stands in for itself: a step of 0.
    const Rgb* up = y > 0 ? row - w : row;
    const Rgb* down = y + 1 < px.height ? row + w : row;
    std::uint16_t* out = tolerances + static_cast<std::size_t>(y) * w;
    const std::uint8_t* loose = px.loose + static_cast<std::size_t>(y) * w;
    const auto one = [&](std::size_t x) {
        const Rgb c = row[x];
        unsigned a = std::max(channel_step(c, up[x]), channel_step(c, down[x]));
        if (x > 0) a = std::max(a, channel_step(c, row[x - 1]));
        if (x + 1 < w) a = std::max(a, channel_step(c, row[x + 1]));
        out[x] = of_activity[a];
    };
    std::size_t x = 0;
    if (w > 0) one(x++);
#if defined(__SSE2__)
    // Four pixels at a time: the steps of every byte at once, then the largest of each pixel's.
    const auto step = [](__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); };
    const __m128i colour = _mm_set1_epi32(0xFFFFFF), low = _mm_set1_epi32(0xFF);
    for (; x + 5 <= w; x += 4) {
        std::uint32_t four;
        std::memcpy(&four, loose + x, 4);
        if (four == 0) continue;  // far from every change: no pixel of these may stray
        const auto at = [](const Rgb* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        const __m128i c = at(row + x);
        __m128i m = _mm_max_epu8(_mm_max_epu8(step(c, at(row + x - 1)), step(c, at(row + x + 1))),
                                 _mm_max_epu8(step(c, at(up + x)), step(c, at(down + x))));
        m = _mm_and_si128(m, colour);
        m = _mm_max_epu8(m, _mm_srli_epi32(m, 8));
        m = _mm_and_si128(_mm_max_epu8(m, _mm_srli_epi32(m, 16)), low);
        alignas(16) std::uint32_t a[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(a), m);
        for (int k = 0; k < 4; ++k) out[x + static_cast<std::size_t>(k)] = of_activity[a[k]];
    }
#endif
    for (; x < w; ++x) one(x);
}

class Encoder {
public:
    Encoder(const PixelChoices& px, unsigned bits, bool interlace, int first_row, int end_row, LossyLzwScratch& s,
            const LzwPixels& results, LzwPart& part)
        : px_(px),
          s_(s),
          results_(results),
          part_(part),
          min_code_size_(std::max(2u, bits)),
          clear_code_(1u << min_code_size_),
          end_code_(clear_code_ + 1),
          first_(first_row == 0),
          writer_(part.packed) {
        // The table with room for every entry, so that an entry is read without a test.
        std::copy(px.table.begin(), px.table.begin() + std::min<std::ptrdiff_t>(256, std::ssize(px.table)), table_);
        s.keys.assign(kSlots, 0);
        s.codes.resize(kSlots);
        s.first_child.assign(kMaxCode + 1, kNone);
        s.child_count.assign(kMaxCode + 1, 0);
        s.next_sibling.resize(kMaxCode + 1);
        s.pixel_of.resize(kMaxCode + 1);
        s.run_len.assign(kMaxCode + 1, 0);
        s.clear_runs.reserve(kMaxCode + 2);
        s.rows.clear();
        s.rows.reserve(static_cast<std::size_t>(px.height));
        for_each_gif_row(px.height, interlace, [&](int r) { s.rows.push_back(r); });
        last_ = static_cast<std::size_t>(end_row) >= s.rows.size();
        s.rows.erase(s.rows.begin() + std::min<std::ptrdiff_t>(end_row, static_cast<std::ptrdiff_t>(s.rows.size())),
                     s.rows.end());
        s.rows.erase(s.rows.begin(),
                     s.rows.begin() + std::min<std::ptrdiff_t>(first_row, static_cast<std::ptrdiff_t>(s.rows.size())));
        if (px.max_tolerance2 > 0) {
            // The tolerance of each activity (kept in 16 bits), then of each pixel of these rows.
            std::uint16_t of_activity[256];
            for (unsigned a = 0; a < 256; ++a) {
                of_activity[a] = static_cast<std::uint16_t>(
                    std::min({px.max_tolerance2, px.flat_tolerance2 + a * a * px.detail_scale / 16, 0xFFFEu}));
            }
            for (const int r : s.rows) row_tolerances(px, r, of_activity, results.tolerances);
        }
        part.packed.clear();
        part.packed.reserve(s.rows.size() * static_cast<std::size_t>(px.width) / 2 + 64);
        restart();
    }

    void run() {
        if (first_) emit(clear_code_);
        int current = kNone;
        const int w = px_.width;
        for (std::size_t slot = 0; slot < s_.rows.size(); ++slot) {
            const auto r = static_cast<std::size_t>(s_.rows[slot]);
            for (int x = 0; x < w; ++x) {
                const Place p{r * static_cast<std::size_t>(w) + static_cast<std::size_t>(x), x, static_cast<int>(r)};
                const unsigned own = px_.fallback[p.i];
                if (current != kNone && clear_run_len(current) > 0 && fixed_clear(p.i)) {
                    x += clear_run(current, p.i, w - x) - 1;
                    continue;
                }
                if (current != kNone) {
                    const int next = choose(current, p, slot, x);
                    if (next != kNone) {
                        current = next;
                        continue;
                    }
                    emit(static_cast<unsigned>(current));
                    if (next_code_ >= kMaxCode) {
                        emit(clear_code_);
                        restart();
                    } else {
                        add(current, own);
                    }
                }
                current = static_cast<int>(own);
                results_.chosen[p.i] = static_cast<std::uint8_t>(own);
            }
        }
        if (current != kNone) emit(static_cast<unsigned>(current));
        // A part after this one starts from a fresh table, as after any clear code.
        emit(last_ ? end_code_ : clear_code_);
        part_.bits = writer_.bits();
        writer_.flush();
    }

private:
    // Whether pixel i can only be transparent.
    bool fixed_clear(std::size_t i) const {
        return px_.transparent >= 0 && static_cast<int>(px_.fallback[i]) == px_.transparent &&
               (px_.max_tolerance2 == 0 || !px_.loose[i]);
    }
    // How many pixels from i on (at least one, at most `left`) can only be transparent, given
    // that pixel i can.
    std::size_t clear_stretch(std::size_t i, std::size_t left) const {
        std::size_t n = 1;
#if defined(__SSE2__)
        // Sixteen at a time, in locals (the stores of the encoding could change any field, as far
        // as the compiler knows).
        const std::uint8_t* fallback = px_.fallback + i;
        const std::uint8_t* loose = px_.max_tolerance2 > 0 ? px_.loose + i : nullptr;
        const __m128i clear = _mm_set1_epi8(static_cast<char>(px_.transparent)), zero = _mm_setzero_si128();
        const auto at = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
        for (; n + 16 <= left; n += 16) {
            __m128i fixed = _mm_cmpeq_epi8(at(fallback + n), clear);
            if (loose) fixed = _mm_and_si128(fixed, _mm_cmpeq_epi8(at(loose + n), zero));
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(fixed));
            if (mask != 0xFFFF) return n + static_cast<std::size_t>(std::countr_one(mask));
        }
#endif
        while (n < left && fixed_clear(i + n)) ++n;
        return n;
    }
    unsigned clear_run_len(int code) const {
        return s_.run_len[static_cast<std::size_t>(code)];
    }

    // Pixels from i on (at most `left` of them, along the row) that can only be transparent,
    // taken on while `current` is a run of transparent pixels: a long transparent stretch costs
    // a step per code rather than per pixel. Returns how many pixels it took (at least one);
    // `current` goes on as the string they end in.
    std::size_t clear_run(int& current, std::size_t i, int left) {
        const std::size_t n = clear_stretch(i, static_cast<std::size_t>(left));
        std::fill_n(results_.chosen + i, n, static_cast<std::uint8_t>(px_.transparent));
        std::size_t remaining = n;
        unsigned length = clear_run_len(current);
        while (remaining > 0) {
            const std::size_t longest = s_.clear_runs.size() - 1;  // runs 1..longest have codes
            const std::size_t reach = std::min<std::size_t>(length + remaining, longest);
            remaining -= reach - length;
            current = s_.clear_runs[reach];
            if (remaining == 0) break;
            // The run is as long as any string: the code goes out, the next pixel starts anew.
            emit(static_cast<unsigned>(current));
            if (next_code_ >= kMaxCode) {
                emit(clear_code_);
                restart();
            } else {
                add(current, static_cast<unsigned>(px_.transparent));
            }
            current = px_.transparent;
            length = 1;
            --remaining;
        }
        return n;
    }

    void emit(unsigned code) {
        writer_.put(code, width_);
        if (next_code_ >= (1u << width_) && width_ < 12) ++width_;
    }

    void restart() {
        std::fill(s_.keys.begin(), s_.keys.end(), 0);
        std::fill(s_.first_child.begin(), s_.first_child.end(), kNone);
        std::fill(s_.child_count.begin(), s_.child_count.end(), 0);
        ++generation_;
        s_.clear_runs.clear();
        if (px_.transparent >= 0) {
            s_.clear_runs = {kNone, static_cast<std::int16_t>(px_.transparent)};
            std::fill(s_.run_len.begin(), s_.run_len.begin() + clear_code_, 0);
            s_.run_len[static_cast<std::size_t>(px_.transparent)] = 1;
        }
        next_code_ = end_code_ + 1;
        width_ = min_code_size_ + 1;
    }

    std::size_t slot_of(std::uint32_t key) const {
        std::size_t slot = (key * 2654435761u) >> (32 - kSlotBits);
        while (s_.keys[slot] != 0 && s_.keys[slot] != key) slot = (slot + 1) & (kSlots - 1);
        return slot;
    }

    int child(int node, unsigned k) const {
        const std::uint32_t key = ((static_cast<std::uint32_t>(node) << 8) | k) + 1;
        const std::size_t slot = slot_of(key);
        return s_.keys[slot] == key ? s_.codes[slot] : kNone;
    }

    void add(int prefix, unsigned k) {
        const auto code = static_cast<std::int16_t>(next_code_++);
        const std::uint32_t key = ((static_cast<std::uint32_t>(prefix) << 8) | k) + 1;
        const std::size_t slot = slot_of(key);
        s_.keys[slot] = key;
        s_.codes[slot] = code;
        const auto c = static_cast<std::size_t>(code);
        s_.pixel_of[c] = static_cast<std::uint8_t>(k);
        s_.next_sibling[c] = s_.first_child[static_cast<std::size_t>(prefix)];
        s_.first_child[static_cast<std::size_t>(prefix)] = code;
        ++s_.child_count[static_cast<std::size_t>(prefix)];
        const unsigned run = clear_run_len(prefix);
        if (run > 0 && static_cast<int>(k) == px_.transparent && run + 1 == s_.clear_runs.size()) {
            s_.run_len[c] = static_cast<std::uint16_t>(run + 1);
            s_.clear_runs.push_back(code);
        } else {
            s_.run_len[c] = 0;
        }
    }

    // How far entry k shows a pixel wanted in colour `want` from it, where `now` is shown.
    unsigned error(Rgb want, Rgb now, unsigned k) const {
        return distance2(k == transparent_ ? now : table_[k], want);
    }

    // The children of `node` that may show pixel p, into codes and entries; returns how many.
    // The lookahead asks the same of the pixels just ahead again and again, so its answers are
    // kept (`keep`) until the node gains a child or the table starts afresh; the string being
    // matched never asks of a pixel behind it again.
    [[gnu::always_inline]] int children(int node, const Place& p, int* codes, unsigned* entries, bool keep) {
        const unsigned own = px_.fallback[p.i];
        if (px_.max_tolerance2 == 0 || !px_.loose[p.i]) {
            const int c = child(node, own);
            if (c == kNone) return 0;
            codes[0] = c;
            entries[0] = own;
            return 1;
        }
        const auto at = static_cast<std::size_t>(node);
        Answer& a = answers_[(p.i * 8u + at * 0x9E37u) & (kAnswers - 1)];
        const std::uint32_t stamp = (generation_ << 12) + s_.child_count[at];
        if (a.place == p.i && a.node == node && a.stamp == stamp) {
            for (int m = 0; m < a.found; ++m) {
                codes[m] = a.codes[m];
                entries[m] = a.entries[m];
            }
            return a.found;
        }
        // The pixel's colours, its tolerance and the arrays in locals: the stores below could
        // change them as far as the compiler knows.
        const Rgb want = px_.wanted[p.i], now = px_.shown[p.i];
        const unsigned tolerance = results_.tolerances[p.i];
        const std::int16_t* next_sibling = s_.next_sibling.data();
        const std::uint8_t* pixel_of = s_.pixel_of.data();
        const unsigned transparent = transparent_;
        int n = 0;
        // Written whether taken or not, and counted when taken: which child is close enough is
        // too irregular to guess.
        for (int c = s_.first_child[at]; c != kNone && n < kMaxChildren; c = next_sibling[c]) {
            const unsigned k = pixel_of[c];
            const bool taken = (k == own) | (distance2(k == transparent ? now : table_[k], want) <= tolerance);
            codes[n] = c;
            entries[n] = k;
            n += taken;
        }
        if (!keep) return n;
        for (int m = 0; m < n; ++m) {
            a.codes[m] = static_cast<std::int16_t>(codes[m]);
            a.entries[m] = static_cast<std::uint8_t>(entries[m]);
        }
        a.place = p.i;
        a.node = node;
        a.stamp = stamp;
        a.found = static_cast<std::uint8_t>(n);
        return n;
    }

    // The pixel after (slot, x) in sending order, moving (slot, x) there; false past the last.
    bool step(std::size_t& slot, int& x, Place& p) const {
        if (++x == px_.width) {
            x = 0;
            if (++slot == s_.rows.size()) return false;
        }
        const auto r = static_cast<std::size_t>(s_.rows[slot]);
        p = {r * static_cast<std::size_t>(px_.width) + static_cast<std::size_t>(x), x, static_cast<int>(r)};
        return true;
    }

    // How many pixels after (slot, x) the string of `node` goes on matching, the closest child
    // taken each time, up to kLookahead.
    int reach(int node, std::size_t slot, int x) {
        int n = 0;
        Place p{};
        int codes[kMaxChildren];
        unsigned entries[kMaxChildren];
        while (n < kLookahead && step(slot, x, p)) {
            const int found = children(node, p, codes, entries, true);
            if (found == 0) break;
            int best = 0;
            const Rgb want = px_.wanted[p.i], now = px_.shown[p.i];
            unsigned best_error = error(want, now, entries[0]);
            for (int m = 1; m < found; ++m) {
                const unsigned e = error(want, now, entries[m]);
                if (e < best_error) {
                    best = m;
                    best_error = e;
                }
            }
            node = codes[best];
            ++n;
        }
        return n;
    }

    // The child of `current` that pixel p continues the string with, kNone for none.
    int choose(int current, const Place& p, std::size_t slot, int x) {
        int codes[kMaxChildren];
        unsigned entries[kMaxChildren];
        const int found = children(current, p, codes, entries, false);
        if (found == 0) return kNone;
        int best = 0;
        if (found > 1) {
            // The one that goes on longest, the closest among equals, the first among those: the
            // children are weighed closest first, so only a longer reach displaces the best so
            // far, and none displaces one that reaches the whole lookahead.
            int order[kMaxChildren];
            unsigned errors[kMaxChildren];
            const Rgb want = px_.wanted[p.i], now = px_.shown[p.i];
            for (int m = 0; m < found; ++m) {
                const unsigned e = error(want, now, entries[m]);
                int at = m;
                for (; at > 0 && errors[at - 1] > e; --at) {
                    errors[at] = errors[at - 1];
                    order[at] = order[at - 1];
                }
                errors[at] = e;
                order[at] = m;
            }
            int best_reach = -1;
            for (int m = 0; m < found && best_reach < kLookahead; ++m) {
                const int r = reach(codes[order[m]], slot, x);
                if (r > best_reach) {
                    best = order[m];
                    best_reach = r;
                }
            }
        }
        results_.chosen[p.i] = static_cast<std::uint8_t>(entries[best]);
        return codes[best];
    }

    const PixelChoices& px_;
    LossyLzwScratch& s_;
    const LzwPixels& results_;
    LzwPart& part_;
    const unsigned min_code_size_;
    const unsigned clear_code_;
    const unsigned end_code_;
    const bool first_;
    bool last_ = true;
    CodeWriter writer_;
    unsigned next_code_ = 0;
    unsigned width_ = 0;

    struct Answer {
        std::size_t place = static_cast<std::size_t>(-1);
        int node = kNone;
        std::uint32_t stamp = 0;
        std::uint8_t found = 0;
        std::uint8_t entries[kMaxChildren];
        std::int16_t codes[kMaxChildren];
    };
    static constexpr std::size_t kAnswers = 256;
    Answer answers_[kAnswers];
    std::uint32_t generation_ = 0;
    Rgb table_[256] = {};
    // The transparent entry, or one no entry has.
    const unsigned transparent_ = px_.transparent >= 0 ? static_cast<unsigned>(px_.transparent) : 256u;
};

}  // namespace

void lossy_lzw_encode_part(const PixelChoices& pixels, unsigned bits, bool interlace, int first_row, int end_row,
                           LossyLzwScratch& scratch, const LzwPixels& results, LzwPart& out) {
    Encoder encoder(pixels, bits, interlace, first_row, end_row, scratch, results, out);
    encoder.run();
}

void join_lzw_parts(unsigned bits, std::span<const LzwPart> parts, std::vector<std::uint8_t>& out) {
    std::size_t total = 0;
    for (const LzwPart& part : parts) total += part.bits;
    const std::size_t bytes = (total + 7) / 8;
    out.reserve(out.size() + 1 + bytes + bytes / 255 + 1);
    out.push_back(static_cast<std::uint8_t>(std::max(2u, bits)));
    // The parts' bits one after another, into sub-blocks of 255 bytes.
    std::uint8_t block[255];
    std::size_t in_block = 0;
    const auto put_byte = [&](std::uint8_t b) {
        block[in_block++] = b;
        if (in_block == sizeof block) {
            out.push_back(static_cast<std::uint8_t>(in_block));
            out.insert(out.end(), block, block + in_block);
            in_block = 0;
        }
    };
    std::uint32_t acc = 0;
    unsigned fill = 0;
    for (const LzwPart& part : parts) {
        const std::size_t whole = part.bits / 8;
        for (std::size_t k = 0; k < whole; ++k) {
            acc |= static_cast<std::uint32_t>(part.packed[k]) << fill;
            put_byte(static_cast<std::uint8_t>(acc));
            acc >>= 8;
        }
        const unsigned rest = static_cast<unsigned>(part.bits % 8);
        if (rest > 0) {
            acc |= (static_cast<std::uint32_t>(part.packed[whole]) & ((1u << rest) - 1)) << fill;
            fill += rest;
            if (fill >= 8) {
                put_byte(static_cast<std::uint8_t>(acc));
                acc >>= 8;
                fill -= 8;
            }
        }
    }
    if (fill > 0) put_byte(static_cast<std::uint8_t>(acc));
    if (in_block > 0) {
        out.push_back(static_cast<std::uint8_t>(in_block));
        out.insert(out.end(), block, block + in_block);
    }
}

void lossy_lzw_encode(const PixelChoices& pixels, unsigned bits, bool interlace, LossyLzwScratch& scratch,
                      std::vector<std::uint8_t>& chosen, std::vector<std::uint8_t>& out) {
    const std::size_t area = static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height);
    chosen.resize(area);
    std::vector<std::uint16_t> tolerances(pixels.max_tolerance2 > 0 ? area : 0);
    LzwPart part;
    lossy_lzw_encode_part(pixels, bits, interlace, 0, pixels.height, scratch, {chosen.data(), tolerances.data()}, part);
    join_lzw_parts(bits, std::span<const LzwPart>(&part, 1), out);
}

}  // namespace gifanim
