#pragma once
// A replacement for the global operator new and delete (every standard form) that can be told to
// fail: the k-th allocation from now, or every allocation above a size. A failing allocation
// throws std::bad_alloc, or returns nullptr from the nothrow forms. Link failing_allocator.cpp
// into one test program only: the replacement holds for the whole program.
#include <cstddef>
#include <string>

namespace gifanim::test {

enum class FailOn {
    nth,    // the allocation numbered `value` from now (0 = the next one), once
    above,  // every allocation of more than `value` bytes
};

// Which allocations are counted and failed: those of the thread that armed the plan, or those
// of every thread (worker threads included).
enum class FailWhere { calling_thread, all_threads };

struct FailurePlan {
    FailOn on = FailOn::nth;
    std::size_t value = 0;
    FailWhere where = FailWhere::calling_thread;
};

// Arms the plan until the scope ends. Scopes do not nest.
class FailingAllocations {
public:
    explicit FailingAllocations(const FailurePlan& plan);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Allocations counted by the plan so far, and how many of them were made to fail.
    std::size_t counted() const;
    std::size_t failed() const;
};

// Where the most recent injected failure happened, one frame a line (empty where the platform
// cannot tell). Call it with no plan armed.
std::string last_failure_backtrace();

}  // namespace gifanim::test
