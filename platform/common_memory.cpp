#include "platform/memory.h"

#include <cstring>
#include <new>

namespace gifanim::platform {

namespace {

// The size of a large page on x86-64 and most arm64 systems.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

std::size_t whole_pages(std::size_t bytes) {
    return (bytes + kLargePage - 1) & ~(kLargePage - 1);
}

}  // namespace

void* allocate_buffer(std::size_t bytes, bool zeroed) {
    void* p = nullptr;
    if (bytes < kLargeBufferBytes) {
        p = ::operator new(bytes > 0 ? bytes : 1);
    } else {
        const std::size_t size = whole_pages(bytes);
        if (size < bytes) throw std::bad_alloc();
        p = ::operator new (size, std::align_val_t{kLargePage});
        advise_large_pages(p, size);
    }
    if (zeroed) std::memset(p, 0, bytes);
    return p;
}

void free_buffer(void* p, std::size_t bytes) noexcept {
    if (!p) return;
    if (bytes < kLargeBufferBytes) {
        ::operator delete(p);
    } else {
        ::operator delete (p, std::align_val_t{kLargePage});
    }
}

}  // namespace gifanim::platform
