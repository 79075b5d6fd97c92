#pragma once

// Which hosted plug-ins that ask for a restart the control tick rebuilds the patch for, and which
// it leaves stopped: one that asks again within a second of its restart with no rebuild by the
// user between, so that none can make the rack rebuild forever, and one whose rebuild failed.

#include "app/module_state.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velkaphon::rack {

class PluginRestarts {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // [control] An empty clock reads the steady clock.
    explicit PluginRestarts(Clock clock);

    // [control] The node ids, in id order, of the modules that ask for a restart, have not
    // faulted and are to be restarted now. One asking again within a second of its restart, with
    // no rebuild by the user between, is held stopped instead.
    std::vector<std::string> due(const ModuleMap& modules);
    // [control] The nodes were restarted now.
    void restarted(const std::vector<std::string>& ids);
    // [control] Their rebuild failed with the text: they stay stopped until the patch is rebuilt.
    void failed(const std::vector<std::string>& ids, const ModuleMap& modules,
                const std::string& text);
    // [control] Why the module is left stopped, or nothing.
    std::optional<std::string> heldReason(const Module& module) const;
    // [control] Every module was replaced: none is held any more.
    void forgetHeld() { held_.clear(); }
    // [control] The user rebuilt the patch: every node's restart window starts afresh.
    void forgetRestarts() { restartedAt_.clear(); }

private:
    Clock clock_;
    std::map<std::string, std::chrono::steady_clock::time_point> restartedAt_;
    // Modules of the published graph only.
    std::map<const Module*, std::string> held_;
};

} // namespace velkaphon::rack
