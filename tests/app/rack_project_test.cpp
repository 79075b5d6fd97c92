#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using ::testing::EndsWith;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::refusal;
using testing::request;

namespace fs = std::filesystem;

constexpr const char* kForeign = "This is not a VELKAPHON RACK project.";

class RackProject : public ::testing::Test {
protected:
    json state() { return rack.handleCommand(request("state")); }
    json document(json graph, json layout = json::object()) {
        return {{"product", "VELKAPHON RACK"},
                {"version", "0.1.0-beta.3"},
                {"graph", std::move(graph)},
                {"layout", std::move(layout)}};
    }

    FakeModuleLog log;
    RackApplication rack{true, platformAudioSystem(), fakeModules(log)};
};

TEST_F(RackProject, TheDocumentCarriesTheModulesStateAndStaysInThePatch) {
    rack.handleCommand(
        request("parameter", {{"node", "faders"}, {"parameter", 0}, {"value", -6.5}}));
    const json saved = rack.projectDocument();
    EXPECT_EQ(saved["product"], "VELKAPHON RACK");
    EXPECT_EQ(saved["version"], "0.1.0-beta.3");
    EXPECT_EQ(saved.size(), 4u);
    const json& faders = saved["graph"]["nodes"][1]["configuration"];
    EXPECT_EQ(faders["gainsDb"], json::array({-6.5}));
    EXPECT_EQ(faders["mutes"], json::array({false}));
    // The fader bank's status adds its meters; the configuration keeps its own members.
    EXPECT_TRUE(faders.contains("peaks"));
    EXPECT_EQ(faders["strips"], 1);
    EXPECT_EQ(state()["project"]["graph"], saved["graph"]);
}

TEST_F(RackProject, SavingAndRestoringTheDefaultRackKeepsNodesCablesAndLayout) {
    const json before = state()["project"];
    const json saved = rack.projectDocument();
    rack.handleCommand(request("graph", chain({{"d", "delay"}})));
    rack.handleCommand(request("layout", {{"d", {{"x", 1}, {"y", 2}}}}));

    const json restored = rack.handleCommand(request("restore", saved));
    EXPECT_EQ(restored["project"]["layout"], before["layout"]);
    const json& graph = restored["project"]["graph"];
    ASSERT_EQ(graph["nodes"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(graph["nodes"][i]["id"], before["graph"]["nodes"][i]["id"]);
        EXPECT_EQ(graph["nodes"][i]["type"], before["graph"]["nodes"][i]["type"]);
    }
    EXPECT_EQ(graph["cables"], before["graph"]["cables"]);
    EXPECT_TRUE(graph["nodes"][1]["configuration"].contains("mutes"));
    EXPECT_EQ(restored["ports"].size(), 3u);
}

TEST_F(RackProject, ForeignDocumentsAreRefusedAndChangeNothing) {
    const json before = state()["project"];
    json lower = document(chain({}));
    lower["product"] = "velkaphon rack";
    EXPECT_EQ(refusal(rack, request("restore", lower)), kForeign);
    json absent = document(chain({}));
    absent.erase("product");
    EXPECT_EQ(refusal(rack, request("restore", absent)), kForeign);
    json number = document(chain({}));
    number["product"] = 1;
    EXPECT_EQ(refusal(rack, request("restore", number)), kForeign);
    EXPECT_EQ(refusal(rack, request("restore", json::array())), kForeign);
    json graphless = document(chain({}));
    graphless.erase("graph");
    EXPECT_THAT(refusal(rack, request("restore", graphless)), EndsWith("key 'graph' not found"));
    EXPECT_EQ(state()["project"], before);
}

TEST_F(RackProject, AnyVersionIsAcceptedAndALayoutThatIsNoObjectBecomesEmpty) {
    json noVersion = document(chain({{"d", "delay"}}), json::array({1, 2}));
    noVersion.erase("version");
    EXPECT_EQ(rack.handleCommand(request("restore", noVersion))["project"]["layout"],
              json::object());
    json noLayout = document(chain({}), json());
    noLayout.erase("layout");
    noLayout["version"] = "9.9";
    const json result = rack.handleCommand(request("restore", noLayout));
    EXPECT_EQ(result["project"]["layout"], json::object());
    EXPECT_EQ(result["project"]["graph"], chain({}));
}

TEST_F(RackProject, AFailedRestoreKeepsTheOldLayoutOverTheOldPatch) {
    const json before = state()["project"];
    const json broken = document(chain({{"x", "no-such-module"}}), {{"x", {{"x", 1}}}});
    EXPECT_EQ(refusal(rack, request("restore", broken)), "Unknown module type: no-such-module");
    EXPECT_EQ(state()["project"], before);
}

TEST_F(RackProject, ARackSurvivesARoundTripThroughAFileByteForByte) {
    const fs::path folder = fs::temp_directory_path() / "velkaphon-rack-project-test";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / fs::path(u8"Bühne.vkrack");

    rack.handleCommand(request("layout", {{"faders", {{"x", 1}, {"y", 2}, {"label", "Gesang ü"}}},
                                          {"input", {{"x", 3}, {"y", 4}}}}));
    writeProjectFile(target, rack.projectDocument());
    EXPECT_FALSE(fs::exists(fs::path(target) += ".tmp"));

    std::ifstream file(target, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    // Windows will not remove a file that is still open.
    file.close();
    // Two-space indentation, keys in byte order, raw UTF-8 and no line break at the end.
    EXPECT_EQ(bytes.rfind("{\n  \"graph\": {\n    \"cables\": [\n      {\n        \"from\": "
                          "\"input\",\n        \"input\": \"in0\",",
                          0),
              0u);
    EXPECT_NE(bytes.find("\"label\": \"Gesang \xC3\xBC\""), std::string::npos);
    EXPECT_EQ(bytes.find("\\u00fc"), std::string::npos);
    EXPECT_LT(bytes.find("\"layout\""), bytes.find("\"product\""));
    EXPECT_LT(bytes.find("\"product\""), bytes.find("\"version\""));
    EXPECT_THAT(bytes, EndsWith("\"version\": \"0.1.0-beta.3\"\n}"));

    RackApplication reopened(true);
    reopened.restoreProject(readProjectFile(target));
    const json original = state()["project"];
    const json copy = reopened.handleCommand(request("state"))["project"];
    EXPECT_EQ(copy["layout"], original["layout"]);
    EXPECT_EQ(copy["graph"], original["graph"]);
    fs::remove_all(folder);
}

} // namespace
} // namespace velkaphon::rack
