#pragma once

#include <cstddef>

namespace velkaphon::rack::testing {

// Counts the heap allocations made on the calling thread while it is alive, so a test can show
// that a block ran without allocating.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t allocations() const;

private:
    std::size_t startCount_;
    bool wasCounting_;
};

} // namespace velkaphon::rack::testing
