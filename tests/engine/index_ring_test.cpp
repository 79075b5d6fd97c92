#include "engine/index_ring.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace velkaphon::rack {
namespace {

// Eight-bit indices reach the integer's wrap in a few steps; the users' wider ones do the same
// after longer runs.
TEST(IndexRing, FillsEmptiesAndWrapsFromAnyStartingIndex) {
    constexpr std::uint8_t kSlots = 8;
    for (const std::uint8_t start : {std::uint8_t{0}, std::uint8_t{250}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(start));
        IndexRing<std::uint8_t> ring;
        ring.resetIndices(start, start);
        std::array<int, kSlots> slots{};
        EXPECT_EQ(ring.fill(), 0);
        for (int value = 0;; ++value) {
            const auto [read, write] = ring.producerView();
            if (static_cast<std::uint8_t>(write - read) >= kSlots) {
                EXPECT_EQ(value, kSlots);
                break;
            }
            slots[write & (kSlots - 1)] = value;
            ring.publish(static_cast<std::uint8_t>(write + 1));
        }
        EXPECT_EQ(ring.fill(), kSlots);
        EXPECT_EQ(ring.writeIndex.load(), static_cast<std::uint8_t>(start + kSlots));

        const auto [first, write] = ring.consumerView();
        EXPECT_EQ(first, start);
        int expected = 0;
        for (std::uint8_t read = first; read != write; ++expected) {
            EXPECT_EQ(slots[read & (kSlots - 1)], expected);
            ring.release(++read);
        }
        EXPECT_EQ(expected, kSlots);
        EXPECT_EQ(ring.fill(), 0);
        EXPECT_EQ(ring.consumerView().fill(), 0);
    }
}

} // namespace
} // namespace velkaphon::rack
