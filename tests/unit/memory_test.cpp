#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <numeric>

#include "gif/unset_vector.h"
#include "platform/memory.h"

namespace gifanim::test {
namespace {

// Buffers on both sides of the large-page size: zeroed when asked, aligned for any type, and
// every byte theirs (the sanitizer builds see a write past the end or a mismatched free).
TEST(LargeBuffers, ZeroedAlignedAndWholeOnBothSidesOfTheLargeSize) {
    for (const std::size_t bytes : {std::size_t{1}, std::size_t{4096}, platform::kLargeBufferBytes - 1,
                                    platform::kLargeBufferBytes, 3 * platform::kLargeBufferBytes + 5}) {
        auto* p = static_cast<std::uint8_t*>(platform::allocate_buffer(bytes, true));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u) << bytes;
        EXPECT_EQ(std::accumulate(p, p + bytes, std::uint64_t{0}), 0u) << bytes;
        p[0] = 1;
        p[bytes - 1] = 2;
        platform::free_buffer(p, bytes);
    }
    // An array of zeros and a growing vector of pixels of a whole 1080p canvas, as the optimizer
    // keeps them: the array reads zero everywhere, the vector keeps what it was given.
    constexpr std::size_t kPlaces = 1920 * 1080;
    ZeroedArray<std::uint32_t> zeros;
    zeros.reset(kPlaces);
    EXPECT_EQ(zeros[0] | zeros[kPlaces / 2] | zeros[kPlaces - 1], 0u);
    Unset<std::uint32_t> pixels;
    resize_within(pixels, 1000, kPlaces);
    EXPECT_GE(pixels.capacity(), kPlaces);
    std::iota(pixels.begin(), pixels.end(), 7u);
    const std::uint32_t* before = pixels.data();
    resize_within(pixels, kPlaces, kPlaces);  // within the room taken: not moved
    EXPECT_EQ(pixels.data(), before);
    EXPECT_EQ(pixels[999], 1006u);
}

}  // namespace
}  // namespace gifanim::test
