#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::refusal;
using testing::request;

constexpr const char* kRateOrBlock = "Rack supports 8..384 kHz and blocks up to 4096 frames.";

json defaultGraph() {
    return json::parse(R"({
        "schema": 1,
        "nodes": [
            {"id": "input", "type": "input", "configuration": {"channels": 2, "offset": 0}},
            {"id": "faders", "type": "fader-bank",
             "configuration": {"strips": 1, "channels": [2], "gainsDb": [0]}},
            {"id": "output", "type": "output", "configuration": {"channels": 2, "offset": 0}}],
        "cables": [
            {"from": "input", "output": "out", "to": "faders", "input": "in0"},
            {"from": "faders", "output": "out0", "to": "output", "input": "in"}],
        "eventCables": []})");
}

class RackTest : public ::testing::Test {
protected:
    json state() { return rack.handleCommand(request("state")); }
    json graphOf(const json& graph) { return rack.handleCommand(request("graph", graph)); }

    FakeModuleLog log;
    RackApplication rack{true, platformAudioSystem(), fakeModules(log)};
};

TEST_F(RackTest, AFreshRackHoldsTheDefaultPatchLayoutAndPorts) {
    const json result = state();
    EXPECT_EQ(result["project"]["product"], "VELKAPHON RACK");
    EXPECT_EQ(result["project"]["version"], "0.1.0-beta.3");
    EXPECT_EQ(result["project"]["graph"], defaultGraph());
    // The stored numbers are integers, as the page wrote them.
    EXPECT_TRUE(
        result["project"]["graph"]["nodes"][1]["configuration"]["gainsDb"][0].is_number_integer());
    EXPECT_EQ(result["project"]["layout"], json::parse(R"({"input": {"x": 45, "y": 60},
        "faders": {"x": 380, "y": 60}, "output": {"x": 735, "y": 60}})"));

    const json& ports = result["ports"];
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports["faders"]["inputs"][0]["id"], "in0");
    EXPECT_EQ(ports["faders"]["inputs"][0]["channels"], 2);
    EXPECT_EQ(ports["faders"]["outputs"][0]["id"], "out0");
    EXPECT_EQ(ports["input"]["inputs"], json::array());
    EXPECT_EQ(ports["input"]["outputs"][0]["id"], "out");
    EXPECT_EQ(ports["output"]["inputs"][0]["id"], "in");
    EXPECT_FALSE(ports["faders"].contains("parameters"));
}

TEST_F(RackTest, AFreshPluginRackReportsNothingRunning) {
    const json status = rack.handleCommand(request("status"));
    EXPECT_EQ(status["running"], false);
    EXPECT_EQ(status["playing"], false);
    EXPECT_EQ(status["recording"], false);
    EXPECT_EQ(status["recordingRequested"], false);
    EXPECT_EQ(status["pluginMode"], true);
    EXPECT_EQ(status["latencyFrames"], 0);
    EXPECT_EQ(status["sampleRate"], 48000.0);
    EXPECT_EQ(status["callbacks"], 0);
    EXPECT_EQ(status["peaks"], json::array({0.0, 0.0, 0.0}));
    EXPECT_EQ(status["media"], json::parse(R"({"faders": {"peaks": [0.0]}})"));
    EXPECT_EQ(status["parameters"], json::object());
    EXPECT_EQ(status["error"], "");
    EXPECT_FALSE(status.contains("device"));
}

TEST(RackStandalone, ANeverStartedRackReportsAStoppedDevice) {
    RackApplication rack(false);
    const json status = rack.handleCommand(request("status"));
    EXPECT_EQ(status["pluginMode"], false);
    ASSERT_TRUE(status.contains("device"));
    EXPECT_EQ(status["device"]["running"], false);
    EXPECT_TRUE(status["device"]["latencyMs"].is_null());
    EXPECT_EQ(status["device"]["xruns"], 0);
    EXPECT_EQ(status["device"]["error"], "");
}

TEST_F(RackTest, AnUnknownModuleTypeLeavesThePatchModulesAndPortsInForce) {
    const json before = state();
    json graph = chain({{"mystery", "no-such-module"}});
    EXPECT_EQ(refusal(rack, request("graph", graph)), "Unknown module type: no-such-module");
    const json after = state();
    EXPECT_EQ(after["project"], before["project"]);
    EXPECT_EQ(after["ports"], before["ports"]);
}

TEST_F(RackTest, ACompilerRefusalLeavesThePatchRunning) {
    json graph = chain({{"d", "delay"}});
    graph["cables"][0]["output"] = "nowhere";
    const std::string text = refusal(rack, request("graph", graph));
    EXPECT_NE(text, "no error");
    EXPECT_EQ(state()["project"]["graph"], defaultGraph());

    // The default patch still carries audio from input to output.
    float left[64];
    float right[64];
    float outLeft[64] = {};
    float outRight[64] = {};
    for (int i = 0; i < 64; ++i) {
        left[i] = 0.25f;
        right[i] = -0.5f;
    }
    float* inputs[] = {left, right};
    float* outputs[] = {outLeft, outRight};
    rack.processHostBlock(64, {inputs, 2}, {outputs, 2}, {}, nullptr, 0);
    EXPECT_FLOAT_EQ(outLeft[63], 0.25f);
    EXPECT_FLOAT_EQ(outRight[63], -0.5f);
}

TEST_F(RackTest, ConfigureRefusesRatesAndBlocksOutsideTheRangeAndKeepsTheSpec) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const ProcessSpec spec :
         {ProcessSpec{7999.9, 512}, ProcessSpec{384000.1, 512}, ProcessSpec{nan, 512},
          ProcessSpec{48000.0, 0}, ProcessSpec{48000.0, 4097}}) {
        try {
            rack.configure(spec);
            ADD_FAILURE() << spec.sampleRate << " / " << spec.maxBlockSize << " accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), kRateOrBlock);
        }
        EXPECT_EQ(rack.status()["sampleRate"], 48000.0);
    }
    rack.configure({8000.0, 1});
    EXPECT_EQ(rack.status()["sampleRate"], 8000.0);
    rack.configure({384000.0, 4096});
    EXPECT_EQ(rack.status()["sampleRate"], 384000.0);
}

TEST_F(RackTest, ConfigureRecompilesAlsoWithTheSameValues) {
    graphOf(chain({{"probe", "probe"}}));
    const int before = log["probe"].created.load();
    rack.configure({48000.0, 4096});
    rack.configure({48000.0, 4096});
    EXPECT_EQ(log["probe"].created.load(), before + 2);
    EXPECT_EQ(state()["project"]["graph"], chain({{"probe", "probe"}}));
}

TEST_F(RackTest, TheLatencyCallbackRunsOnceForEachChange) {
    int calls = 0;
    rack.onLatencyChanged = [&] {
        ++calls;
    };
    json graph = chain({{"d", "delay"}});
    graph["nodes"][1]["configuration"]["latency"] = 64;
    graphOf(graph);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(rack.status()["latencyFrames"], 64);
    graphOf(graph);
    rack.configure({44100.0, 256});
    EXPECT_EQ(calls, 1);
    graph["nodes"][1]["configuration"]["latency"] = 32;
    graphOf(graph);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(rack.status()["latencyFrames"], 32);
}

TEST(RackControlWindow, TwoRacksRegisterTwoClasses) {
    RackApplication first(true);
    RackApplication second(true);
    EXPECT_NE(first.controlClassName(), second.controlClassName());
    EXPECT_EQ(first.controlClassName().rfind(L"VelkaphonRackControlService-", 0), 0u);
    EXPECT_EQ(first.controlClassName(), controlWindowClassName(&first));
}

TEST_F(RackTest, EditorsOpenOnlyForHostedModules) {
    std::string error;
    EXPECT_FALSE(rack.openEditor("nobody", nullptr, error));
    EXPECT_EQ(error, "Select an existing plugin.");
    EXPECT_FALSE(rack.openEditor("faders", nullptr, error));
    EXPECT_EQ(error, "Built-in controls are on the module panel.");

    json graph = chain({{"a", "plugin"}, {"b", "plugin"}});
    graph["nodes"][2]["configuration"]["editorResult"] = true;
    graphOf(graph);
    EXPECT_FALSE(rack.openEditor("a", nullptr, error));
    EXPECT_EQ(error, "editor of a");
    EXPECT_TRUE(rack.openEditor("b", nullptr, error));
}

TEST_F(RackTest, ARecompileClosesTheEditorsOfTheReplacedPlugins) {
    graphOf(chain({{"a", "plugin"}}));
    const int before = log["a"].editorCloses.load();
    graphOf(chain({{"a", "plugin"}}));
    EXPECT_EQ(log["a"].editorCloses.load(), before + 1);
    rack.closeHostedEditors();
    EXPECT_EQ(log["a"].editorCloses.load(), before + 2);
}

TEST_F(RackTest, TheControlTickGivesEveryPluginItsIdleCallInNodeIdOrder) {
    graphOf(chain({{"zeta", "plugin"}, {"alpha", "plugin"}}));
    log.idleOrder.clear();
    rack.onControlTick();
    EXPECT_EQ(log.idleOrder, (std::vector<std::string>{"alpha", "zeta"}));
}

TEST_F(RackTest, AFailingIdleCallEndsTheTickAndBecomesTheError) {
    json graph = chain({{"a", "plugin"}, {"b", "plugin"}});
    graph["nodes"][1]["configuration"]["idleThrows"] = "standard";
    graphOf(graph);
    log.idleOrder.clear();
    EXPECT_THROW(rack.onControlTick(), std::runtime_error);
    rack.runControlTimer();
    EXPECT_EQ(log.idleOrder, (std::vector<std::string>{"a", "a"}));
    EXPECT_EQ(rack.status()["error"], "idle of a failed");

    graph["nodes"][1]["configuration"]["idleThrows"] = "other";
    graphOf(graph);
    rack.runControlTimer();
    EXPECT_EQ(rack.status()["error"], "A plugin control callback failed.");
}

TEST_F(RackTest, HostedModulesDescribeTheirEventsAndParameters) {
    json graph = chain({{"synth", "plugin"}});
    graph["nodes"][1]["configuration"] = {
        {"eventInput", true}, {"parameters", {{{"id", 7}, {"name", "Cutoff"}, {"value", 0.25}}}}};
    graphOf(graph);
    const json result = state();
    const json& ports = result["ports"]["synth"];
    EXPECT_EQ(ports["eventInput"], true);
    EXPECT_EQ(ports["eventOutput"], false);
    EXPECT_EQ(ports["parameters"],
              json::parse(R"([{"id": 7, "name": "Cutoff", "value": 0.25, "unit": "dB",
                               "readOnly": false}])"));
    EXPECT_EQ(result["status"]["parameters"]["synth"],
              json::parse(R"([{"id": 7, "value": 0.25}])"));
}

TEST_F(RackTest, ARestartRequestIsLeftToTheTickButAFaultIsNamedAndNotRestarted) {
    json graph = chain({{"synth", "plugin"}});
    graph["nodes"][1]["configuration"]["restart"] = true;
    EXPECT_EQ(graphOf(graph)["status"]["error"], "");

    graph["nodes"][1]["configuration"]["fault"] = "it threw";
    graphOf(graph);
    const int created = log["synth"].created.load();
    rack.onControlTick();
    EXPECT_EQ(log["synth"].created.load(), created);
    EXPECT_EQ(rack.status()["error"],
              "Plugin synth stopped working: it threw. Rebuild the patch to restart it.");
}

TEST_F(RackTest, StopInPluginModeClearsTheTransportAndDisarmsRecorders) {
    rack.handleCommand(request("play"));
    float silence[16] = {};
    float* rows[] = {silence, silence};
    rack.processHostBlock(16, {rows, 2}, {rows, 2}, {}, nullptr, 0);
    EXPECT_EQ(rack.status()["running"], true);
    const json status = rack.handleCommand(request("stop"));
    EXPECT_EQ(status["running"], false);
    EXPECT_EQ(status["playing"], false);
    EXPECT_EQ(status["recordingRequested"], false);
    EXPECT_FALSE(status.contains("device"));
}

} // namespace
} // namespace velkaphon::rack
