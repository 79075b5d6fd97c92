#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"
#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::clapConfiguration;
using testing::ClapTestProbe;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::HeldClapPlugin;
using testing::HeldVstPlugin;
using testing::pluginChain;
using testing::refusal;
using testing::request;
using testing::Vst3CallLog;
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

// A control tick, then four host blocks.
void runBlocks(RackApplication& target) {
    target.onControlTick();
    float samples[64] = {};
    float* rows[] = {samples, samples};
    for (int block = 0; block < 4; ++block) {
        target.processHostBlock(64, {rows, 2}, {rows, 2}, {}, nullptr, 0);
    }
}

// The status value of node fx's parameter, or -1 when it has none.
double parameterValue(RackApplication& target, std::uint32_t id) {
    const json status = target.status();
    for (const json& entry : status["parameters"]["fx"]) {
        if (entry["id"] == id) {
            return entry["value"].get<double>();
        }
    }
    return -1.0;
}

// A project written to disk and opened in a new plug-in rack with the real hosting.
class SavedProject {
public:
    explicit SavedProject(RackApplication& rack)
        : folder_(fs::temp_directory_path() / "velkaphon-rack-plugin-test") {
        fs::create_directories(folder_);
        writeProjectFile(file(), rack.projectDocument());
    }
    ~SavedProject() { fs::remove_all(folder_); }
    fs::path file() const { return folder_ / "plugin.vkrack"; }
    std::unique_ptr<RackApplication> reopen(ModuleFactory overrides = {}) const {
        auto reopened =
            std::make_unique<RackApplication>(true, platformAudioSystem(), std::move(overrides));
        reopened->restoreProject(readProjectFile(file()));
        return reopened;
    }

private:
    fs::path folder_;
};

class RackPlugin : public ::testing::Test {
protected:
    RackPlugin() {
        rack.handleCommand(request("graph", pluginPatch()));
        // An edit in the plug-in's own editor, which reaches its processor in the next block.
        EXPECT_EQ(plugin.probe().performEdit(1000, 0.75), vst3::kResultOk);
        runBlocks(rack);
    }
    static double editedValue(RackApplication& target) { return parameterValue(target, 1000); }

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
    const SavedProject project(rack);
    FakeModuleLog otherLog;
    const auto reopened =
        project.reopen([&](const NodeDefinition& node) -> std::unique_ptr<Module> {
            return node.type == "recorder" ? fakeModules(otherLog)(node) : nullptr;
        });
    runBlocks(*reopened);
    EXPECT_DOUBLE_EQ(editedValue(*reopened), 0.75);
}

TEST_F(RackPlugin, ASeparateControllersOwnStateSurvivesAPatchEditAndASaveAndLoad) {
    const json patch = pluginChain("vst3", vstConfiguration(Vst3TestClass::SeparateController));
    rack.handleCommand(request("graph", patch));
    plugin.probe().setViewZoom(0.25);
    Vst3CallLog log;
    rack.handleCommand(request("graph", patch));
    EXPECT_EQ(log.count("setState Test Controller 0.250000"), 1);
    const SavedProject project(rack);
    std::ifstream file(project.file());
    const json stored = json::parse(file)["graph"]["nodes"][1]["configuration"];
    EXPECT_EQ(stored["controllerState"], json({86, 75, 84, 86, 0, 0, 0, 0, 0, 0, 208, 63}));

    const auto reopened = project.reopen();
    EXPECT_EQ(log.count("setState Test Controller 0.250000"), 2);
    EXPECT_EQ(reopened->projectDocument()["graph"]["nodes"][1]["configuration"]["controllerState"],
              stored["controllerState"]);
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

// The test CLAP plug-in loads a preset of its own (0.25 for parameter 100) from its first block.
TEST(RackClapPlugin, APresetLoadedInsideThePluginSurvivesAPatchEditAndASaveAndLoad) {
    HeldClapPlugin plugin;
    plugin.probe() = ClapTestProbe{};
    RackApplication rack(true, platformAudioSystem());
    // The page keeps sending the plug-in's first configuration, without state or values.
    const json patch = pluginChain("clap", clapConfiguration("velkaphon.test.own-presets"));
    rack.handleCommand(request("graph", patch));
    runBlocks(rack);
    rack.onControlTick();
    ASSERT_EQ(parameterValue(rack, 100), 0.25);

    rack.handleCommand(request("graph", patch));
    EXPECT_EQ(parameterValue(rack, 100), 0.25);
    runBlocks(rack);
    rack.onControlTick();
    EXPECT_EQ(parameterValue(rack, 100), 0.25);

    const SavedProject project(rack);
    const auto reopened = project.reopen();
    EXPECT_EQ(parameterValue(*reopened, 100), 0.25);
    runBlocks(*reopened);
    reopened->onControlTick();
    EXPECT_EQ(parameterValue(*reopened, 100), 0.25);
    EXPECT_EQ(plugin.probe().mainThreadCalls, 1u);
}

TEST(RackClapPlugin, AStateThePluginRefusesStaysInTheProjectByteForByteAndTheProjectOpens) {
    json configuration = clapConfiguration("velkaphon.test.rejects-state");
    configuration["state"] = {0, 255, 7};
    const json patch = pluginChain("clap", configuration);
    const std::string notice = "Plugin fx refused its saved state and starts from its defaults; "
                               "the saved state stays in the project.";
    RackApplication rack(true, platformAudioSystem());
    EXPECT_EQ(rack.handleCommand(request("graph", patch))["status"]["error"], notice);
    // An edit carries the refused bytes over and builds again.
    EXPECT_EQ(rack.handleCommand(request("graph", patch))["status"]["error"], notice);
    const json saved = rack.projectDocument()["graph"]["nodes"][1]["configuration"]["state"];
    EXPECT_EQ(saved.dump(), "[0,255,7]");

    const SavedProject project(rack);
    const auto reopened = project.reopen();
    EXPECT_EQ(reopened->status()["error"], notice);
    EXPECT_EQ(reopened->projectDocument()["graph"]["nodes"][1]["configuration"]["state"], saved);
}

// A VST3 plug-in that settles its latency in a block is restarted at the next tick, and the
// patch's latency follows it without a rebuild by hand.
TEST(RackVstPlugin, ALatencyChangedInABlockIsFollowedAtTheNextTick) {
    HeldVstPlugin plugin;
    RackApplication rack(true, platformAudioSystem());
    rack.handleCommand(
        request("graph", pluginChain("vst3", vstConfiguration(Vst3TestClass::Programs))));
    ASSERT_EQ(rack.latency(), 480u);
    runBlocks(rack);
    rack.handleCommand(
        request("parameter", {{"node", "fx"}, {"parameter", 1003}, {"value", 0.25}}));
    // The block takes the change before a tick hands it to the controller, whose values the
    // test plug-in shares with its processor.
    float samples[64] = {};
    float* rows[] = {samples, samples};
    rack.processHostBlock(64, {rows, 2}, {rows, 2}, {}, nullptr, 0);
    rack.onControlTick();
    EXPECT_EQ(rack.latency(), 240u);
    EXPECT_EQ(rack.status()["error"],
              "Plugin fx asked for new ports or latency and was restarted.");
    EXPECT_EQ(parameterValue(rack, 1003), 0.25);
}

// The host's audio thread asks the rack to stop after its last block, as a VST3 host's
// setProcessing(false) does.
TEST(RackClapPluginThreads,
     AStopOnTheHostsAudioThreadStopsProcessingThereAndTheNextRunStartsAgain) {
    HeldClapPlugin plugin;
    plugin.probe() = ClapTestProbe{};
    {
        RackApplication rack(true, platformAudioSystem());
        rack.handleCommand(
            request("graph", pluginChain("clap", clapConfiguration("velkaphon.test.own-presets"))));
        const auto runAndStop = [&rack] {
            std::thread host([&rack] {
                runBlocks(rack);
                rack.requestStop();
            });
            host.join();
        };
        runAndStop();
        EXPECT_EQ(plugin.probe().stopProcessingCalls, 1u);
        runAndStop();
        EXPECT_EQ(plugin.probe().startProcessingCalls, 2u);
        EXPECT_EQ(plugin.probe().stopProcessingCalls, 2u);
        // A graph that never runs, and the stopped one it replaces, go without another stop.
        rack.handleCommand(
            request("graph", pluginChain("clap", clapConfiguration("velkaphon.test.own-presets"))));
    }
    const ClapTestProbe& log = plugin.probe();
    EXPECT_EQ(log.stopProcessingCalls, 2u);
    EXPECT_EQ(log.stopProcessingOffAudioThread, 0u);
    EXPECT_EQ(log.activateCalls, 2u);
    EXPECT_EQ(log.deactivateCalls, 2u);
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
