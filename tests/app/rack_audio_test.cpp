#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::request;

struct DeviceRows {
    float inLeft[128] = {};
    float inRight[128] = {};
    float outLeft[128] = {};
    float outRight[128] = {};
    const float* inputs[2] = {inLeft, inRight};
    float* outputs[2] = {outLeft, outRight};
};

TEST(RackDeviceBlock, RunsWithoutAllocatingAndCountsFramesAndBlocks) {
    FakeModuleLog log;
    RackApplication rack(false, platformAudioSystem(), fakeModules(log));
    rack.handleCommand(request("graph", chain({{"probe", "probe"}})));
    DeviceRows rows;
    for (int i = 0; i < 128; ++i) {
        rows.inLeft[i] = 0.5f;
        rows.inRight[i] = -0.25f;
    }
    std::int64_t positions[3] = {};
    std::size_t allocations = 0;
    {
        const velkaphon::rack::testing::AllocationCounter counter;
        for (std::int64_t& position : positions) {
            RackApplication::processDeviceBlock(&rack, rows.inputs, 2, rows.outputs, 2, 100,
                                                44100.0);
            position = log["probe"].lastPosition.load();
        }
        allocations = counter.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(positions[0], 0);
    EXPECT_EQ(positions[1], 100);
    EXPECT_EQ(positions[2], 200);
    EXPECT_FLOAT_EQ(rows.outLeft[99], 0.5f);
    EXPECT_FLOAT_EQ(rows.outRight[99], -0.25f);
    const json status = rack.status();
    EXPECT_EQ(status["callbacks"], 3);
    // Only a host block marks a standalone rack as running; the device path is "start"'s.
    EXPECT_EQ(status["running"], false);
}

TEST(RackHostBlock, TakesTheHostsTransportAndMarksThePluginRunning) {
    FakeModuleLog log;
    RackApplication rack(true, platformAudioSystem(), fakeModules(log));
    rack.handleCommand(request("graph", chain({{"probe", "probe"}})));
    float samples[32] = {};
    float* rows[] = {samples, samples};
    TransportInfo transport;
    transport.samplePosition = 96000;
    std::size_t allocations = 0;
    {
        const velkaphon::rack::testing::AllocationCounter counter;
        rack.processHostBlock(32, {rows, 2}, {rows, 2}, transport, nullptr, 0);
        allocations = counter.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(log["probe"].lastPosition.load(), 96000);
    // A device block after it starts from the rack's own counter, untouched by the host.
    DeviceRows device;
    RackApplication::processDeviceBlock(&rack, device.inputs, 2, device.outputs, 2, 16, 48000.0);
    EXPECT_EQ(log["probe"].lastPosition.load(), 0);
    const json status = rack.status();
    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["callbacks"], 2);
}

TEST(RackApplicationThreads, EditsAndSnapshotsWhileTheAudioThreadRuns) {
    FakeModuleLog log;
    RackApplication rack(true, platformAudioSystem(), fakeModules(log));
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> blocks{0};
    std::thread audio([&] {
        DeviceRows rows;
        for (int i = 0; i < 128; ++i) {
            rows.inLeft[i] = 0.5f;
        }
        while (!done.load()) {
            RackApplication::processDeviceBlock(&rack, rows.inputs, 2, rows.outputs, 2, 128,
                                                48000.0);
            blocks.fetch_add(1);
        }
    });
    const json patches[] = {chain({{"d", "delay"}}), chain({{"p", "probe"}, {"d", "delay"}})};
    for (int round = 0; round < 40; ++round) {
        rack.handleCommand(request("graph", patches[round % 2]));
        rack.handleCommand(request("play", {{"playing", round % 2 == 0}}));
        rack.handleCommand(request("status"));
        rack.runControlTimer();
    }
    rack.handleCommand(request("graph", json::parse(R"({"schema": 1, "cables": [
        {"from": "input", "output": "out", "to": "faders", "input": "in0"},
        {"from": "faders", "output": "out0", "to": "output", "input": "in"}], "nodes": [
        {"id": "input", "type": "input", "configuration": {"channels": 2, "offset": 0}},
        {"id": "faders", "type": "fader-bank", "configuration": {"strips": 1, "channels": [2]}},
        {"id": "output", "type": "output", "configuration": {"channels": 2, "offset": 0}}]})")));
    for (int change = 0; change < 200; ++change) {
        rack.handleCommand(request(
            "parameter", {{"node", "faders"}, {"parameter", change % 2}, {"value", change % 3}}));
    }
    while (blocks.load() < 50) {
        std::this_thread::yield();
    }
    done = true;
    audio.join();
    rack.runControlTimer();
    EXPECT_GE(rack.status()["callbacks"].get<std::uint64_t>(), 50u);
    EXPECT_EQ(rack.status()["error"], "");
}

// A host's audio thread starts while fader moves arrive: the moves before it are applied here,
// those after it also go through the queue, and each lands and is stored.
TEST(RackApplicationThreads, MovesAroundTheFirstHostBlockAllLandAndAreStored) {
    RackApplication rack(true, platformAudioSystem());
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> blocks{0};
    DeviceRows rows;
    std::thread audio([&] {
        while (!started.load()) {
            std::this_thread::yield();
        }
        while (!done.load()) {
            rack.processHostBlock(128, {const_cast<float* const*>(rows.inputs), 2},
                                  {rows.outputs, 2}, {}, nullptr, 0);
            blocks.fetch_add(1);
        }
    });
    // Fewer moves than the queue holds, so no timing can fill it. Gains on even moves, mutes
    // on odd ones, on and off in turn.
    constexpr int kMoves = 602;
    for (int move = 0; move < kMoves; ++move) {
        started = started.load() || move == kMoves / 2;
        const double value = move % 2 == 0 ? move % 25 - 12 : move / 2 % 2;
        EXPECT_EQ(
            rack.handleCommand(request(
                "parameter", {{"node", "faders"}, {"parameter", move % 2}, {"value", value}})),
            json::object());
    }
    // Two more blocks: the second began after the last move was queued.
    const std::uint64_t after = blocks.load();
    while (blocks.load() < after + 2) {
        std::this_thread::yield();
    }
    done = true;
    audio.join();

    const json faders = rack.handleCommand(request("state"))["project"]["graph"]["nodes"][1];
    // The last gain move is 600 % 25 - 12 = -12 dB; the last mute move turned it off.
    EXPECT_EQ(faders["configuration"]["gainsDb"], json::array({-12}));
    EXPECT_EQ(faders["configuration"]["mutes"], json::array({false}));
    for (float& sample : rows.inLeft) {
        sample = 0.5f;
    }
    for (int block = 0; block < 100; ++block) {
        rack.processHostBlock(128, {const_cast<float* const*>(rows.inputs), 2}, {rows.outputs, 2},
                              {}, nullptr, 0);
    }
    EXPECT_NEAR(rows.outLeft[127], 0.5f * 0.25119f, 1e-4);
}

} // namespace
} // namespace velkaphon::rack
