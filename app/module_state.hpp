#pragma once

// What the rack reads from its modules' status objects and port lists.

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace velkaphon::rack {

using ModuleMap = std::map<std::string, Module*>;

// [control] The "status" member of a player's or recorder's status, {} when it has none.
nlohmann::json mediaStatus(const Module& module);

// A flag of a media status entry: false when absent or not a boolean.
bool mediaFlag(const nlohmann::json& entry, const char* key);

// [control] A recorder of the patch is recording or finalizing its take.
bool anyRecorderBusy(const GraphDefinition& graph, const ModuleMap& modules);

// [control] The node's member of the ports description.
nlohmann::json describePorts(const NodeDefinition& node, const Module& module);

// [control] {"id", "value"} per parameter of the hosted plug-in, in its own order.
nlohmann::json parameterValues(const HostedModule& module);

// [control] The definition with each hosted plug-in's captured state and parameter values
// taken from the live module it replaces: same node id, type, path, class id and plug-in id.
GraphDefinition withLiveHostedState(GraphDefinition next, const GraphDefinition& current,
                                    const ModuleMap& modules);

} // namespace velkaphon::rack
