#include "hosting/vst3_block_objects.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

using namespace vst3;

TEST(Vst3ValueQueue, HoldsExactlyOnePointAndKeepsTheLastOneAdded) {
    ValueQueue queue;
    queue.set(42, 0.75, 17);
    EXPECT_EQ(queue.getParameterId(), 42u);
    EXPECT_EQ(queue.getPointCount(), 1);
    int32 offset = -1;
    double value = -1;
    ASSERT_EQ(queue.getPoint(0, offset, value), kResultOk);
    EXPECT_EQ(offset, 17);
    EXPECT_EQ(value, 0.75);
    offset = -1;
    EXPECT_EQ(queue.getPoint(1, offset, value), kInvalidArgument);
    EXPECT_EQ(queue.getPoint(-1, offset, value), kInvalidArgument);
    EXPECT_EQ(offset, -1);
    queue.start(43, std::nullopt);
    EXPECT_EQ(queue.getPointCount(), 0);
    EXPECT_EQ(queue.getPoint(0, offset, value), kInvalidArgument);
    int32 index = -1;
    EXPECT_EQ(queue.addPoint(3, 0.5, index), kResultOk);
    EXPECT_EQ(queue.addPoint(9, 0.25, index), kResultOk);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(queue.getPointCount(), 1);
    ASSERT_EQ(queue.getPoint(0, offset, value), kResultOk);
    EXPECT_EQ(offset, 9);
    EXPECT_EQ(value, 0.25);
}

// A processor may report every parameter in every block: its queue is found through the index.
TEST(Vst3Changes, GivesTheProcessorOneQueueAParameterInEachBlock) {
    ParameterIndex parameters;
    parameters.build({2, 1, 3});
    Changes changes;
    changes.index(parameters);
    const auto add = [&](ParamID id) {
        int32 index = 99;
        IParamValueQueue* queue = changes.addParameterData(id, index);
        EXPECT_EQ(queue, index >= 0 ? changes.getParameterData(index) : nullptr) << id;
        return index;
    };
    EXPECT_EQ(add(2), 0);
    EXPECT_EQ(add(1), 1);
    EXPECT_EQ(add(2), 0);
    EXPECT_EQ(add(7), 2);
    EXPECT_EQ(add(7), 2);
    EXPECT_EQ(add(3), 3);
    EXPECT_EQ(changes.getParameterCount(), 4);
    EXPECT_EQ(changes.getParameterData(2)->getParameterId(), 7u);
    EXPECT_EQ(changes.getParameterData(1)->getPointCount(), 0);
    EXPECT_EQ(changes.getParameterData(4), nullptr);
    EXPECT_EQ(changes.getParameterData(-1), nullptr);

    changes.clear();
    EXPECT_EQ(changes.getParameterCount(), 0);
    EXPECT_EQ(add(1), 0);
    changes.count = Changes::kCapacity;
    EXPECT_EQ(add(1), 0);
    EXPECT_EQ(add(3), -1);
    EXPECT_EQ(add(8), -1);
}

Event noteOn(int32 offset, int16 pitch) {
    Event event{};
    event.sampleOffset = offset;
    event.type = Event::kNoteOnEvent;
    event.noteOn.pitch = pitch;
    event.noteOn.velocity = 0.5f;
    return event;
}

TEST(Vst3Events, TheTwoHundredFiftySeventhEventIsRefused) {
    VstEvents events;
    for (int32 i = 0; i < 256; ++i) {
        Event event = noteOn(i, static_cast<int16>(i % 128));
        ASSERT_EQ(events.addEvent(event), kResultOk) << i;
    }
    Event extra = noteOn(256, 60);
    {
        testing::AllocationCounter allocations;
        EXPECT_EQ(events.addEvent(extra), kResultFalse);
        EXPECT_EQ(allocations.allocations(), 0u);
    }
    EXPECT_EQ(events.getEventCount(), 256);
    Event back{};
    ASSERT_EQ(events.getEvent(255, back), kResultOk);
    EXPECT_EQ(back.sampleOffset, 255);
    EXPECT_EQ(back.noteOn.pitch, 255 % 128);
    EXPECT_EQ(events.getEvent(256, back), kInvalidArgument);
    EXPECT_EQ(events.getEvent(-1, back), kInvalidArgument);
}

TEST(Vst3BlockObjects, AnswerTheirOwnInterfaceAndFUnknownOnly) {
    ValueQueue queue;
    Changes changes;
    VstEvents events;
    void* object = nullptr;
    EXPECT_EQ(queue.queryInterface(tuidOf(IParamValueQueue::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IParamValueQueue*>(&queue));
    EXPECT_EQ(changes.queryInterface(tuidOf(IParameterChanges::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IParameterChanges*>(&changes));
    EXPECT_EQ(events.queryInterface(tuidOf(FUnknown::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IEventList*>(&events));
    EXPECT_EQ(events.queryInterface(tuidOf(IParameterChanges::iid), &object), kNoInterface);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(changes.queryInterface(tuidOf(FUnknown::iid), nullptr), kInvalidArgument);
    EXPECT_EQ(queue.release(), 1u);
}

} // namespace
} // namespace velkaphon::rack
