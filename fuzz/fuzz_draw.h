#pragma once
// What the fuzz targets share: a property check that aborts (so libFuzzer keeps the input like any
// crash), and values drawn from the input in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace gifanim::fuzz {

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Values drawn from the input in order; zeros once it is used up.
class Draw {
public:
    explicit Draw(std::span<const std::uint8_t> in) : in_(in) {}
    std::uint8_t byte() { return pos_ < in_.size() ? in_[pos_++] : 0; }
    int below(int n) { return byte() % n; }

private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
};

}  // namespace gifanim::fuzz
