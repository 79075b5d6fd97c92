#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>

#include <unistd.h>
#endif

namespace velkaphon::rack {
namespace {

using testing::AllocationCounter;

// The real-time tests rely on this counter: it must see allocations, and only its own thread's.
TEST(AllocationCounterThreads, CountsOnlyTheCallingThreadWhileAlive) {
    std::atomic<int> stage{0};
    std::thread other([&] {
        while (stage.load() != 1) {
            std::this_thread::yield();
        }
        auto elsewhere = std::make_unique<int>(3);
        stage.store(2);
    });

    auto before = std::make_unique<int>(1);
    {
        AllocationCounter counter;
        EXPECT_EQ(counter.allocations(), 0u);
        auto one = std::make_unique<int>(2);
        std::vector<double> many(64);
        auto array = std::make_unique<std::max_align_t[]>(4);
        stage.store(1);
        while (stage.load() != 2) {
            std::this_thread::yield();
        }
        EXPECT_EQ(counter.allocations(), 3u);
    }
    other.join();

    AllocationCounter after;
    auto later = std::make_unique<int>(4);
    EXPECT_EQ(after.allocations(), 1u);
}

// Where the counter interposes on the C allocator and the lock and wait calls, it must see them.
TEST(AllocationCounterThreads, SeesMallocAndLocksWhereItInterposes) {
    if (!AllocationCounter::interposes()) {
        GTEST_SKIP() << "this build cannot interpose on malloc and locks";
    }
    std::mutex mutex;
    std::condition_variable condition;
    AllocationCounter counter;
    // Through volatile pointers, so that the compiler keeps every call.
    void* volatile memory = std::malloc(16);
    memory = std::realloc(memory, 4096);
    void* volatile zeroed = std::calloc(4, 4);
    EXPECT_EQ(counter.allocations(), 3u);
    {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait_for(lock, std::chrono::microseconds(1));
    }
    // The lock, then the wait (the library may lock again inside it).
    EXPECT_GE(counter.locks(), 2u);
#ifdef __linux__
    // A futex wait whose word does not match returns at once, but it is still a wait.
    const std::size_t beforeFutex = counter.locks();
    std::uint32_t word = 0;
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, 1, nullptr, nullptr, 0);
    EXPECT_EQ(counter.locks(), beforeFutex + 1);
#endif
    std::free(memory);
    std::free(zeroed);
}

} // namespace
} // namespace velkaphon::rack
