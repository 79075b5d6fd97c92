#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::HeldVstPlugin;
using testing::refusal;
using testing::request;
using testing::Vst3TestBlock;
using testing::Vst3TestClass;
using testing::vstConfiguration;

namespace fs = std::filesystem;

// The test plug-in's gain class between the input and a recorder; the real hosting makes it.
json pluginPatch() {
    return {{"schema", 1},
            {"nodes",
             {{{"id", "input"}, {"type", "input"}, {"configuration", {{"channels", 2}}}},
              {{"id", "fx"},
               {"type", "vst3"},
               {"configuration", vstConfiguration(Vst3TestClass::Gain)}},
              {{"id", "rec"}, {"type", "recorder"}, {"configuration", json::object()}},
              {{"id", "output"}, {"type", "output"}, {"configuration", {{"channels", 2}}}}}},
            {"cables",
             {{{"from", "input"}, {"output", "out"}, {"to", "fx"}, {"input", "0"}},
              {{"from", "fx"}, {"output", "0"}, {"to", "rec"}, {"input", "in"}},
              {{"from", "rec"}, {"output", "out"}, {"to", "output"}, {"input", "in"}}}}};
}

class RackPlugin : public ::testing::Test {
protected:
    RackPlugin() {
        rack.handleCommand(request("graph", pluginPatch()));
        // An edit in the plug-in's own editor, which reaches its processor in the next block.
        EXPECT_EQ(plugin.probe().performEdit(1000, 0.75), vst3::kResultOk);
        runBlocks(rack);
    }
    static void runBlocks(RackApplication& target) {
        target.onControlTick();
        float samples[64] = {};
        float* rows[] = {samples, samples};
        for (int block = 0; block < 4; ++block) {
            target.processHostBlock(64, {rows, 2}, {rows, 2}, {}, nullptr, 0);
        }
    }
    static double editedValue(RackApplication& target) {
        const json status = target.status();
        for (const json& entry : status["parameters"]["fx"]) {
            if (entry["id"] == 1000) {
                return entry["value"].get<double>();
            }
        }
        return -1.0;
    }

    HeldVstPlugin plugin;
    FakeModuleLog log;
    // Only the recorder is a stand-in; "vst3" goes to the real hosting.
    ModuleFactory recorderOnly = [this](const NodeDefinition& node) -> std::unique_ptr<Module> {
        return node.type == "recorder" ? fakeModules(log)(node) : nullptr;
    };
    RackApplication rack{true, platformAudioSystem(), recorderOnly};
};

TEST_F(RackPlugin, TheEditedStateSurvivesRecord) {
    ASSERT_DOUBLE_EQ(editedValue(rack), 0.75);
    rack.handleCommand(request("record"));
    EXPECT_DOUBLE_EQ(editedValue(rack), 0.75);
    const json stored = rack.handleCommand(request("state"))["project"]["graph"]["nodes"][1];
    EXPECT_TRUE(stored["configuration"].contains("componentState"));
}

TEST_F(RackPlugin, TheEditedStateSurvivesANewRate) {
    rack.configure({96000.0, 512});
    EXPECT_DOUBLE_EQ(editedValue(rack), 0.75);
    EXPECT_EQ(rack.status()["sampleRate"], 96000.0);
}

TEST_F(RackPlugin, TheEditedStateSurvivesASaveAndRestore) {
    const fs::path folder = fs::temp_directory_path() / "velkaphon-rack-plugin-test";
    fs::create_directories(folder);
    const fs::path file = folder / "plugin.vkrack";
    writeProjectFile(file, rack.projectDocument());

    FakeModuleLog otherLog;
    RackApplication reopened(
        true, platformAudioSystem(), [&](const NodeDefinition& node) -> std::unique_ptr<Module> {
            return node.type == "recorder" ? fakeModules(otherLog)(node) : nullptr;
        });
    reopened.restoreProject(readProjectFile(file));
    runBlocks(reopened);
    EXPECT_DOUBLE_EQ(editedValue(reopened), 0.75);
    fs::remove_all(folder);
}

TEST_F(RackPlugin, WithAudioStoppedTheNewestValueReachesTheProcessorInTheFirstBlock) {
    rack.stop();
    for (int move = 1; move <= 1500; ++move) {
        ASSERT_EQ(
            rack.handleCommand(request(
                "parameter", {{"node", "fx"}, {"parameter", 1000}, {"value", move / 1500.0}})),
            json::object())
            << move;
    }
    const json stored = rack.handleCommand(request("state"))["project"]["graph"]["nodes"][1];
    EXPECT_EQ(stored["configuration"]["parameters"],
              json::parse(R"([{"id": 1000, "value": 1.0}])"));
    float samples[64] = {};
    float* rows[] = {samples, samples};
    rack.processHostBlock(64, {rows, 2}, {rows, 2}, {}, nullptr, 0);
    const Vst3TestBlock& block = plugin.probe().lastBlock;
    ASSERT_EQ(block.changeCount, 1);
    EXPECT_EQ(block.changeIds[0], 1000u);
    EXPECT_DOUBLE_EQ(block.changeValues[0], 1.0);
}

TEST_F(RackPlugin, ThePortsDescriptionListsThePluginsParameters) {
    const json ports = rack.handleCommand(request("state"))["ports"]["fx"];
    ASSERT_TRUE(ports["parameters"].is_array());
    ASSERT_FALSE(ports["parameters"].empty());
    EXPECT_EQ(ports["parameters"][0]["id"], 1000);
    EXPECT_TRUE(ports.contains("eventInput"));
    EXPECT_TRUE(ports.contains("eventOutput"));
}

TEST_F(RackPlugin, InspectDescribesAPluginFileAndRefusesOthers) {
    const json entries = rack.handleCommand(request("inspect", {{"path", VELKAPHON_TEST_VST3}}));
    ASSERT_TRUE(entries.is_array());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0]["format"], "VST3");
    EXPECT_EQ(entries[0]["path"], VELKAPHON_TEST_VST3);
    EXPECT_EQ(refusal(rack, request("inspect", {{"path", "C:/Plugins/Old.dll"}})),
              "Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not supported in this "
              "release.");
}

} // namespace
} // namespace velkaphon::rack
