#include "engine/event_list.hpp"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace velkaphon::rack {
namespace {

RackEvent at(std::uint32_t offset, std::uint8_t tag = 0) {
    RackEvent event;
    event.kind = RackEventKind::NoteOn;
    event.sampleOffset = offset;
    event.status = 0x90;
    event.data1 = tag;
    event.data2 = 100;
    return event;
}

std::vector<std::uint32_t> offsets(const EventList& list) {
    std::vector<std::uint32_t> result;
    for (std::uint32_t i = 0; i < list.count; ++i) {
        result.push_back(list.events[i].sampleOffset);
    }
    return result;
}

TEST(RackEventRecord, DefaultIsAllZeroAndCopiesWhole) {
    static_assert(std::is_trivially_copyable_v<RackEvent>);
    const RackEvent zero;
    EXPECT_EQ(zero.kind, RackEventKind::Midi);
    EXPECT_EQ(zero.sampleOffset, 0u);
    EXPECT_EQ(zero.status | zero.data1 | zero.data2, 0);

    EventList list;
    RackEvent event{RackEventKind::NoteOff, 4095, 0x8f, 127, 64};
    ASSERT_TRUE(list.push(event));
    EXPECT_EQ(list.events[0], event);
}

TEST(EventListOrder, AscendingOffsetsWithEqualOffsetsFirstInFirstOut) {
    EventList list;
    list.push(at(5, 1));
    list.push(at(3, 2));
    list.push(at(5, 3));
    list.push(at(0, 4));
    ASSERT_EQ(list.count, 4u);
    EXPECT_EQ(offsets(list), (std::vector<std::uint32_t>{0, 3, 5, 5}));
    EXPECT_EQ(list.events[2].data1, 1);
    EXPECT_EQ(list.events[3].data1, 3);
}

TEST(EventListCapacity, TheEventPastCapacityIsCountedAndDropped) {
    EventList list;
    for (std::uint32_t i = 0; i < 256; ++i) {
        ASSERT_TRUE(list.push(at(i)));
    }
    EXPECT_FALSE(list.push(at(256)));
    EXPECT_EQ(list.count, 256u);
    EXPECT_EQ(list.dropped, 1u);
    EXPECT_EQ(list.events[255].sampleOffset, 255u);
}

TEST(EventListCapacity, AFullListDisplacesNothing) {
    EventList list;
    for (std::uint8_t i = 0; i < 255; ++i) {
        list.push(at(10, i));
    }
    list.push(at(10, 255));
    EXPECT_FALSE(list.push(at(10, 7)));
    EXPECT_FALSE(list.push(at(0, 7)));
    EXPECT_EQ(list.dropped, 2u);
    for (std::uint32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(list.events[i].data1, i);
        EXPECT_EQ(list.events[i].sampleOffset, 10u);
    }
}

TEST(EventListCapacity, ClearResetsBothCountersAndLeavesTheSlots) {
    EventList list;
    for (std::uint32_t i = 0; i < 257; ++i) {
        list.push(at(i));
    }
    list.clear();
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.dropped, 0u);
    EXPECT_EQ(list.events[100].sampleOffset, 100u);
    EXPECT_TRUE(list.push(at(1)));
}

} // namespace
} // namespace velkaphon::rack
