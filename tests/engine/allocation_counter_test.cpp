#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

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

} // namespace
} // namespace velkaphon::rack
