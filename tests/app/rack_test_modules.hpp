#pragma once

// Modules of types the rack does not know, made through its extra factory, and helpers that talk
// to a rack the way the page does.

#include "app/rack_application.hpp"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

// What the fake modules of one factory saw, by node id; outlives the rack.
struct FakeModuleLog {
    struct Entry {
        std::atomic<int> created{0};
        std::atomic<int> idleCalls{0};
        std::atomic<int> editorCloses{0};
        std::atomic<std::int64_t> lastPosition{-1};
        std::atomic<std::uint64_t> blocks{0};
        // A "plugin" made while it is set throws from prepare.
        std::atomic<bool> refusePrepare{false};
        std::vector<std::pair<std::uint32_t, double>> controls;
        double preparedRate = 0.0;
        // What a "recorder" reports under "status".
        nlohmann::json mediaState = nlohmann::json::object();
    };
    std::map<std::string, std::unique_ptr<Entry>> entries;
    // Node ids in the order their idle calls came.
    std::vector<std::string> idleOrder;

    Entry& operator[](const std::string& id);
};

// Types:
//   "delay"    one two-channel port in and out, output = input; configuration "latency" frames,
//              "refuseRate" a sample rate at which prepare throws.
//   "probe"    as "delay" without latency; records the transport position and block count.
//   "recorder" as "probe", reporting the log's mediaState under "status" and "pickedPath" as
//              the file it uses.
//   "plugin", "vst3"  a HostedModule with the same ports; configuration "parameters" [{"id",
//              "name", "value"}], "restart" (bool), "fault" (the process fault's text),
//              "idleThrows" ("standard", "other"), "refusesState" (bool),
//              "componentState" (a number that control 99 changes, as an editor would),
//              "eventInput", "eventOutput", "editorResult" (bool). Control 98 makes it ask for a
//              restart, as a plug-in whose latency settles in its first block does.
ModuleFactory fakeModules(FakeModuleLog& log);

// The page's request for a method and its params.
nlohmann::json request(const std::string& method, nlohmann::json params = nlohmann::json());
// The text of the exception a command throws, or "no error".
std::string refusal(RackApplication& rack, const nlohmann::json& command);

// The patch as the page sends it: input -> the middle nodes in order -> output, two channels.
nlohmann::json chain(const std::vector<std::pair<std::string, std::string>>& middle);

// input -> a real plug-in node "fx" of that type and configuration (ports "0") -> output.
nlohmann::json pluginChain(const std::string& type, const nlohmann::json& configuration);

} // namespace velkaphon::rack::testing
