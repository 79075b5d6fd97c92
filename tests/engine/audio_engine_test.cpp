#include "engine/audio_engine.hpp"
#include "engine/builtin.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/engine_host.hpp"
#include "tests/engine/test_module.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>
#include <xmmintrin.h>

namespace velkaphon::rack {
namespace {

using testing::AllocationCounter;
using testing::cable;
using testing::HostBus;
using testing::HostRole;
using testing::node;
using testing::port;
using testing::ScheduledEvent;
using testing::TestModuleFactory;
using testing::TestModuleSetup;

constexpr ProcessSpec kSpec{48000.0, 64};

TestModuleSetup source(std::uint32_t channels, std::vector<float> samples = {},
                       std::uint32_t latency = 0) {
    TestModuleSetup setup;
    setup.outputs = {port("out", channels)};
    setup.sourceSamples = std::move(samples);
    setup.latencyAnswers = {latency};
    return setup;
}

TestModuleSetup gain(std::uint32_t channels, float factor = 1.0f) {
    TestModuleSetup setup;
    setup.inputs = {port("in", channels)};
    setup.outputs = {port("out", channels)};
    setup.gain = factor;
    return setup;
}

TestModuleSetup speaker(std::uint32_t channels, std::uint32_t offset = 0) {
    TestModuleSetup setup;
    setup.inputs = {port("in", channels)};
    setup.hostRole = HostRole::WritesHostOutput;
    setup.hostOffset = offset;
    return setup;
}

RackEvent event(RackEventKind kind, std::uint32_t offset, std::uint8_t tag = 0) {
    return {kind, offset, 0x90, tag, 100};
}

struct Rig {
    TestModuleFactory modules;
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();

    std::unique_ptr<PreparedGraph> compile(const GraphDefinition& definition,
                                           const ProcessSpec& spec = kSpec) {
        return compileGraph(definition, spec, modules.factory());
    }

    PreparedGraph& publish(const GraphDefinition& definition, const ProcessSpec& spec = kSpec) {
        auto graph = compile(definition, spec);
        PreparedGraph& published = *graph;
        engine->publishGraph(std::move(graph));
        return published;
    }

    void run(std::uint32_t frames, const HostBus& output, const RackEvent* events = nullptr,
             std::uint64_t eventCount = 0, const BusSpan& input = {}) {
        engine->process(frames, input, output.span(), TransportInfo{}, events, eventCount);
    }

    void run(std::uint32_t frames) { run(frames, HostBus(0, 0)); }
};

TEST(AudioEngineSilence, WithoutAGraphEveryHostChannelWithABufferIsZeroed) {
    Rig rig;
    HostBus output(3, 8, 7.0f);
    output.withoutBuffer(1);
    rig.run(8, output);
    EXPECT_EQ(output.channel(0), std::vector<float>(8, 0.0f));
    EXPECT_EQ(output.channel(1), std::vector<float>(8, 7.0f));
    EXPECT_EQ(output.channel(2), std::vector<float>(8, 0.0f));
    EXPECT_EQ(rig.engine->nodePeak(0), 0.0f);
}

TEST(AudioEngineSilence, BlocksLongerThanTheMaximumOrEmptyRunNothing) {
    Rig rig;
    rig.modules.add("src", source(1, {1, 2, 3, 4, 5, 6}));
    rig.modules.add("out", speaker(1));
    rig.publish({{node("src"), node("out", "output", {{"channels", 1}})},
                 {cable("src", "out", "out", "in")},
                 {}},
                {48000.0, 2});
    HostBus output(1, 3, 9.0f);
    rig.run(3, output);
    EXPECT_EQ(output.channel(0), std::vector<float>(3, 0.0f));
    EXPECT_EQ(rig.modules.record("src").blocks, 0u);
    rig.run(0, output);
    EXPECT_EQ(rig.modules.record("src").blocks, 0u);

    // The source did not advance, so the first real block starts at its first sample.
    rig.run(2, output);
    EXPECT_EQ(output.channel(0)[0], 1.0f);
    EXPECT_EQ(output.channel(0)[1], 2.0f);
}

TEST(AudioEngineHandOver, APendingGraphThatWasNeverTakenIsFreedByTheNextPublish) {
    Rig rig;
    rig.modules.add("g1", source(1));
    rig.modules.add("g2", source(1));
    rig.publish({{node("g1")}, {}, {}});
    rig.publish({{node("g2")}, {}, {}});
    EXPECT_EQ(rig.modules.log().destroyed, std::vector<std::string>{"g1"});
    // A module that never ran is not told it finished.
    EXPECT_EQ(rig.modules.record("g1").finishes, 0);
    rig.run(16);
    EXPECT_EQ(rig.modules.record("g2").blocks, 1u);
    EXPECT_EQ(rig.modules.record("g1").blocks, 0u);
    rig.engine->drainRetired();
    EXPECT_EQ(rig.modules.log().alive.load(), 1);
    rig.engine.reset();
    EXPECT_EQ(rig.modules.log().alive.load(), 0);
}

TEST(AudioEngineHandOver, TheReplacedGraphsModulesFinishOnTheAudioThreadOnce) {
    Rig rig;
    rig.modules.add("g1", source(1));
    rig.modules.add("g2", source(1));
    rig.publish({{node("g1")}, {}, {}});
    rig.run(16);
    rig.run(16);
    EXPECT_EQ(rig.modules.record("g1").finishes, 0);
    rig.publish({{node("g2")}, {}, {}});
    EXPECT_EQ(rig.modules.record("g1").finishes, 0);
    rig.run(16);
    EXPECT_EQ(rig.modules.record("g1").finishes, 1);
    EXPECT_EQ(rig.modules.record("g2").finishes, 0);
}

TEST(AudioEngineHandOver, TheEndOfARunFinishesTheRunningGraphOnceAndTheNextBlockRunsAgain) {
    Rig rig;
    rig.modules.add("g1", source(1));
    rig.modules.add("g2", source(1));
    rig.engine->finishProcessing();
    rig.publish({{node("g1")}, {}, {}});
    rig.run(16);
    // Published while audio runs, taken only by the next run.
    rig.publish({{node("g2")}, {}, {}});
    rig.engine->finishProcessing();
    rig.engine->finishProcessing();
    EXPECT_EQ(rig.modules.record("g1").finishes, 1);
    EXPECT_EQ(rig.modules.record("g2").finishes, 0);
    rig.run(16);
    EXPECT_EQ(rig.modules.record("g1").finishes, 1);
    EXPECT_EQ(rig.modules.record("g2").blocks, 1u);
    rig.engine->finishProcessing();
    EXPECT_EQ(rig.modules.record("g2").finishes, 1);
}

TEST(AudioEngineHandOver, AFullRetiredRingLeavesTheNewGraphPending) {
    Rig rig;
    GraphDefinition definition;
    for (int i = 0; i <= 32; ++i) {
        rig.modules.add("g" + std::to_string(i), source(1));
    }
    const auto graphOf = [&](int i) {
        return rig.compile({{node("g" + std::to_string(i))}, {}, {}});
    };
    rig.engine->publishGraph(graphOf(0));
    rig.run(8);
    for (int i = 1; i <= 31; ++i) {
        AudioEngineTestAccess::offerGraph(*rig.engine, graphOf(i));
        rig.run(8);
    }
    EXPECT_EQ(rig.modules.record("g31").blocks, 1u);
    AudioEngineTestAccess::offerGraph(*rig.engine, graphOf(32));
    rig.run(8);
    EXPECT_EQ(rig.modules.record("g32").blocks, 0u);
    EXPECT_EQ(rig.modules.record("g31").blocks, 2u);

    // Current first, then pending, then the retired ones oldest first.
    std::vector<const Module*> visited;
    rig.engine->forEachModule([&](Module& module) { visited.push_back(&module); });
    EXPECT_EQ(visited.size(), 33u);
    EXPECT_EQ(rig.modules.log().alive.load(), 33);

    rig.engine->drainRetired();
    EXPECT_EQ(rig.modules.log().destroyed.size(), 31u);
    EXPECT_EQ(rig.modules.log().destroyed.front(), "g0");
    rig.run(8);
    EXPECT_EQ(rig.modules.record("g32").blocks, 1u);
}

TEST(AudioEngineHandOver, ForEachModuleVisitsCurrentThenPendingThenRetired) {
    Rig rig;
    for (const char* id : {"a", "b", "c", "d"}) {
        rig.modules.add(id, source(1));
    }
    EXPECT_NO_THROW(rig.engine->forEachModule({}));
    rig.publish({{node("a")}, {}, {}});
    rig.run(8);
    AudioEngineTestAccess::offerGraph(*rig.engine, rig.compile({{node("b")}, {}, {}}));
    rig.run(8);
    AudioEngineTestAccess::offerGraph(*rig.engine, rig.compile({{node("c"), node("d")}, {}, {}}));
    std::vector<std::string> visited;
    rig.engine->forEachModule(
        [&](Module& module) { visited.push_back(module.status().at("id").get<std::string>()); });
    EXPECT_EQ(visited, (std::vector<std::string>{"b", "c", "d", "a"}));
    EXPECT_THROW(rig.engine->forEachModule({}), std::bad_function_call);
}

TEST(AudioEngineControls, TheQueueHoldsOneThousandTwentyThreeMessages) {
    Rig rig;
    rig.modules.add("gain", gain(1));
    rig.publish({{node("gain")}, {}, {}});
    for (std::uint32_t i = 0; i < 1023; ++i) {
        ASSERT_TRUE(rig.engine->enqueueControl("gain", i, i * 0.5)) << i;
    }
    EXPECT_FALSE(rig.engine->enqueueControl("gain", 1023, 0.0));
    rig.run(8);
    const auto& record = rig.modules.record("gain");
    ASSERT_EQ(record.controlCount, 1023u);
    EXPECT_EQ(record.controls[0].index, 0u);
    EXPECT_EQ(record.controls[1022].index, 1022u);
    EXPECT_EQ(record.controls[1022].value, 511.0);
    EXPECT_TRUE(rig.engine->enqueueControl("gain", 7, 1.0));
}

TEST(AudioEngineControls, DroppedMessagesNeverLandAndThoseQueuedLaterDo) {
    Rig rig;
    rig.modules.add("gain", gain(1));
    rig.publish({{node("gain")}, {}, {}});
    for (std::uint32_t i = 0; i < 1023; ++i) {
        ASSERT_TRUE(rig.engine->enqueueControl("gain", i, 1.0)) << i;
    }
    rig.engine->dropQueuedControls();
    // Only the audio thread frees the slots, at its next block.
    EXPECT_FALSE(rig.engine->enqueueControl("gain", 1023, 1.0));
    rig.run(8);
    EXPECT_EQ(rig.modules.record("gain").controlCount, 0u);

    rig.engine->enqueueControl("gain", 1, 1.0);
    rig.engine->dropQueuedControls();
    rig.engine->enqueueControl("gain", 2, 2.0);
    rig.engine->dropQueuedControls();
    rig.engine->enqueueControl("gain", 3, 3.0);
    rig.run(8);
    const auto& record = rig.modules.record("gain");
    ASSERT_EQ(record.controlCount, 1u);
    EXPECT_EQ(record.controls[0].index, 3u);
    for (std::uint32_t i = 0; i < 1023; ++i) {
        ASSERT_TRUE(rig.engine->enqueueControl("gain", i, 1.0)) << i;
    }
}

TEST(AudioEngineControls, InvalidMessagesAreRefusedWithNothingQueued) {
    Rig rig;
    const std::string longest(128, 'g');
    rig.modules.add(longest, gain(1));
    rig.publish({{node(longest)}, {}, {}});
    EXPECT_FALSE(rig.engine->enqueueControl("", 0, 1.0));
    EXPECT_FALSE(rig.engine->enqueueControl(std::string(129, 'g'), 0, 1.0));
    EXPECT_FALSE(rig.engine->enqueueControl(std::string("g\0g", 3), 0, 1.0));
    EXPECT_FALSE(rig.engine->enqueueControl(longest, 0, std::nan("")));
    EXPECT_FALSE(rig.engine->enqueueControl(longest, 0, std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(rig.engine->enqueueControl(longest, 3, -2.5));
    rig.run(8);
    const auto& record = rig.modules.record(longest);
    ASSERT_EQ(record.controlCount, 1u);
    EXPECT_EQ(record.controls[0].index, 3u);
    EXPECT_EQ(record.controls[0].value, -2.5);
}

TEST(AudioEngineControls, IdsMatchByteForByteAndUnknownOnesAreDropped) {
    Rig rig;
    rig.modules.add("ab", gain(1));
    rig.modules.add("a", gain(1));
    rig.publish({{node("ab"), node("a")}, {}, {}});
    rig.engine->enqueueControl("a", 1, 1.0);
    rig.engine->enqueueControl("abc", 2, 2.0);
    rig.engine->enqueueControl("AB", 3, 3.0);
    rig.engine->enqueueControl("ab", 4, 4.0);
    rig.run(8);
    ASSERT_EQ(rig.modules.record("a").controlCount, 1u);
    EXPECT_EQ(rig.modules.record("a").controls[0].index, 1u);
    ASSERT_EQ(rig.modules.record("ab").controlCount, 1u);
    EXPECT_EQ(rig.modules.record("ab").controls[0].index, 4u);
}

TEST(AudioEngineControls, MessagesWithoutAGraphAreDroppedAndThoseBeforeAPublishReachIt) {
    Rig rig;
    rig.modules.add("gain", gain(1));
    rig.engine->enqueueControl("gain", 1, 1.0);
    rig.run(8);
    rig.engine->enqueueControl("gain", 2, 2.0);
    rig.publish({{node("gain")}, {}, {}});
    // Even a block of no frames takes the graph and applies the queue.
    rig.run(0);
    const auto& record = rig.modules.record("gain");
    ASSERT_EQ(record.controlCount, 1u);
    EXPECT_EQ(record.controls[0].index, 2u);
    EXPECT_EQ(record.blocks, 0u);
}

// A source that writes only its first block relies on its output arriving zeroed after that, in
// blocks shorter and longer than the last, whether one cable copies it away or two do.
TEST(AudioEngineCables, OutputsArriveZeroedAfterTheyWereCopiedAway) {
    for (const std::uint32_t readers : {1u, 2u}) {
        SCOPED_TRACE(::testing::Message() << readers << " cables");
        Rig rig;
        rig.modules.add("src", source(1, {1, 2, 3, 4, 5, 6, 7, 8}));
        GraphDefinition definition{{node("src")}, {}, {}};
        for (std::uint32_t r = 0; r < readers; ++r) {
            const std::string gainId = "g" + std::to_string(r);
            const std::string outId = "out" + std::to_string(r);
            rig.modules.add(gainId, gain(1));
            rig.modules.add(outId, speaker(1, r));
            definition.nodes.push_back(node(gainId));
            definition.nodes.push_back(node(outId));
            definition.cables.push_back(cable("src", "out", gainId, "in"));
            definition.cables.push_back(cable(gainId, "out", outId, "in"));
        }
        rig.publish(definition);
        HostBus output(readers, 8, -1.0f);
        std::vector<std::vector<float>> heard(readers);
        for (const std::uint32_t frames : {8u, 4u, 8u}) {
            rig.run(frames, output);
            for (std::uint32_t r = 0; r < readers; ++r) {
                heard[r].insert(heard[r].end(), output.channel(r).begin(),
                                output.channel(r).begin() + frames);
            }
        }
        for (std::uint32_t r = 0; r < readers; ++r) {
            EXPECT_EQ(heard[r], (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 0, 0,
                                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        }
    }
}

TEST(AudioEngineDelays, ADelayedCableCarriesSamplesAcrossBlocks) {
    Rig rig;
    rig.modules.add("direct", source(2, {1, 2, 3, 4}));
    rig.modules.add("late", source(2, {}, 3));
    TestModuleSetup join;
    join.inputs = {port("a", 2), port("b", 2)};
    join.hostRole = HostRole::WritesHostOutput;
    rig.modules.add("join", join);
    rig.publish({{node("direct"), node("late"), node("join")},
                 {cable("direct", "out", "join", "a"), cable("late", "out", "join", "b")},
                 {}});
    std::vector<float> left;
    std::vector<float> right;
    HostBus output(2, 2);
    for (int block = 0; block < 4; ++block) {
        rig.run(block == 3 ? 1 : 2, output);
        const std::size_t frames = block == 3 ? 1 : 2;
        left.insert(left.end(), output.channel(0).begin(), output.channel(0).begin() + frames);
        right.insert(right.end(), output.channel(1).begin(), output.channel(1).begin() + frames);
    }
    EXPECT_EQ(left, (std::vector<float>{0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(right, (std::vector<float>{0, 0, 0, 2, 4, 6, 8}));
}

TEST(AudioEngineDelays, OutputsOfDifferentPathLatenciesComeOutAligned) {
    Rig rig;
    rig.modules.add("src", source(1, {5, 6, 7}));
    TestModuleSetup slow = gain(1);
    slow.latencyAnswers = {2};
    rig.modules.add("slow", slow);
    rig.modules.add("outA", speaker(1, 0));
    rig.modules.add("outB", speaker(1, 1));
    const PreparedGraph& graph =
        rig.publish({{node("src"), node("slow"), node("outA", "output", {{"channels", 1}}),
                      node("outB", "output", {{"channels", 1}, {"offset", 1}})},
                     {cable("src", "out", "outA", "in"), cable("src", "out", "slow", "in"),
                      cable("slow", "out", "outB", "in")},
                     {}});
    EXPECT_EQ(graphLatency(graph), 2u);
    HostBus output(2, 5);
    rig.run(5, output);
    // The test module's own latency is only declared, so only the cable into outA delays.
    EXPECT_EQ(output.channel(0), (std::vector<float>{0, 0, 5, 6, 7}));
    EXPECT_EQ(output.channel(1), (std::vector<float>{5, 6, 7, 0, 0}));
}

// "lag" holds the destination's alignment point at the cable's delay; "e" emits the events.
struct EventRig : Rig {
    explicit EventRig(std::uint32_t delay, std::vector<ScheduledEvent> emitted,
                      std::uint32_t maxBlock = 64) {
        TestModuleSetup emitter = source(1);
        emitter.emitted = std::move(emitted);
        modules.add("e", emitter);
        modules.add("lag", source(1, {}, delay));
        modules.add("d", gain(1));
        graph = &publish(
            {{node("e"), node("lag"), node("d")}, {cable("lag", "out", "d", "in")}, {{"e", "d"}}},
            {48000.0, maxBlock});
    }

    const PreparedNode& destination() const { return graph->state().nodes[2]; }
    const EventList& delivered() const { return graph->state().inputEvents[2]; }
    const testing::TestModuleRecord& received() { return modules.record("d"); }

    PreparedGraph* graph = nullptr;
};

TEST(AudioEngineEvents, DelayedEventsArriveInALaterBlockAndStartAtOnce) {
    EventRig rig(
        100, {{0, event(RackEventKind::NoteOn, 10, 1)}, {0, event(RackEventKind::Start, 10, 2)}});
    ASSERT_EQ(rig.destination().eventConnections[0].delay, 100u);
    rig.run(64);
    ASSERT_EQ(rig.received().receivedCount, 1u);
    EXPECT_EQ(rig.received().received[0].event, event(RackEventKind::Start, 10, 2));
    rig.run(64);
    ASSERT_EQ(rig.received().receivedCount, 2u);
    EXPECT_EQ(rig.received().received[1].block, 1u);
    EXPECT_EQ(rig.received().received[1].event, event(RackEventKind::NoteOn, 46, 1));
}

TEST(AudioEngineEvents, AnEventDueWithinItsOwnBlockIsDeliveredThere) {
    EventRig rig(
        20, {{0, event(RackEventKind::NoteOn, 10, 1)}, {0, event(RackEventKind::NoteOff, 50, 2)}});
    rig.run(64);
    ASSERT_EQ(rig.received().receivedCount, 1u);
    EXPECT_EQ(rig.received().received[0].event.sampleOffset, 30u);
    EXPECT_EQ(rig.destination().eventConnections[0].pendingCount, 1u);
    rig.run(64);
    ASSERT_EQ(rig.received().receivedCount, 2u);
    EXPECT_EQ(rig.received().received[1].event, event(RackEventKind::NoteOff, 6, 2));
}

TEST(AudioEngineEvents, StartComesBeforeADelayedEventOfTheSameOffset) {
    EventRig rig(20, {{0, event(RackEventKind::NoteOn, 50, 1)},
                      {1, event(RackEventKind::Start, 6, 2)},
                      {1, event(RackEventKind::NoteOn, 0, 3)}});
    rig.run(64);
    rig.run(64);
    const auto& record = rig.received();
    ASSERT_EQ(record.receivedCount, 3u);
    EXPECT_EQ(record.received[0].event, event(RackEventKind::Start, 6, 2));
    EXPECT_EQ(record.received[1].event, event(RackEventKind::NoteOn, 6, 1));
    EXPECT_EQ(record.received[2].event, event(RackEventKind::NoteOn, 20, 3));
}

TEST(AudioEngineEvents, EventsAtOrPastTheBlockEndAreIgnored) {
    EventRig rig(0, {{0, event(RackEventKind::NoteOn, 31, 1)},
                     {0, event(RackEventKind::Start, 32, 2)},
                     {0, event(RackEventKind::NoteOn, 40, 3)}});
    rig.run(32);
    rig.run(32);
    ASSERT_EQ(rig.received().receivedCount, 1u);
    EXPECT_EQ(rig.received().received[0].event.data1, 1);
}

std::vector<ScheduledEvent> fullBlockOfEvents(std::uint64_t block, std::uint32_t frames) {
    std::vector<ScheduledEvent> events;
    for (std::uint32_t i = 0; i < EventList::kCapacity; ++i) {
        events.push_back({block, event(RackEventKind::NoteOn, i * frames / EventList::kCapacity)});
    }
    return events;
}

TEST(AudioEngineEvents, AFullPendingListCountsTheNextEventAsDropped) {
    auto emitted = fullBlockOfEvents(0, 64);
    emitted.push_back({1, event(RackEventKind::NoteOff, 0)});
    EventRig rig(1000, emitted);
    rig.run(64);
    EXPECT_EQ(rig.destination().eventConnections[0].pendingCount, 256u);
    EXPECT_EQ(rig.delivered().dropped, 0u);
    rig.run(64);
    EXPECT_EQ(rig.destination().eventConnections[0].pendingCount, 256u);
    EXPECT_EQ(rig.delivered().dropped, 1u);
}

TEST(AudioEngineEvents, DueEventsMakeRoomBeforeNewOnesArrive) {
    // 256 events over offsets 0..63 with a delay of 100: the first 112 fall due in block 1.
    auto emitted = fullBlockOfEvents(0, 64);
    emitted.push_back({1, event(RackEventKind::NoteOff, 0, 9)});
    EventRig rig(100, emitted);
    rig.run(64);
    rig.run(64);
    EXPECT_EQ(rig.delivered().dropped, 0u);
    EXPECT_EQ(rig.delivered().count, 112u);
    EXPECT_EQ(rig.destination().eventConnections[0].pendingCount, 145u);
    rig.run(64);
    const auto& record = rig.received();
    ASSERT_EQ(record.receivedCount, 257u);
    EXPECT_EQ(record.received[256].block, 2u);
    EXPECT_EQ(record.received[256].event, event(RackEventKind::NoteOff, 36, 9));
}

TEST(AudioEngineEvents, HostEventsReachOnlyNodesWithoutEventCables) {
    Rig rig;
    TestModuleSetup free = source(1);
    rig.modules.add("free", free);
    rig.modules.add("cabled", gain(1));
    rig.modules.add("quiet", source(1));
    rig.publish({{node("free"), node("quiet"), node("cabled")}, {}, {{"quiet", "cabled"}}});
    const RackEvent host[] = {event(RackEventKind::NoteOn, 3, 1),
                              event(RackEventKind::NoteOff, 8, 2)};
    rig.run(8, HostBus(0, 0), host, 2);
    ASSERT_EQ(rig.modules.record("free").receivedCount, 1u);
    EXPECT_EQ(rig.modules.record("free").received[0].event, host[0]);
    ASSERT_EQ(rig.modules.record("quiet").receivedCount, 1u);
    EXPECT_EQ(rig.modules.record("cabled").receivedCount, 0u);
}

TEST(AudioEngineHostInput, SeparateHostBuffersAreReadInPlaceWithMissingChannelsSilent) {
    Rig rig;
    TestModuleSetup in = source(2);
    in.hostRole = HostRole::ReadsHostInput;
    in.hostOffset = 1;
    rig.modules.add("in", in);
    rig.modules.add("out", speaker(2));
    rig.publish({{node("in", "input", {{"offset", 1}}), node("out", "output")},
                 {cable("in", "out", "out", "in")},
                 {}});
    HostBus input(2, 4, 0.25f);
    input.channel(1) = {1, 2, 3, 4};
    HostBus output(2, 4, 9.0f);
    rig.engine->process(4, input.span(), output.span(), TransportInfo{}, nullptr, 0);
    const auto& seen = rig.modules.record("in").lastHostInput;
    EXPECT_EQ(seen.channelCount, 2u);
    EXPECT_EQ(seen.channels, input.span().channels);
    EXPECT_EQ(output.channel(0), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(output.channel(1), std::vector<float>(4, 0.0f));

    input.withoutBuffer(1);
    rig.engine->process(4, input.span(), output.span(), TransportInfo{}, nullptr, 0);
    EXPECT_EQ(output.channel(0), std::vector<float>(4, 0.0f));
}

// A VST3 host may pass one buffer as both input and output. "in" reads both host channels and
// "out" writes channel 0 (with silence); "early" writes channel 1, ahead of "in" when an event
// cable orders it so.
TEST(AudioEngineHostInput, AHostBufferSharedByInputAndOutputIsReadBeforeItIsWritten) {
    for (const bool writerFirst : {false, true}) {
        SCOPED_TRACE(writerFirst);
        Rig rig;
        TestModuleSetup in = source(2);
        in.hostRole = HostRole::ReadsHostInput;
        rig.modules.add("in", in);
        rig.modules.add("out", speaker(1));
        rig.modules.add("early", speaker(1, 1));
        rig.modules.add("tone", source(1, {7, 7, 7, 7}));
        rig.modules.add("split", gain(2, 2.0f));
        GraphDefinition patch{
            {node("tone"), node("early", "output", {{"channels", 1}, {"offset", 1}}),
             node("in", "input"), node("split"), node("out", "output", {{"channels", 1}})},
            {cable("tone", "out", "early", "in"), cable("in", "out", "split", "in")},
            {}};
        if (writerFirst) {
            patch.eventCables.push_back({"early", "in"});
        }
        const PreparedGraph& graph = rig.publish(patch);
        HostBus shared(2, 4);
        shared.channel(0) = {1, 2, 3, 4};
        shared.channel(1) = {5, 6, 7, 8};
        rig.engine->process(4, shared.span(), shared.span(), TransportInfo{}, nullptr, 0);
        const auto& seen = rig.modules.record("in").lastHostInput;
        EXPECT_EQ(seen.channels == shared.span().channels, !writerFirst);
        // What "in" read reaches "split" unharmed by the writes into the shared buffer.
        const PreparedGraphState& state = graph.state();
        const PreparedNode& split =
            *std::find_if(state.nodes.begin(), state.nodes.end(),
                          [](const PreparedNode& n) { return n.id == "split"; });
        const std::vector<float*>& doubled = split.outputBuffers[0].channelPointers;
        EXPECT_EQ(std::vector<float>(doubled[0], doubled[0] + 4), (std::vector<float>{2, 4, 6, 8}));
        EXPECT_EQ(std::vector<float>(doubled[1], doubled[1] + 4),
                  (std::vector<float>{10, 12, 14, 16}));
        EXPECT_EQ(shared.channel(0), std::vector<float>(4, 0.0f));
        EXPECT_EQ(shared.channel(1), std::vector<float>(4, 7.0f));
    }
}

TEST(AudioEngineHostInput, WithoutAnInputModuleTheCallersBusPassesUnchanged) {
    Rig rig;
    rig.modules.add("n", source(1));
    rig.publish({{node("n")}, {}, {}});
    HostBus input(2, 4);
    TransportInfo transport{4800, 90.0, true, false};
    rig.engine->process(4, input.span(), {}, transport, nullptr, 0);
    const auto& record = rig.modules.record("n");
    EXPECT_EQ(record.lastHostInput.channels, input.span().channels);
    EXPECT_EQ(record.lastHostInput.channelCount, 2u);
    EXPECT_EQ(record.lastTransport.samplePosition, 4800);
    EXPECT_EQ(record.lastTransport.tempo, 90.0);
    EXPECT_TRUE(record.lastTransport.playing);
    EXPECT_EQ(record.lastFrames, 4u);
}

TEST(AudioEnginePeaks, PeaksFollowDefinitionIndexAndResetWithANewGraph) {
    Rig rig;
    const float nan = std::nanf("");
    // NaNs both where samples go four at a time and in the tail after them.
    rig.modules.add("loud", source(2, {0.5f, nan, -0.75f, 0.25f, 0.1f, 0.2f, 0.3f, 0.4f, nan}));
    rig.modules.add("sink", speaker(2));
    rig.modules.add("silent", source(1));
    rig.publish({{node("sink", "output"), node("loud"), node("silent")},
                 {cable("loud", "out", "sink", "in")},
                 {}});
    rig.run(9);
    // Channel 1 plays twice the samples: -1.5 is the largest, and the NaNs change nothing.
    EXPECT_EQ(rig.engine->nodePeak(1), 1.5f);
    EXPECT_EQ(rig.engine->nodePeak(0), 1.5f);
    EXPECT_EQ(rig.engine->nodePeak(2), 0.0f);
    EXPECT_EQ(rig.engine->nodePeak(128), 0.0f);

    rig.modules.add("again", source(2, {0.5f}));
    rig.publish(
        {{node("sink", "output"), node("again")}, {cable("again", "out", "sink", "in")}, {}});
    rig.run(0);
    EXPECT_EQ(rig.engine->nodePeak(0), 0.0f);
    EXPECT_EQ(rig.engine->nodePeak(1), 0.0f);
    rig.run(1);
    EXPECT_EQ(rig.engine->nodePeak(1), 1.0f);
}

// The built-in output meters its input while writing the host; a source whose only reader it is
// takes that peak for the same samples, and one read twice is metered by its copies as before.
TEST(AudioEnginePeaks, ASourceReadOnlyByTheHostOutputTakesItsPeak) {
    for (const bool readTwice : {false, true}) {
        SCOPED_TRACE(readTwice ? "read twice" : "read once");
        Rig rig;
        rig.modules.add("src", source(2, {0.25f, std::nanf(""), -0.5f}));
        rig.modules.add("other", gain(2));
        const ModuleFactory testModules = rig.modules.factory();
        GraphDefinition patch{
            {node("src"), node("out", "output")}, {cable("src", "out", "out", "in")}, {}};
        if (readTwice) {
            patch.nodes.push_back(node("other"));
            patch.cables.push_back(cable("src", "out", "other", "in"));
        }
        rig.engine->publishGraph(compileGraph(patch, kSpec, [&](const NodeDefinition& definition) {
            return definition.type == "output" ? createBuiltin(definition)
                                               : testModules(definition);
        }));
        HostBus output(2, 3);
        rig.run(3, output);
        // Channel 1 plays twice the samples.
        EXPECT_EQ(output.channel(1), (std::vector<float>{0.5f, 0.0f, -1.0f}));
        EXPECT_EQ(rig.engine->nodePeak(0), 1.0f);
        EXPECT_EQ(rig.engine->nodePeak(1), 1.0f);
    }
}

TEST(AudioEngineFloatMode, DenormalsAreFlushedDuringTheBlockAndTheModeRestored) {
    // A rounding mode other than the default shows that the whole word comes back, whether the
    // host flushes denormals itself or not.
    for (const unsigned int hostFlush : {0u, 0x8040u}) {
        SCOPED_TRACE(hostFlush);
        Rig rig;
        rig.modules.add("n", gain(1, 1e-10f));
        rig.modules.add("src", source(1, {1e-30f}));
        rig.publish({{node("src"), node("n")}, {cable("src", "out", "n", "in")}, {}});
        const unsigned int before = _mm_getcsr();
        _mm_setcsr((before & ~0x8040u) | hostFlush | _MM_ROUND_TOWARD_ZERO);
        const unsigned int chosen = _mm_getcsr();
        rig.run(1);
        const unsigned int after = _mm_getcsr();
        _mm_setcsr(before);
        EXPECT_EQ(rig.modules.record("n").floatModeInProcess & 0x8040u, 0x8040u);
        EXPECT_EQ(after, chosen);
        // 1e-30 x 1e-10 is a denormal, flushed to zero inside the block.
        EXPECT_EQ(rig.engine->nodePeak(1), 0.0f);
    }
}

TEST(AudioEngineRealTime, BlocksAllocateNothing) {
    Rig rig;
    const auto build = [&](const std::string& suffix) {
        TestModuleSetup emitter = source(2, {1, 2, 3, 4, 5, 6, 7, 8});
        emitter.emitted = {{0, event(RackEventKind::NoteOn, 1)},
                           {0, event(RackEventKind::Start, 2)},
                           {1, event(RackEventKind::NoteOff, 3)}};
        rig.modules.add("e" + suffix, emitter);
        rig.modules.add("lag" + suffix, source(2, {}, 70));
        TestModuleSetup join;
        join.inputs = {port("a", 2), port("b", 2)};
        join.outputs = {port("out", 2)};
        rig.modules.add("join" + suffix, join);
        rig.modules.add("out" + suffix, speaker(2));
        return GraphDefinition{{node("e" + suffix), node("lag" + suffix), node("join" + suffix),
                                node("out" + suffix, "output")},
                               {cable("e" + suffix, "out", "join" + suffix, "a"),
                                cable("lag" + suffix, "out", "join" + suffix, "b"),
                                cable("join" + suffix, "out", "out" + suffix, "in")},
                               {{"e" + suffix, "join" + suffix}}};
    };
    rig.publish(build("1"));
    auto second = rig.compile(build("2"));
    HostBus input(2, 64, 0.5f);
    HostBus output(2, 64);
    const RackEvent host[] = {event(RackEventKind::NoteOn, 4)};
    const BusSpan in = input.span();
    const BusSpan out = output.span();
    rig.engine->enqueueControl("join1", 1, 0.5);

    std::size_t allocations = 0;
    {
        AllocationCounter counter;
        for (int block = 0; block < 4; ++block) {
            rig.engine->process(64, in, out, TransportInfo{}, host, 1);
        }
        allocations += counter.allocations();
    }
    rig.engine->enqueueControl("join2", 2, 0.25);
    AudioEngineTestAccess::offerGraph(*rig.engine, std::move(second));
    {
        AllocationCounter counter;
        for (int block = 0; block < 4; ++block) {
            rig.engine->process(64, in, out, TransportInfo{}, host, 1);
        }
        allocations += counter.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(rig.modules.record("join1").blocks, 4u);
    EXPECT_EQ(rig.modules.record("join2").blocks, 4u);
    EXPECT_EQ(rig.modules.record("join1").controlCount, 1u);
    EXPECT_EQ(rig.modules.record("join2").controlCount, 1u);
    EXPECT_GT(rig.modules.record("join2").receivedCount, 0u);
    EXPECT_TRUE(rig.modules.log().destroyed.empty());
}

} // namespace
} // namespace velkaphon::rack
