#pragma once

// The sentences by which the rack tells the page what it did about its hosted plug-ins.

#include "app/module_state.hpp"

#include <string>
#include <vector>

namespace velkaphon::rack {

// [control] One sentence naming, in patch order, every hosted plug-in that refused its saved
// state; "" when none did.
std::string refusedStateNotice(const GraphDefinition& graph, const ModuleMap& modules);

// [control] One sentence naming the plug-ins restarted at their request.
std::string restartedNotice(const std::vector<std::string>& ids);

} // namespace velkaphon::rack
