#pragma once
// One colour channel of a packed pixel, picked out by its bit mask and scaled to 8 bits.
#include <bit>
#include <cstdint>

namespace gifanim::platform {

struct BitChannel {
    unsigned shift = 0;
    unsigned bits = 0;  // at most 8: a wider channel keeps its top eight bits

    constexpr BitChannel() = default;
    // Masks wider than 32 bits (X11 keeps them in an unsigned long) never occur in practice.
    constexpr explicit BitChannel(std::uint32_t mask) {
        if (mask == 0) return;
        shift = static_cast<unsigned>(std::countr_zero(mask));
        bits = static_cast<unsigned>(std::popcount(mask >> shift));
        if (bits > 8) {
            shift += bits - 8;
            bits = 8;
        }
    }

    constexpr std::uint8_t operator()(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1);
        if (bits == 8) return static_cast<std::uint8_t>(v);
        // The bits repeated until they fill eight, so that the largest value becomes 255.
        std::uint32_t out = 0;
        unsigned have = 0;
        while (have < 8) {
            out = (out << bits) | v;
            have += bits;
        }
        return static_cast<std::uint8_t>(out >> (have - 8));
    }
};

}  // namespace gifanim::platform
