#include "hosting/clap_event_buffer.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace velkaphon::rack {
namespace {

clap_event_midi midiEvent(std::uint32_t time, std::uint8_t key) {
    clap_event_midi event{};
    event.header = {sizeof(clap_event_midi), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    event.data[0] = 0x90;
    event.data[1] = key;
    event.data[2] = 100;
    return event;
}

bool pushThrough(const ClapEventBuffer& buffer, const clap_event_header* event) {
    const clap_output_events* list = buffer.output();
    return list->try_push(list, event);
}

TEST(ClapEventBuffer, HeaderSizesOutside16To56AreRefused) {
    ClapEventBuffer buffer;
    clap_event_param_value value{};
    value.header = {12, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    EXPECT_FALSE(pushThrough(buffer, &value.header));
    value.header.size = 64;
    EXPECT_FALSE(pushThrough(buffer, &value.header));
    value.header.size = 57;
    EXPECT_FALSE(pushThrough(buffer, &value.header));
    EXPECT_FALSE(pushThrough(buffer, nullptr));
    EXPECT_EQ(buffer.size(), 0u);

    value.header.size = 56;
    EXPECT_TRUE(pushThrough(buffer, &value.header));
    clap_event_header bare{16, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_GESTURE_END, 0};
    EXPECT_TRUE(pushThrough(buffer, &bare));
    EXPECT_EQ(buffer.size(), 2u);
}

TEST(ClapEventBuffer, The513thPushIsRefused) {
    ClapEventBuffer buffer;
    const clap_event_midi event = midiEvent(0, 60);
    for (std::uint32_t i = 0; i < ClapEventBuffer::kCapacity; ++i) {
        ASSERT_TRUE(pushThrough(buffer, &event.header)) << i;
    }
    EXPECT_FALSE(pushThrough(buffer, &event.header));
    EXPECT_EQ(buffer.size(), 512u);
    buffer.clear();
    EXPECT_TRUE(pushThrough(buffer, &event.header));
}

TEST(ClapEventBuffer, ThePlugInReadsCopiesInOrderAndNullPastTheEnd) {
    ClapEventBuffer buffer;
    clap_event_midi first = midiEvent(3, 60);
    const clap_event_midi second = midiEvent(9, 64);
    ASSERT_TRUE(buffer.push(&first.header));
    ASSERT_TRUE(buffer.push(&second.header));
    first.data[1] = 0; // the buffer holds its own copy

    const clap_input_events* list = buffer.input();
    ASSERT_EQ(list->size(list), 2u);
    const auto* read = reinterpret_cast<const clap_event_midi*>(list->get(list, 0));
    EXPECT_EQ(read->header.time, 3u);
    EXPECT_EQ(read->data[1], 60);
    EXPECT_EQ(std::memcmp(list->get(list, 1), &second, sizeof(second)), 0);
    EXPECT_EQ(list->get(list, 2), nullptr);
    buffer.clear();
    EXPECT_EQ(list->size(list), 0u);
    EXPECT_EQ(list->get(list, 0), nullptr);
}

TEST(ClapEventBuffer, PushingAndReadingAllocateNothing) {
    ClapEventBuffer buffer;
    const clap_event_midi event = midiEvent(1, 62);
    testing::AllocationCounter counter;
    for (int i = 0; i < 600; ++i) {
        pushThrough(buffer, &event.header);
    }
    const clap_input_events* list = buffer.input();
    EXPECT_NE(list->get(list, 511), nullptr);
    buffer.clear();
    EXPECT_EQ(counter.allocations(), 0u);
}

} // namespace
} // namespace velkaphon::rack
