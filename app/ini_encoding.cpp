#include "app/ini_encoding.h"

#include <cstdint>

namespace gifanim::app {

namespace {

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

void put_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | code_point >> 6);
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | code_point >> 12);
        out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code_point >> 18);
        out += static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

void put_utf16le(std::string& out, std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

bool is_high_surrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Reads the UTF-8 that decode_ini made, and what the ini functions added to it (ASCII and key
// names converted from GBK). A byte that starts no sequence, or a sequence cut short, stands for
// itself as one code unit, so nothing is dropped even then.
class Utf8Cursor {
public:
    explicit Utf8Cursor(std::string_view text) : text_(text) {}
    bool done() const { return at_ >= text_.size(); }
    std::uint32_t next() {
        const auto lead = byte(at_);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (length == 1 || at_ + length > text_.size()) {
            ++at_;
            return lead;
        }
        std::uint32_t code_point = lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto trail = byte(at_ + i);
            if ((trail & 0xC0) != 0x80) {
                ++at_;
                return lead;
            }
            code_point = code_point << 6 | (trail & 0x3F);
        }
        at_ += length;
        return code_point;
    }

private:
    std::uint32_t byte(std::size_t i) const { return static_cast<unsigned char>(text_[i]); }
    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<IniText> decode_ini(std::string_view bytes) {
    if (!bytes.starts_with(kUtf16LeMark)) {
        if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
        return IniText{IniEncoding::gbk, std::string(bytes)};
    }
    bytes.remove_prefix(kUtf16LeMark.size());
    if (bytes.size() % 2 != 0) return std::nullopt;
    IniText decoded{IniEncoding::utf16le, {}};
    decoded.text.reserve(bytes.size() * 3 / 2);
    const auto unit_at = [bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t unit = unit_at(i);
        if (unit == 0) return std::nullopt;
        if (is_high_surrogate(unit) && i + 3 < bytes.size() && is_low_surrogate(unit_at(i + 2))) {
            put_utf8(decoded.text, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(i + 2) - 0xDC00));
            i += 2;
        } else {
            put_utf8(decoded.text, unit);
        }
    }
    return decoded;
}

std::string encode_ini(const IniText& text) {
    if (text.encoding == IniEncoding::gbk) return text.text;
    std::string out(kUtf16LeMark);
    out.reserve(2 + text.text.size() * 2);
    for (Utf8Cursor cursor(text.text); !cursor.done();) {
        const std::uint32_t code_point = cursor.next();
        if (code_point >= 0x10000 && code_point <= 0x10FFFF) {
            put_utf16le(out, 0xD800 + ((code_point - 0x10000) >> 10));
            put_utf16le(out, 0xDC00 + ((code_point - 0x10000) & 0x3FF));
        } else {
            // Beyond U+10FFFF only from bytes that were never ours: as a replacement character.
            put_utf16le(out, code_point <= 0xFFFF ? code_point : 0xFFFD);
        }
    }
    return out;
}

}  // namespace gifanim::app
