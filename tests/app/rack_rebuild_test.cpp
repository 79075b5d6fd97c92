#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::refusal;
using testing::request;

class RackRebuild : public ::testing::Test {
protected:
    RackRebuild() {
        patch = chain({{"fx", "vst3"}, {"rec", "recorder"}});
        patch["nodes"][1]["configuration"] = {{"path", "C:/Plugins/Echo.vst3"},
                                              {"classId", "00112233445566778899AABBCCDDEEFF"},
                                              {"componentState", 1.0}};
        patch["nodes"][2]["configuration"] = {{"path", "C:/Takes/take.wav"}};
        rack.handleCommand(request("graph", patch));
        // An edit in the plug-in's own editor, which the stored patch knows nothing of.
        rack.handleCommand(
            request("parameter", {{"node", "fx"}, {"parameter", 99}, {"value", 5.0}}));
    }
    json node(const std::string& id) {
        const json state = rack.handleCommand(request("state"));
        for (const json& entry : state["project"]["graph"]["nodes"]) {
            if (entry["id"] == id) {
                return entry["configuration"];
            }
        }
        return nullptr;
    }

    // The plug-in asks for a restart, as one whose latency settles in its first block does.
    void askRestart(const std::string& id = "fx") {
        rack.handleCommand(request("parameter", {{"node", id}, {"parameter", 98}, {"value", 1}}));
    }
    int fxMade() { return log["fx"].created.load(); }

    FakeModuleLog log;
    std::chrono::steady_clock::time_point now;
    RackApplication rack{true, platformAudioSystem(), fakeModules(log), [this] {
                             return now;
                         }};
    json patch;
};

constexpr const char* kRestarted = "Plugin fx asked for new ports or latency and was restarted.";
constexpr const char* kLeftStopped =
    "A plugin requested new ports or latency. Rebuild the patch before continuing.";

TEST_F(RackRebuild, APluginAskingForARestartIsRebuiltWithItsStateUnlessItAsksAgainWithinASecond) {
    const int made = fxMade();
    askRestart();
    EXPECT_EQ(rack.status()["error"], "");
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 1);
    EXPECT_EQ(node("fx")["componentState"], 5.0);
    EXPECT_EQ(rack.status()["error"], kRestarted);
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 1);

    // Exactly a second later it may ask again; 999 ms after that it is left stopped for good.
    now += std::chrono::seconds(1);
    askRestart();
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 2);
    now += std::chrono::milliseconds(999);
    askRestart();
    rack.onControlTick();
    now += std::chrono::hours(1);
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 2);
    EXPECT_EQ(rack.status()["error"], kLeftStopped);

    // An edit gives it a new instance, which the tick restarts again.
    rack.handleCommand(request("graph", patch));
    askRestart();
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 4);
    EXPECT_EQ(rack.status()["error"], kRestarted);

    // Within that second, each rebuild the user asks for starts the window afresh, so its new
    // instance asking at once is restarted.
    const std::pair<const char*, std::function<void()>> userRebuilds[] = {
        {"edit",
         [&] {
             rack.handleCommand(request("graph", patch));
         }},
        {"open",
         [&] {
             rack.restoreProject({{"product", "VELKAPHON RACK"}, {"graph", patch}});
         }},
        {"configure",
         [&] {
             rack.configure({44100.0, 512});
         }},
    };
    for (const auto& [name, userRebuild] : userRebuilds) {
        SCOPED_TRACE(name);
        const int before = fxMade();
        userRebuild();
        askRestart();
        rack.onControlTick();
        EXPECT_EQ(fxMade(), before + 2);
        EXPECT_EQ(rack.status()["error"], kRestarted);
    }

    // The tick's restart for b is no fresh start for a, which asks again within its second.
    rack.handleCommand(request("graph", chain({{"a", "plugin"}, {"b", "plugin"}})));
    const int aMade = log["a"].created.load();
    for (const char* id : {"a", "b", "a"}) {
        askRestart(id);
        rack.onControlTick();
    }
    EXPECT_EQ(log["a"].created.load(), aMade + 2);
    EXPECT_EQ(rack.status()["error"], kLeftStopped);
}

TEST_F(RackRebuild, ARestartWaitsForTheTakeAndAFailedOneKeepsTheRunningPatch) {
    const int made = fxMade();
    log["rec"].mediaState = {{"recording", true}};
    askRestart();
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made);
    EXPECT_EQ(rack.status()["error"], kLeftStopped);

    log["rec"].mediaState = {{"finalized", true}};
    log["fx"].refusePrepare = true;
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 1);
    EXPECT_EQ(rack.status()["error"], "fx cannot be prepared");
    // Not tried again until the patch is rebuilt.
    now += std::chrono::hours(1);
    rack.onControlTick();
    EXPECT_EQ(fxMade(), made + 1);
    EXPECT_EQ(rack.status()["error"], "fx cannot be prepared");
}

TEST_F(RackRebuild, APluginThatRefusedItsStateIsNamedAndThePatchBuilds) {
    json refusing = patch;
    refusing["nodes"][1]["configuration"]["refusesState"] = true;
    const std::string notice = "Plugin fx refused its saved state and starts from its defaults; "
                               "the saved state stays in the project.";
    EXPECT_EQ(rack.handleCommand(request("graph", refusing))["status"]["error"], notice);
    rack.handleCommand(request("graph", patch));
    EXPECT_EQ(rack.status()["error"], "");
    rack.restoreProject({{"product", "VELKAPHON RACK"}, {"graph", refusing}});
    EXPECT_EQ(rack.status()["error"], notice);

    json two = chain({{"a", "plugin"}, {"b", "plugin"}});
    two["nodes"][1]["configuration"]["refusesState"] = true;
    two["nodes"][2]["configuration"]["refusesState"] = true;
    EXPECT_EQ(rack.handleCommand(request("graph", two))["status"]["error"],
              "Plugins a, b refused their saved states and start from their defaults; the saved "
              "states stay in the project.");
}

TEST_F(RackRebuild, RecordArmsEveryRecorderAndKeepsThePluginsEditedState) {
    const json status = rack.handleCommand(request("record"));
    EXPECT_EQ(status["recordingRequested"], true);
    EXPECT_EQ(node("rec")["armed"], true);
    EXPECT_EQ(node("rec")["followTransport"], true);
    EXPECT_EQ(node("fx")["componentState"], 5.0);
    // The rebuilt plug-in started from the carried state, not from the stored 1.0.
    EXPECT_EQ(rack.projectDocument()["graph"]["nodes"][1]["configuration"]["componentState"], 5.0);
}

TEST_F(RackRebuild, ConfigureAtANewRateKeepsThePluginsEditedState) {
    rack.configure({96000.0, 512});
    EXPECT_EQ(node("fx")["componentState"], 5.0);
    EXPECT_EQ(log["rec"].preparedRate, 96000.0);
}

TEST_F(RackRebuild, TheSamePluginAtTheSameNodeKeepsItsStateAcrossAnEdit) {
    rack.handleCommand(request("graph", patch));
    EXPECT_EQ(node("fx")["componentState"], 5.0);
    EXPECT_EQ(node("fx")["parameters"], json::array());
}

TEST_F(RackRebuild, AnotherPathOrClassDropsTheCapturedState) {
    json moved = patch;
    moved["nodes"][1]["configuration"]["path"] = "C:/Plugins/Other.vst3";
    rack.handleCommand(request("graph", moved));
    EXPECT_EQ(node("fx")["componentState"], 1.0);
    EXPECT_FALSE(node("fx").contains("parameters"));

    rack.handleCommand(request("parameter", {{"node", "fx"}, {"parameter", 99}, {"value", 6.0}}));
    json recast = moved;
    recast["nodes"][1]["configuration"]["classId"] = "FFEEDDCCBBAA99887766554433221100";
    rack.handleCommand(request("graph", recast));
    EXPECT_EQ(node("fx")["componentState"], 1.0);
}

TEST_F(RackRebuild, HostedParameterChangesAreStoredByParameterId) {
    rack.handleCommand(request("parameter", {{"node", "fx"}, {"parameter", 4}, {"value", 0.5}}));
    // The fixture's edit of parameter 99 came first.
    EXPECT_EQ(node("fx")["parameters"],
              json::parse(R"([{"id": 99, "value": 5.0}, {"id": 4, "value": 0.5}])"));
    rack.handleCommand(request("parameter", {{"node", "fx"}, {"parameter", 4}, {"value", 0.75}}));
    rack.handleCommand(request("parameter", {{"node", "fx"}, {"parameter", 2}, {"value", -1}}));
    EXPECT_EQ(node("fx")["parameters"],
              json::parse(R"([{"id": 99, "value": 5.0}, {"id": 4, "value": 0.75},
                               {"id": 2, "value": -1.0}])"));
    // The plug-in got each change at once as well.
    ASSERT_EQ(log["fx"].controls.size(), 3u);
    EXPECT_EQ(log["fx"].controls[2], (std::pair<std::uint32_t, double>{2, -1.0}));
}

TEST_F(RackRebuild, RecordersReleaseTheRequestOnceEveryTakeIsWrittenOut) {
    json twoRecorders = chain({{"a", "recorder"}, {"b", "recorder"}});
    rack.handleCommand(request("graph", twoRecorders));
    rack.handleCommand(request("record"));
    log["a"].mediaState = {{"finalized", true}, {"hasDestination", true}};
    log["b"].mediaState = {{"recording", true}, {"hasDestination", true}};
    json status = rack.handleCommand(request("status"));
    EXPECT_EQ(status["recording"], true);
    EXPECT_EQ(status["recordingRequested"], true);
    EXPECT_EQ(status["media"]["b"], log["b"].mediaState);

    // A take stopped by a write error is written out as well, and the rack says why.
    const std::string stopped = "Recording stopped: the disk is full. The take keeps the 8.2 s "
                                "recorded: C:/Takes/b.wav.";
    log["b"].mediaState = {
        {"finalized", true}, {"hasDestination", true}, {"failed", true}, {"error", stopped}};
    status = rack.handleCommand(request("status"));
    EXPECT_EQ(status["recording"], false);
    EXPECT_EQ(status["recordingRequested"], false);
    EXPECT_EQ(status["error"], stopped);
}

TEST_F(RackRebuild, ATakeWithoutADestinationKeepsTheRequest) {
    rack.handleCommand(request("record"));
    log["rec"].mediaState = {{"finalized", true}, {"hasDestination", false}};
    EXPECT_EQ(rack.handleCommand(request("status"))["recordingRequested"], true);
}

TEST_F(RackRebuild, ARecordingRecorderBlocksGraphEditsAndRestores) {
    log["rec"].mediaState = {{"recording", true}};
    const json before = rack.handleCommand(request("state"))["project"];
    EXPECT_EQ(refusal(rack, request("graph", chain({}))),
              "Stop recording before changing cables or modules.");
    log["rec"].mediaState = {{"finalizing", true}};
    const json document = {
        {"product", "VELKAPHON RACK"}, {"graph", chain({})}, {"layout", json::object()}};
    EXPECT_EQ(refusal(rack, request("restore", document)),
              "Stop recording before opening another rack project.");
    EXPECT_EQ(rack.handleCommand(request("state"))["project"], before);

    log["rec"].mediaState = {{"finalized", true}};
    EXPECT_EQ(refusal(rack, request("restore", document)), "no error");
}

TEST_F(RackRebuild, SavingDisarmsRecordersInTheDocumentAndThePatch) {
    rack.handleCommand(request("record"));
    const json saved = rack.projectDocument();
    EXPECT_EQ(saved["graph"]["nodes"][2]["configuration"]["armed"], false);
    EXPECT_EQ(node("rec")["armed"], false);
    // The module's "status" member never reaches a configuration.
    EXPECT_FALSE(saved["graph"]["nodes"][2]["configuration"].contains("status"));
}

TEST_F(RackRebuild, ARestoredRackStartsWithEveryRecorderDisarmed) {
    json document = {{"product", "VELKAPHON RACK"}, {"graph", patch}};
    document["graph"]["nodes"][2]["configuration"]["armed"] = true;
    document["graph"]["nodes"][2]["configuration"]["status"] = {{"recording", true}};
    rack.restoreProject(document);
    EXPECT_EQ(node("rec"), json::parse(R"({"armed": false, "path": "C:/Takes/take.wav"})"));
    // A restore takes the document's state, not the live plug-in's.
    EXPECT_EQ(node("fx")["componentState"], 1.0);
}

TEST_F(RackRebuild, StopDisarmsEveryRecorderOfThePatch) {
    rack.handleCommand(request("record"));
    rack.handleCommand(request("stop"));
    EXPECT_EQ(node("rec")["armed"], false);
}

TEST_F(RackRebuild, TheStoredPatchNamesTheFileTheRecorderUses) {
    json taken = patch;
    taken["nodes"][2]["configuration"]["pickedPath"] = "C:/Takes/take-take1.wav";
    rack.handleCommand(request("graph", taken));
    EXPECT_EQ(node("rec")["path"], "C:/Takes/take-take1.wav");
}

} // namespace
} // namespace velkaphon::rack
