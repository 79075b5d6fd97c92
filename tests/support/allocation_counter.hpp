#pragma once

#include <cstddef>

namespace velkaphon::rack::testing {

// Counts the heap allocations, lock acquisitions and waits made on the calling thread while it is
// alive, so a test can show that a block ran without allocating or blocking. operator new is
// counted everywhere; malloc, calloc, realloc, pthread mutex locks, condition-variable waits and
// futex waits are counted where the test program can interpose on them (Linux without a
// sanitizer, which interposes on them itself).
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t allocations() const;
    std::size_t locks() const;
    // Bytes of the largest single allocation seen while this counter lives.
    std::size_t largestAllocation() const;

    // Whether malloc and the lock and wait calls are seen in this build.
    static bool interposes();

private:
    std::size_t startAllocations_;
    std::size_t startLocks_;
    std::size_t outerLargest_;
    bool wasCounting_;
};

} // namespace velkaphon::rack::testing
