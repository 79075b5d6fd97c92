#include "engine/audio_engine.hpp"
#include "engine/builtin.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/engine_host.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::HostBus;

std::unique_ptr<Module> builtinOnly(const NodeDefinition& node) {
    return createBuiltin(node);
}

// The rack's default patch: host input, one stereo fader strip, host output.
GraphDefinition defaultPatch(double gainDb) {
    return readGraphDefinition(json::parse(R"({"schema": 1,
        "nodes": [
          {"id": "input", "type": "input", "configuration": {"channels": 2, "offset": 0}},
          {"id": "faders", "type": "fader-bank",
           "configuration": {"strips": 1, "channels": [2], "gainsDb": [)" +
                                           std::to_string(gainDb) + R"(]}},
          {"id": "output", "type": "output", "configuration": {"channels": 2, "offset": 0}}],
        "cables": [
          {"from": "input", "output": "out", "to": "faders", "input": "in0"},
          {"from": "faders", "output": "out0", "to": "output", "input": "in"}]})"));
}

TEST(BuiltinPatch, HostInputReachesHostOutputThroughTheFaderBank) {
    const ProcessSpec spec{48000.0, 256};
    AudioEngine engine;
    engine.publishGraph(compileGraph(defaultPatch(-6.0), spec, builtinOnly));

    HostBus input(2, 256, 0.5f);
    HostBus output(2, 256, 9.0f);
    const float gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    {
        testing::AllocationCounter counter;
        engine.process(256, input.span(), output.span(), TransportInfo{}, nullptr, 0);
        EXPECT_EQ(counter.allocations(), 0u);
    }
    for (std::size_t c = 0; c < 2; ++c) {
        EXPECT_NEAR(output.channel(c)[0], 0.5f * gain, 1e-6f);
        EXPECT_NEAR(output.channel(c)[255], 0.5f * gain, 1e-6f);
    }
    EXPECT_NEAR(engine.nodePeak(2), 0.5f * gain, 1e-6f);

    // Muting the strip by the control queue fades the output to exactly zero.
    ASSERT_TRUE(engine.enqueueControl("faders", 1, 1.0));
    for (int block = 0; block < 100; ++block) {
        engine.process(256, input.span(), output.span(), TransportInfo{}, nullptr, 0);
    }
    EXPECT_EQ(output.channel(0)[255], 0.0f);
    EXPECT_EQ(output.channel(1)[255], 0.0f);
}

// A host that passes one buffer as input and output (as VST3 hosts may) still gets the faded
// input back, and what the rack's own gain makes infinite, or a NaN, reaches it as silence.
TEST(BuiltinPatch, TheHostOutputHoldsOnlyFiniteSamplesAndSharedBuffersWork) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float faded = static_cast<float>(0.5 * std::pow(10.0, -6.0 / 20.0));
    struct Case {
        double gainDb;
        bool shared;
        float input;
        float expected;
    };
    for (const Case& test : {Case{-6.0, true, 0.5f, faded}, Case{12.0, false, 3e38f, 0.0f},
                             Case{12.0, true, 3e38f, 0.0f}, Case{0.0, false, inf, 0.0f},
                             Case{0.0, false, nan, 0.0f}}) {
        SCOPED_TRACE(std::to_string(test.gainDb) + (test.shared ? " shared" : ""));
        AudioEngine engine;
        engine.publishGraph(compileGraph(defaultPatch(test.gainDb), {48000.0, 64}, builtinOnly));
        HostBus input(2, 64, test.input);
        HostBus separate(2, 64, 9.0f);
        const BusSpan output = test.shared ? input.span() : separate.span();
        engine.process(64, input.span(), output, TransportInfo{}, nullptr, 0);
        for (std::size_t c = 0; c < 2; ++c) {
            const std::vector<float>& written =
                test.shared ? input.channel(c) : separate.channel(c);
            EXPECT_EQ(written, std::vector<float>(64, test.expected));
        }
    }
}

// Built-in modules meter themselves; the engine's node peaks must still follow the one rule: the
// largest magnitude over the outputs (the inputs when there are none), a NaN changing nothing.
TEST(BuiltinPatch, EveryKindsNodePeakIsItsLargestMagnitudeWithNaNsLeftOut) {
    const GraphDefinition patch = readGraphDefinition(json::parse(R"({"schema": 1,
        "nodes": [
          {"id": "in", "type": "input"},
          {"id": "dist", "type": "distributor"},
          {"id": "matrix", "type": "matrix", "configuration": {"mapping": [1, -1]}},
          {"id": "split", "type": "breakout"},
          {"id": "sum", "type": "summing", "configuration": {"inputs": 1}},
          {"id": "faders", "type": "fader-bank", "configuration": {"gainsDb": [0]}},
          {"id": "out", "type": "output"}],
        "cables": [
          {"from": "in", "output": "out", "to": "dist", "input": "in"},
          {"from": "dist", "output": "out0", "to": "matrix", "input": "in"},
          {"from": "dist", "output": "out1", "to": "split", "input": "in"},
          {"from": "matrix", "output": "out", "to": "sum", "input": "in0"},
          {"from": "sum", "output": "out", "to": "faders", "input": "in0"},
          {"from": "faders", "output": "out0", "to": "out", "input": "in"}]})"));
    AudioEngine engine;
    engine.publishGraph(compileGraph(patch, {48000.0, 64}, builtinOnly));
    HostBus input(2, 64, 0.25f);
    input.channel(0)[3] = -0.75f;
    std::fill_n(input.channel(1).begin(), 64, 0.5f);
    input.channel(1)[0] = std::numeric_limits<float>::quiet_NaN();
    HostBus output(2, 64);
    engine.process(64, input.span(), output.span(), TransportInfo{}, nullptr, 0);
    const std::vector<float> expected = {0.75f, 0.75f, 0.5f, 0.75f, 0.5f, 0.5f, 0.5f};
    for (std::uint32_t node = 0; node < expected.size(); ++node) {
        EXPECT_EQ(engine.nodePeak(node), expected[node]) << patch.nodes[node].id;
    }
}

TEST(BuiltinPatch, AMonoFaderStripOnAStereoCableIsRefusedByTheCompiler) {
    GraphDefinition patch = defaultPatch(0.0);
    patch.nodes[1].configuration["channels"] = json::array({1});
    try {
        compileGraph(patch, ProcessSpec{48000.0, 256}, builtinOnly);
        FAIL() << "channel widths that differ were compiled";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Cable channel widths differ; use a Breakout/Matrix module");
    }
}

} // namespace
} // namespace velkaphon::rack
