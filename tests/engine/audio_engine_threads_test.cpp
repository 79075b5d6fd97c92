#include "engine/audio_engine.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/engine_host.hpp"
#include "tests/engine/test_module.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace velkaphon::rack {
namespace {

using testing::cable;
using testing::HostBus;
using testing::node;
using testing::port;
using testing::TestModuleFactory;
using testing::TestModuleSetup;

// One control thread publishes graphs and queues messages while another runs blocks.
TEST(AudioEngineThreads, GraphsAndMessagesCrossWithoutLossOrDoubleApplication) {
    constexpr std::uint32_t kMessages = 4000;
    constexpr std::uint32_t kMessagesPerGraph = 50;

    TestModuleFactory modules;
    TestModuleSetup source;
    source.outputs = {port("out", 2)};
    source.sourceSamples = {0.5f, 0.25f};
    modules.add("src", source);
    TestModuleSetup gain;
    gain.inputs = {port("in", 2)};
    gain.outputs = {port("out", 2)};
    modules.add("gain", gain);
    const GraphDefinition definition{
        {node("src"), node("gain")}, {cable("src", "out", "gain", "in")}, {}};
    const auto compile = [&] {
        return compileGraph(definition, {48000.0, 64}, modules.factory());
    };

    auto engine = std::make_unique<AudioEngine>();
    engine->publishGraph(compile());
    HostBus output(2, 64);
    // Every later message then finds a graph with its node.
    engine->process(64, {}, output.span(), TransportInfo{}, nullptr, 0);

    std::atomic<bool> identified{false};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> blocks{0};
    std::thread audio([&] {
        while (!identified.load()) {
            std::this_thread::yield();
        }
        const BusSpan out = output.span();
        while (!stop.load()) {
            engine->process(64, {}, out, TransportInfo{}, nullptr, 0);
            blocks.fetch_add(1);
            std::this_thread::yield();
        }
    });
    modules.log().forbiddenThread = audio.get_id();
    identified.store(true);

    int published = 1;
    float peakSeen = 0.0f;
    for (std::uint32_t i = 0; i < kMessages; ++i) {
        while (!engine->enqueueControl("gain", 0, static_cast<double>(i))) {
            engine->drainRetired();
            std::this_thread::yield();
        }
        if (i % kMessagesPerGraph == 0) {
            engine->publishGraph(compile());
            ++published;
        }
        peakSeen = std::max(peakSeen, engine->nodePeak(1));
    }
    // Let the audio thread take the last graph and empty the queue before it stops.
    const std::uint64_t reached = blocks.load();
    while (blocks.load() < reached + 4) {
        std::this_thread::yield();
    }
    stop.store(true);
    audio.join();
    engine->process(64, {}, output.span(), TransportInfo{}, nullptr, 0);
    engine->drainRetired();

    const auto& record = modules.record("gain");
    ASSERT_EQ(record.controlCount, kMessages);
    for (std::uint32_t i = 0; i < kMessages; ++i) {
        ASSERT_EQ(record.controls[i].value, static_cast<double>(i)) << i;
    }
    // Channel 1 plays twice the source samples; a torn or stray value would exceed it.
    EXPECT_LE(peakSeen, 1.0f);
    EXPECT_EQ(modules.created(), 2 * published);
    EXPECT_EQ(modules.log().destroyedOnForbiddenThread.load(), 0);
    // Only the running graph is left; the engine frees it on the control side too.
    EXPECT_EQ(modules.log().alive.load(), 2);
    engine.reset();
    EXPECT_EQ(modules.log().alive.load(), 0);
    EXPECT_EQ(modules.log().destroyedOnForbiddenThread.load(), 0);
}

} // namespace
} // namespace velkaphon::rack
