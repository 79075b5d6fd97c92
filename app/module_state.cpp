#include "app/module_state.hpp"

#include "engine/module_kind.hpp"

#include <algorithm>
#include <array>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

json portList(const std::vector<PortSpec>& ports) {
    json list = json::array();
    for (const PortSpec& port : ports) {
        list.push_back({{"id", port.id}, {"name", port.name}, {"channels", port.channels}});
    }
    return list;
}

// A configuration's text member, "" when absent.
std::string textMember(const json& configuration, const char* key) {
    return configuration.is_object() ? configuration.value(key, std::string()) : std::string();
}

bool samePlugin(const NodeDefinition& next, const NodeDefinition& current) {
    constexpr std::array<const char*, 3> kIdentity{"path", "classId", "pluginId"};
    return std::all_of(kIdentity.begin(), kIdentity.end(), [&](const char* key) {
        return textMember(next.configuration, key) == textMember(current.configuration, key);
    });
}

} // namespace

json mediaStatus(const Module& module) {
    const json status = module.status();
    if (status.is_object()) {
        const auto found = status.find("status");
        if (found != status.end()) {
            return *found;
        }
    }
    return json::object();
}

bool mediaFlag(const json& entry, const char* key) {
    if (!entry.is_object()) {
        return false;
    }
    const auto found = entry.find(key);
    return found != entry.end() && found->is_boolean() && found->get<bool>();
}

bool anyRecorderBusy(const GraphDefinition& graph, const ModuleMap& modules) {
    for (const NodeDefinition& node : graph.nodes) {
        const auto module = modules.find(node.id);
        if (moduleKindOf(node.type) != ModuleKind::Recorder || module == modules.end()) {
            continue;
        }
        const json entry = mediaStatus(*module->second);
        if (mediaFlag(entry, "recording") || mediaFlag(entry, "finalizing")) {
            return true;
        }
    }
    return false;
}

json describePorts(const NodeDefinition& node, const Module& module) {
    json description = {{"inputs", portList(module.inputs())},
                        {"outputs", portList(module.outputs())}};
    if (moduleKindOf(node.type) == ModuleKind::Player) {
        const json status = module.status();
        if (status.is_object() && status.contains("waveform")) {
            description["waveform"] = status["waveform"];
        }
    }
    if (const auto* hosted = dynamic_cast<const HostedModule*>(&module)) {
        description["eventInput"] = hosted->hasEventInput();
        description["eventOutput"] = hosted->hasEventOutput();
        json parameters = json::array();
        for (const HostedParameter& parameter : hosted->parameters()) {
            parameters.push_back({{"id", parameter.id},
                                  {"name", parameter.name},
                                  {"value", parameter.value},
                                  {"unit", parameter.unit},
                                  {"readOnly", parameter.readOnly}});
        }
        description["parameters"] = std::move(parameters);
    }
    return description;
}

json parameterValues(const HostedModule& module) {
    json values = json::array();
    for (const HostedParameter& parameter : module.parameters()) {
        values.push_back({{"id", parameter.id}, {"value", parameter.value}});
    }
    return values;
}

GraphDefinition withLiveHostedState(GraphDefinition next, const GraphDefinition& current,
                                    const ModuleMap& modules) {
    for (NodeDefinition& node : next.nodes) {
        if (!isHostedKind(moduleKindOf(node.type))) {
            continue;
        }
        const auto previous =
            std::find_if(current.nodes.begin(), current.nodes.end(), [&](const NodeDefinition& p) {
                return p.id == node.id && p.type == node.type;
            });
        if (previous == current.nodes.end() || !samePlugin(node, *previous)) {
            continue;
        }
        const auto live = modules.find(previous->id);
        const auto* hosted =
            live == modules.end() ? nullptr : dynamic_cast<const HostedModule*>(live->second);
        if (hosted == nullptr) {
            continue;
        }
        const json status = hosted->status();
        if (!status.is_object()) {
            continue;
        }
        for (const char* key : {"componentState", "controllerState", "state"}) {
            if (status.contains(key)) {
                node.configuration[key] = status[key];
            }
        }
        node.configuration["parameters"] = status.value("parameters", json());
    }
    return next;
}

} // namespace velkaphon::rack
