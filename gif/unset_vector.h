#pragma once
// Vectors that grow without a pass of zeros.
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace gifanim {

// A vector whose resize leaves new elements unset, for buffers whose every element is written
// before it is read: a large one then costs no pass of zeros first.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
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

}  // namespace gifanim
