#pragma once
// Builds small GIF files byte by byte for the reader tests.
#include <cstdint>
#include <string>
#include <vector>

#include "gif/lzw_encoder.h"

namespace gifanim::test {

struct GifBuilder {
    std::vector<std::uint8_t> bytes;

    GifBuilder& raw(std::initializer_list<int> v) {
        for (int b : v) bytes.push_back(static_cast<std::uint8_t>(b));
        return *this;
    }
    GifBuilder& word(int v) { return raw({v & 0xFF, (v >> 8) & 0xFF}); }
    // Header and screen descriptor; a global table of 2^bits entries (colour i = (i, 2i, 3i)) when bits > 0.
    GifBuilder& header(int w, int h, int table_bits, const char* version = "89a", int bg = 0) {
        bytes.insert(bytes.end(), {'G', 'I', 'F'});
        bytes.insert(bytes.end(), version, version + 3);
        word(w).word(h);
        raw({table_bits > 0 ? 0x80 | (table_bits - 1) : 0, bg, 0});
        if (table_bits > 0) table(table_bits, 0);
        return *this;
    }
    GifBuilder& table(int bits, int base) {
        for (int i = 0; i < (1 << bits); ++i) raw({(base + i) & 0xFF, (base + 2 * i) & 0xFF, (base + 3 * i) & 0xFF});
        return *this;
    }
    GifBuilder& control(int packed, int delay, int transparent = 0) {
        raw({0x21, 0xF9, 4, packed});
        word(delay);
        return raw({transparent, 0});
    }
    GifBuilder& comment(const std::string& text) {
        raw({0x21, 0xFE, static_cast<int>(text.size())});
        bytes.insert(bytes.end(), text.begin(), text.end());
        return raw({0});
    }
    GifBuilder& looping(int count) {
        raw({0x21, 0xFF, 11});
        for (char c : std::string("NETSCAPE2.0")) bytes.push_back(static_cast<std::uint8_t>(c));
        raw({3, 1});
        word(count);
        return raw({0});
    }
    // Descriptor, optional local table (colour i = (base + i, ...)), and the pixels (top-down) as LZW data.
    GifBuilder& image(int left, int top, int w, int h, const std::vector<std::uint8_t>& pixels, int local_bits = 0,
                      bool interlace = false, int code_bits = 8, int base = 100) {
        raw({0x2C});
        word(left).word(top).word(w).word(h);
        raw({(local_bits > 0 ? 0x80 | (local_bits - 1) : 0) | (interlace ? 0x40 : 0)});
        if (local_bits > 0) table(local_bits, base);
        LzwEncoder().encode(pixels.data(), w, h, w, code_bits, interlace, bytes);
        return raw({0});
    }
    GifBuilder& trailer() { return raw({0x3B}); }
};

}  // namespace gifanim::test
