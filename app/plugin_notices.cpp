#include "app/plugin_notices.hpp"

namespace velkaphon::rack {

namespace {

// "Plugin a" or "Plugins a, b".
std::string pluginNames(const std::vector<std::string>& ids) {
    std::string names = ids.size() == 1 ? "Plugin " : "Plugins ";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        names += (i == 0 ? "" : ", ") + ids[i];
    }
    return names;
}

} // namespace

std::string refusedStateNotice(const GraphDefinition& graph, const ModuleMap& modules) {
    std::vector<std::string> ids;
    for (const NodeDefinition& node : graph.nodes) {
        const auto found = modules.find(node.id);
        const auto* hosted =
            found == modules.end() ? nullptr : dynamic_cast<const HostedModule*>(found->second);
        if (hosted != nullptr && hosted->stateRefused()) {
            ids.push_back(node.id);
        }
    }
    if (ids.empty()) {
        return {};
    }
    return pluginNames(ids) +
           (ids.size() == 1 ? " refused its saved state and starts from its defaults; the saved "
                              "state stays in the project."
                            : " refused their saved states and start from their defaults; the "
                              "saved states stay in the project.");
}

std::string restartedNotice(const std::vector<std::string>& ids) {
    return pluginNames(ids) + " asked for new ports or latency and " +
           (ids.size() == 1 ? "was" : "were") + " restarted.";
}

} // namespace velkaphon::rack
