#include "app/text_number.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace gifanim::app {

namespace {
bool is_lead_byte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// Double-byte characters become the single byte they stand for, where they stand for one; the
// pair is taken as a whole, so a trail byte is never read as an ASCII character of its own.
std::string fold_full_width(std::string_view gbk) {
    std::string out;
    out.reserve(gbk.size());
    for (std::size_t i = 0; i < gbk.size(); ++i) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (!is_lead_byte(lead) || i + 1 == gbk.size()) {
            out += gbk[i];
            continue;
        }
        const auto trail = static_cast<unsigned char>(gbk[i + 1]);
        ++i;
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
            out += static_cast<char>(trail - 0x80);
        } else if (lead == 0xA1 && trail == 0xA1) {
            out += ' ';
        } else if (lead == 0xA1 && trail == 0xAB) {
            out += '~';
        } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
            out += '*';
        } else {
            out += static_cast<char>(lead);
            out += static_cast<char>(trail);
        }
    }
    return out;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

int text_to_int(std::string_view gbk) {
    const std::string text = fold_full_width(gbk);
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The magnitude stops growing one past the 32-bit limit: any longer run of digits saturates.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), limit);
    }
    const std::int64_t value = negative ? -magnitude : std::min(magnitude, limit - 1);
    return static_cast<int>(value);
}

bool text_is_true(std::string_view text) {
    return text == "1";
}

}  // namespace gifanim::app
