#include "audio/spsc_ring.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

std::vector<float> frames(std::size_t count, std::int32_t channels, float first) {
    std::vector<float> result(count * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i] = first + static_cast<float>(i);
    }
    return result;
}

TEST(SpscRing, StartsWithThirtyTwoSilentFramesAndRefusesPastCapacity) {
    SpscRing ring;
    ring.reset(2, 8192);
    ASSERT_EQ(ring.capacity, 8192u);
    EXPECT_EQ(ring.fill(), 32u);
    EXPECT_EQ(ring.frameAt(0)[0], 0.0f);

    const auto tooMany = frames(ring.capacity - 31, 2, 1.0f);
    EXPECT_FALSE(ring.push(tooMany.data(), static_cast<std::int32_t>(ring.capacity - 31)));
    EXPECT_EQ(ring.fill(), 32u);
    EXPECT_EQ(ring.writeIndex.load(), 32u);

    const auto exact = frames(ring.capacity - 32, 2, 1.0f);
    EXPECT_TRUE(ring.push(exact.data(), static_cast<std::int32_t>(ring.capacity - 32)));
    EXPECT_EQ(ring.fill(), ring.capacity);
    EXPECT_FALSE(ring.push(exact.data(), 1));
    EXPECT_TRUE(ring.push(exact.data(), 0));
}

TEST(SpscRing, CapacityIsAPowerOfTwoAndNeverBelowTheSilence) {
    SpscRing ring;
    ring.reset(1, 8193);
    EXPECT_EQ(ring.capacity, 16384u);
    for (std::uint64_t minimum : {0u, 1u, 5u, 31u, 32u, 33u}) {
        ring.reset(1, minimum);
        EXPECT_EQ(ring.capacity, 64u) << minimum;
        EXPECT_EQ(ring.fill(), 32u);
        // Room for as many frames again as the silence.
        const auto more = frames(32, 1, 1.0f);
        EXPECT_TRUE(ring.push(more.data(), 32));
        EXPECT_FALSE(ring.push(more.data(), 1));
    }
}

TEST(SpscRing, AResetEmptiesAndZeroesAUsedRing) {
    SpscRing ring;
    ring.reset(1, 64);
    const auto data = frames(32, 1, 5.0f);
    ASSERT_TRUE(ring.push(data.data(), 32));
    ring.reset(3, 64);
    EXPECT_EQ(ring.readIndex.load(), 0u);
    EXPECT_EQ(ring.writeIndex.load(), 32u);
    EXPECT_EQ(ring.data.size(), 64u * 3u);
    for (float value : ring.data) {
        ASSERT_EQ(value, 0.0f);
    }
}

TEST(SpscRing, FramesWrapAroundTheEndIntact) {
    SpscRing ring;
    ring.reset(2, 64);
    ring.readIndex.store(60); // the consumer has released all but the last four
    const auto data = frames(50, 2, 100.0f);
    ASSERT_TRUE(ring.push(data.data(), 50));
    for (std::uint64_t n = 0; n < 50; ++n) {
        const float* frame = ring.frameAt(32 + n);
        ASSERT_EQ(frame[0], data[2 * n]) << n;
        ASSERT_EQ(frame[1], data[2 * n + 1]) << n;
    }
    EXPECT_EQ(ring.writeIndex.load(), 82u);
    EXPECT_EQ(ring.frameAt(64), ring.data.data());
}

TEST(SpscRing, ANegativeCountIsRefused) {
    SpscRing ring;
    ring.reset(1, 64);
    const float one = 1.0f;
    EXPECT_FALSE(ring.push(&one, -1));
    EXPECT_EQ(ring.fill(), 32u);
}

// The consumer releases frames as the resampler does, by storing a new read index.
TEST(SpscRingThreads, SequenceNumbersArriveAllAndInOrder) {
    constexpr std::uint64_t kFrames = 400000;
    constexpr std::int32_t kChannels = 2;
    SpscRing ring;
    ring.reset(kChannels, 256);
    const std::uint64_t firstFrame = ring.writeIndex.load();

    std::uint64_t refusedAtCapacity = 0;
    std::thread producer([&] {
        float chunk[7 * kChannels];
        std::uint64_t next = 1;
        while (next <= kFrames) {
            const auto count =
                static_cast<std::int32_t>(std::min<std::uint64_t>(7, kFrames - next + 1));
            for (std::int32_t i = 0; i < count; ++i) {
                chunk[i * kChannels] = static_cast<float>(next + i);
                chunk[i * kChannels + 1] = -static_cast<float>(next + i);
            }
            const std::uint64_t roomBefore = ring.capacity - ring.fill();
            if (ring.push(chunk, count)) {
                next += static_cast<std::uint64_t>(count);
            } else {
                // A refusal is only allowed while the chunk truly does not fit.
                // Only the consumer changes the room meanwhile, and only by adding to it.
                if (roomBefore >= static_cast<std::uint64_t>(count)) {
                    ++refusedAtCapacity;
                }
                std::this_thread::yield();
            }
        }
    });

    std::uint64_t expected = 1;
    std::uint64_t index = firstFrame;
    std::uint64_t misordered = 0;
    while (expected <= kFrames) {
        const std::uint64_t write = ring.writeIndex.load(std::memory_order_acquire);
        if (write == index) {
            std::this_thread::yield();
            continue;
        }
        for (; index < write; ++index, ++expected) {
            const float* frame = ring.frameAt(index);
            if (frame[0] != static_cast<float>(expected) ||
                frame[1] != -static_cast<float>(expected)) {
                ++misordered;
            }
        }
        ring.readIndex.store(index, std::memory_order_release);
    }
    producer.join();
    EXPECT_EQ(misordered, 0u);
    EXPECT_EQ(refusedAtCapacity, 0u);
    EXPECT_EQ(ring.writeIndex.load(), firstFrame + kFrames);
}

} // namespace
} // namespace velkaphon::rack
