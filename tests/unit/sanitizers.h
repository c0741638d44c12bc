#pragma once
// Whether this build runs under AddressSanitizer or ThreadSanitizer: they reserve terabytes of
// address space for their shadow memory and bring allocators of their own, so address-space
// limits and glibc's allocation counters mean nothing there.

namespace gifanim::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace gifanim::test
