#pragma once
// Memory for large working buffers (pictures, an array per place of a frame): where the system
// can back it with large pages it does, which makes first touching such a buffer several times
// cheaper than taking it page by page. Every buffer comes from the global operator new.
#include <cstddef>

namespace gifanim::platform {

// Buffers of at least this many bytes are whole large pages, aligned to one.
inline constexpr std::size_t kLargeBufferBytes = std::size_t{1} << 20;

// Room for `bytes` (at least one), aligned for any type, zeroed when asked. Throws
// std::bad_alloc.
void* allocate_buffer(std::size_t bytes, bool zeroed);
// Gives back what allocate_buffer handed out for that many bytes; null does nothing.
void free_buffer(void* p, std::size_t bytes) noexcept;

// Asks the system to back [p, p + bytes), whole aligned large pages, with large pages where it can
// (nothing where it cannot).
void advise_large_pages(void* p, std::size_t bytes) noexcept;

// Frees a buffer of that many bytes: for the smart pointers that hold them.
struct BufferDeleter {
    std::size_t bytes = 0;
    void operator()(void* p) const noexcept { free_buffer(p, bytes); }
};

}  // namespace gifanim::platform
