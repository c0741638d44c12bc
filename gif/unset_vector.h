#pragma once
// Buffers that cost no pass of zeros: vectors that grow without one, and arrays of zeros.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace gifanim {

// A vector whose resize leaves new elements unset, for buffers whose every element is written
// before it is read: a large one then costs no pass of zeros first, and lies in the memory of large
// buffers.
// Without `large`, it lies in small pages however large: for a buffer sized for the worst case of
// which little is used at a time, whose untouched pages then cost nothing.
template <class T, bool large = true>
struct UnsetAllocator : std::allocator<T> {
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U, large>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        if constexpr (large) {
            return static_cast<T*>(platform::allocate_buffer(n * sizeof(T), false));
        } else {
            return static_cast<T*>(::operator new(n * sizeof(T)));
        }
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if constexpr (large) {
            platform::free_buffer(p, n * sizeof(T));
        } else {
            ::operator delete(p);
        }
    }
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U, large>;
    };
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T>
using Unset = std::vector<T, UnsetAllocator<T>>;
template <class T>
using UnsetSmallPages = std::vector<T, UnsetAllocator<T, false>>;

// Resizes a buffer whose elements are all written before they are read to n, taking room for
// `most` the first time it must grow: a buffer per place of a frame's rectangle is then never
// moved nor copied as the rectangles grow up to the canvas. Throws std::bad_alloc.
template <class V>
void resize_within(V& v, std::size_t n, std::size_t most) {
    if (v.capacity() < n) {
        v.clear();
        v.reserve(std::max(n, most));
    }
    v.resize(n);
}

// An array of zeros in the memory of large buffers, for trivial types: unlike a vector, it is
// zeroed in one pass, with no element constructed.
template <class T>
class ZeroedArray {
public:
    // Throws std::bad_alloc.
    void reset(std::size_t count) {
        data_.reset();
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(T);
        data_ = std::unique_ptr<T, platform::BufferDeleter>(static_cast<T*>(platform::allocate_buffer(bytes, true)),
                                                            platform::BufferDeleter{bytes});
    }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](std::size_t i) { return data_.get()[i]; }
    const T& operator[](std::size_t i) const { return data_.get()[i]; }

private:
    std::unique_ptr<T, platform::BufferDeleter> data_;
};

}  // namespace gifanim
