#include "tests/unit/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if __has_include(<execinfo.h>) && __has_include(<cxxabi.h>)
#include <cxxabi.h>
#include <execinfo.h>
#define GIFANIM_HAVE_BACKTRACE 1
#endif
#ifdef _WIN32
#include <malloc.h>
#endif

namespace gifanim::test {
namespace {

// Nothing here may allocate through operator new: the state is plain atomics and a thread flag.
std::atomic<bool> g_armed{false};
std::atomic<int> g_on{0};
std::atomic<bool> g_all_threads{false};
std::atomic<std::size_t> g_value{0};
std::atomic<long long> g_countdown{-1};
std::atomic<std::size_t> g_counted{0};
std::atomic<std::size_t> g_failed{0};
thread_local bool t_arming_thread = false;

#ifdef GIFANIM_HAVE_BACKTRACE
constexpr int kMaxFrames = 48;
void* g_frames[kMaxFrames];
std::atomic<int> g_frame_count{0};
std::atomic_flag g_capturing = ATOMIC_FLAG_INIT;
#endif

void note_failure() {
    g_failed.fetch_add(1, std::memory_order_relaxed);
#ifdef GIFANIM_HAVE_BACKTRACE
    if (g_capturing.test_and_set(std::memory_order_acquire)) return;  // another thread is writing it
    g_frame_count.store(backtrace(g_frames, kMaxFrames), std::memory_order_relaxed);
    g_capturing.clear(std::memory_order_release);
#endif
}

bool should_fail(std::size_t size) {
    if (!g_armed.load(std::memory_order_acquire)) return false;
    if (!t_arming_thread && !g_all_threads.load(std::memory_order_relaxed)) return false;
    g_counted.fetch_add(1, std::memory_order_relaxed);
    const bool fail = static_cast<FailOn>(g_on.load(std::memory_order_relaxed)) == FailOn::above
                          ? size > g_value.load(std::memory_order_relaxed)
                          : g_countdown.fetch_sub(1, std::memory_order_relaxed) == 0;
    if (fail) note_failure();
    return fail;
}

void* plain(std::size_t size) {
    if (should_fail(size)) return nullptr;
    return std::malloc(size ? size : 1);
}

void* aligned(std::size_t size, std::align_val_t al) {
    if (should_fail(size)) return nullptr;
    const auto alignment = static_cast<std::size_t>(al);
#ifdef _WIN32
    return _aligned_malloc(size ? size : 1, alignment);
#else
    void* p = nullptr;
    return posix_memalign(&p, alignment < sizeof(void*) ? sizeof(void*) : alignment, size ? size : 1) == 0 ? p
                                                                                                           : nullptr;
#endif
}

void release_aligned(void* p) noexcept {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

void* or_throw(void* p) {
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

FailingAllocations::FailingAllocations(const FailurePlan& plan) {
    g_on.store(static_cast<int>(plan.on), std::memory_order_relaxed);
    g_value.store(plan.value, std::memory_order_relaxed);
    g_countdown.store(plan.on == FailOn::nth ? static_cast<long long>(plan.value) : -1, std::memory_order_relaxed);
    g_all_threads.store(plan.where == FailWhere::all_threads, std::memory_order_relaxed);
    g_counted.store(0, std::memory_order_relaxed);
    g_failed.store(0, std::memory_order_relaxed);
    t_arming_thread = true;
    g_armed.store(true, std::memory_order_release);
}

FailingAllocations::~FailingAllocations() {
    g_armed.store(false, std::memory_order_release);
    t_arming_thread = false;
}

std::size_t FailingAllocations::counted() const {
    return g_counted.load(std::memory_order_relaxed);
}
std::size_t FailingAllocations::failed() const {
    return g_failed.load(std::memory_order_relaxed);
}

std::string last_failure_backtrace() {
    std::string text;
#ifdef GIFANIM_HAVE_BACKTRACE
    const int n = g_frame_count.load(std::memory_order_relaxed);
    char** names = backtrace_symbols(g_frames, n);
    if (!names) return text;
    // Lines read "program(symbol+offset) [address]"; the frames up to operator new are our own.
    for (int i = 0; i < n; ++i) {
        std::string line = names[i];
        const auto open = line.find('('), plus = line.find('+', open);
        if (open != std::string::npos && plus != std::string::npos && plus > open + 1) {
            const std::string symbol = line.substr(open + 1, plus - open - 1);
            int status = 0;
            char* readable = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
            if (status == 0 && readable) line = readable;
            std::free(readable);
        }
        if (line.rfind("operator new", 0) == 0)
            text.clear();
        else
            (text += line) += '\n';
    }
    std::free(names);
#endif
    return text;
}

}  // namespace gifanim::test

using gifanim::test::aligned;
using gifanim::test::or_throw;
using gifanim::test::plain;
using gifanim::test::release_aligned;

void* operator new(std::size_t n) {
    return or_throw(plain(n));
}
void* operator new[](std::size_t n) {
    return or_throw(plain(n));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return plain(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return plain(n);
}
void* operator new(std::size_t n, std::align_val_t al) {
    return or_throw(aligned(n, al));
}
void* operator new[](std::size_t n, std::align_val_t al) {
    return or_throw(aligned(n, al));
}
void* operator new(std::size_t n, std::align_val_t al, const std::nothrow_t&) noexcept {
    return aligned(n, al);
}
void* operator new[](std::size_t n, std::align_val_t al, const std::nothrow_t&) noexcept {
    return aligned(n, al);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
