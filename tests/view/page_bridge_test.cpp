#include "app/rack_application.hpp"
#include "view/page_bridge.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <random>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kOrigin = "https://rack.velkaphon.invalid/";
constexpr const char* kSource = "https://rack.velkaphon.invalid/index.html";

class RecordingEditors : public EditorWindowHost {
public:
    NativeWindowHandle replaceEditorWindow() override {
        ++created;
        open = true;
        return &open;
    }
    void destroyEditorWindow() override {
        ++destroyed;
        open = false;
    }
    int created = 0;
    int destroyed = 0;
    bool open = false;
};

// A dialog that answers what the test scripted, and remembers what it was asked.
struct ScriptedDialog {
    struct Call {
        BrowseKind kind;
        std::string current;
    };
    std::deque<BrowseResult> answers;
    std::vector<Call> calls;
    std::function<void()> whileOpen;

    BrowseResult operator()(BrowseKind kind, const std::string& current) {
        calls.push_back({kind, current});
        if (whileOpen) {
            whileOpen();
        }
        BrowseResult result = answers.empty() ? BrowseResult{"", true} : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return result;
    }
};

class PageBridgeTest : public ::testing::Test {
protected:
    PageBridgeTest()
        : bridge_(
              rack_, kOrigin,
              [this](BrowseKind kind, const std::string& current) {
                  return dialog_(kind, current);
              },
              editors_) {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-bridge-" + std::to_string(random()));
        fs::create_directories(folder_);
    }
    ~PageBridgeTest() override { fs::remove_all(folder_); }

    json ask(const std::string& message) {
        const auto reply = bridge_.answer(kSource, message);
        return reply ? json::parse(*reply) : json("no reply");
    }

    RackApplication rack_{false};
    ScriptedDialog dialog_;
    RecordingEditors editors_;
    PageBridge bridge_;
    fs::path folder_;
};

TEST_F(PageBridgeTest, EnvelopeCarriesTheIdAndTheDispatchersResult) {
    const json reply = ask(R"({"id": 7, "method": "status"})");
    EXPECT_EQ(reply["id"], 7);
    EXPECT_EQ(reply["ok"], true);
    EXPECT_TRUE(reply["result"].contains("pluginMode"));
    EXPECT_FALSE(reply.contains("error"));

    EXPECT_EQ(ask(R"({"method": "state"})")["id"], 0);
    EXPECT_EQ(ask(R"({"id": true, "method": "state"})")["id"], 1);
    EXPECT_EQ(ask(R"({"id": -3.9, "method": "state"})")["id"], -3);

    const json unknown = ask(R"({"id": 4, "method": "STATE"})");
    EXPECT_EQ(unknown["id"], 4);
    EXPECT_EQ(unknown["ok"], false);
    EXPECT_EQ(unknown["error"], "Unknown rack command: STATE");
    EXPECT_FALSE(unknown.contains("result"));
}

TEST_F(PageBridgeTest, FailuresBeforeTheIdIsReadCarryNoId) {
    for (const char* message :
         {"not json", "[1, 2]", R"({"id": "7", "method": "state"})",
          R"({"id": 2147483648, "method": "state"})", R"({"id": -2147483649, "method": "state"})",
          R"({"id": 1e300, "method": "state"})", "{} {}"}) {
        const json reply = ask(message);
        EXPECT_EQ(reply["ok"], false) << message;
        EXPECT_FALSE(reply.contains("id")) << message;
        EXPECT_FALSE(reply["error"].get<std::string>().empty()) << message;
    }
    const json deep = ask(R"({"id":3,"method":"layout","params":)" + std::string(200000, '[') +
                          std::string(200000, ']') + "}");
    EXPECT_EQ(deep["error"], "Command is nested too deeply.");
    EXPECT_FALSE(deep.contains("id"));
    EXPECT_EQ(ask(R"({"id": 2147483647, "method": "state"})")["id"], 2147483647);
    EXPECT_EQ(ask(R"({"id": 5})")["id"], 5);
    EXPECT_EQ(ask(R"({"id": 5})")["ok"], false);
}

TEST_F(PageBridgeTest, OnlyTheMappedOriginIsAnswered) {
    EXPECT_FALSE(bridge_.answer("https://rack.velkaphon.invalid", R"({"method":"state"})"));
    EXPECT_FALSE(bridge_.answer("https://evil.example/", R"({"method":"state"})"));
    EXPECT_FALSE(bridge_.answer("HTTPS://rack.velkaphon.invalid/", R"({"method":"state"})"));
    EXPECT_FALSE(bridge_.answer("", R"({"method":"state"})"));
    EXPECT_TRUE(bridge_.answer(kOrigin, R"({"method":"state"})"));
    bridge_.close();
    EXPECT_FALSE(bridge_.answer(kSource, R"({"method":"state"})"));
}

TEST_F(PageBridgeTest, TheSizeLimitIsInclusive) {
    const std::string head = R"({"id":9,"method":"layout","params":{"pad":")";
    const std::string tail = R"("}})";
    const std::string exact =
        head + std::string(kMaxPageRequestBytes - head.size() - tail.size(), 'x') + tail;
    ASSERT_EQ(json::parse(exact).dump().size(), kMaxPageRequestBytes);
    // Routed: the dispatcher refuses the oversized layout with its own text.
    EXPECT_EQ(ask(exact)["error"], "Invalid rack layout.");

    const std::string over =
        head + std::string(kMaxPageRequestBytes - head.size() - tail.size() + 1, 'x') + tail;
    const json refused = ask(over);
    EXPECT_EQ(refused["error"], "Command exceeds limit.");
    EXPECT_EQ(refused["id"], 9);
}

TEST_F(PageBridgeTest, PickersPassTheStartingPathAndAnswerTheChoice) {
    const json cancelled = ask(R"({"id": 1, "method": "pickAudio"})");
    EXPECT_EQ(cancelled["result"], json({{"path", ""}, {"cancelled", true}}));
    ASSERT_EQ(dialog_.calls.size(), 1u);
    EXPECT_EQ(dialog_.calls[0].kind, BrowseKind::AudioFile);
    EXPECT_EQ(dialog_.calls[0].current, "");

    dialog_.answers.push_back({"/music/drums.wav", false});
    const json chosen =
        ask(R"({"id": 2, "method": "pickRecording", "params": {"current": "/music/take.wav"}})");
    EXPECT_EQ(chosen["result"], json({{"path", "/music/drums.wav"}, {"cancelled", false}}));
    EXPECT_EQ(dialog_.calls[1].kind, BrowseKind::RecordingDestination);
    EXPECT_EQ(dialog_.calls[1].current, "/music/take.wav");

    ask(R"({"method": "pickPlugin"})");
    ask(R"({"method": "pickPluginFolder"})");
    ask(R"({"method": "pickFolder"})");
    EXPECT_EQ(dialog_.calls[2].kind, BrowseKind::PluginFile);
    EXPECT_EQ(dialog_.calls[3].kind, BrowseKind::PluginBundleFolder);
    EXPECT_EQ(dialog_.calls[4].kind, BrowseKind::Folder);
}

TEST_F(PageBridgeTest, ADialogInsideADialogIsRefused) {
    json inner;
    dialog_.whileOpen = [&] {
        inner = ask(R"({"id": 12, "method": "pickFolder"})");
        dialog_.whileOpen = nullptr;
    };
    const json outer = ask(R"({"id": 11, "method": "pickAudio"})");
    EXPECT_EQ(outer["ok"], true);
    EXPECT_EQ(inner["id"], 12);
    EXPECT_EQ(inner["error"], "A file dialog is already open.");
    EXPECT_EQ(dialog_.calls.size(), 1u);
    // The dispatcher still answers while a dialog is open (the page keeps polling).
    dialog_.whileOpen = [&] {
        inner = ask(R"({"id": 13, "method": "status"})");
    };
    ask(R"({"method": "pickAudio"})");
    EXPECT_EQ(inner["ok"], true);
}

TEST_F(PageBridgeTest, ClosingDuringADialogDropsTheChoiceAndTheReply) {
    dialog_.answers.push_back({(folder_ / "song.vkrack").string(), false});
    dialog_.whileOpen = [&] {
        bridge_.close();
    };
    EXPECT_FALSE(bridge_.answer(kSource, R"({"id": 3, "method": "saveProject"})"));
    EXPECT_FALSE(fs::exists(folder_ / "song.vkrack"));
    EXPECT_EQ(bridge_.projectPath(), "");
}

TEST_F(PageBridgeTest, SaveAndLoadProjectsThroughTheDialog) {
    const std::string path = (folder_ / "song.vkrack").string();
    dialog_.answers.push_back({path, false});
    const json saved = ask(R"({"id": 5, "method": "saveProject"})");
    EXPECT_EQ(saved["result"], json({{"path", path}, {"cancelled", false}}));
    EXPECT_EQ(bridge_.projectPath(), path);
    const json onDisk = json::parse(std::ifstream(path));
    EXPECT_EQ(onDisk["product"], "VELKAPHON RACK");

    // The next save and load start at the file last used.
    ask(R"({"method": "saveProject"})");
    EXPECT_EQ(dialog_.calls.back().current, path);

    ask(R"({"method": "layout", "params": {"faders": {"x": 1, "y": 2}}})");
    dialog_.answers.push_back({path, false});
    const json loaded = ask(R"({"id": 6, "method": "loadProject"})");
    EXPECT_EQ(dialog_.calls.back().kind, BrowseKind::OpenProject);
    EXPECT_EQ(dialog_.calls.back().current, path);
    // The answer is the state result, with the saved layout back in place.
    EXPECT_EQ(loaded["result"]["project"], rack_.handleCommand({{"method", "state"}})["project"]);
    EXPECT_TRUE(loaded["result"].contains("ports"));
    EXPECT_EQ(loaded["result"]["project"]["layout"]["faders"]["x"], 380);

    // A failed load answers its error and keeps the project path.
    const std::string broken = (folder_ / "broken.vkrack").string();
    std::ofstream(broken) << "{ not json";
    dialog_.answers.push_back({broken, false});
    EXPECT_EQ(ask(R"({"method": "loadProject"})")["ok"], false);
    EXPECT_EQ(bridge_.projectPath(), path);

    // A cancelled load is a browse result.
    EXPECT_EQ(ask(R"({"method": "loadProject"})")["result"],
              json({{"path", ""}, {"cancelled", true}}));
}

TEST_F(PageBridgeTest, EditorRequestsForModulesWithoutAnEditorLeaveNoWindow) {
    const json faders = ask(R"({"id": 8, "method": "editor", "params": {"node": "faders"}})");
    EXPECT_EQ(faders["error"], "Built-in controls are on the module panel.");
    const json missing = ask(R"({"method": "editor", "params": {"node": "nowhere"}})");
    EXPECT_EQ(missing["error"], "Select an existing plugin.");
    EXPECT_EQ(editors_.created, 2);
    EXPECT_EQ(editors_.destroyed, 2);
    EXPECT_FALSE(editors_.open);
}

TEST(PageReply, InvalidUtf8IsReplacedRatherThanFailingTheWriter) {
    const json reply = {{"id", 1}, {"ok", false}, {"error", "Plug-in \xFF\xFE failed"}};
    EXPECT_EQ(serializeReply(reply), "{\"error\":\"Plug-in \xEF\xBF\xBD\xEF\xBF\xBD failed\","
                                     "\"id\":1,\"ok\":false}");
}

} // namespace
} // namespace velkaphon::rack
