#include "app/rack_application.hpp"
#include "engine/module_kind.hpp"

#include <stdexcept>
#include <string>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

bool isOurProject(const json& document) {
    if (!document.is_object()) {
        return false;
    }
    const auto product = document.find("product");
    return product != document.end() && product->is_string() &&
           product->get_ref<const std::string&>() == kProductTitle;
}

} // namespace

json RackApplication::projectDocument() {
    // The merge stays in the stored patch, so the next compile builds from the saved state.
    for (NodeDefinition& node : graph_.nodes) {
        json state = modulesById_.at(node.id)->status();
        if (state.is_object()) {
            state.erase("status");
            if (!node.configuration.is_object()) {
                node.configuration = json::object();
            }
            for (auto& [key, value] : state.items()) {
                node.configuration[key] = value;
            }
        }
        if (moduleKindOf(node.type) == ModuleKind::Recorder) {
            node.configuration["armed"] = false;
        }
    }
    return {{"product", kProductTitle},
            {"version", kProductVersion},
            {"graph", writeGraphDefinition(graph_)},
            {"layout", layout_}};
}

void RackApplication::restoreProject(const json& document) {
    if (recorderBusy()) {
        throw std::runtime_error("Stop recording before opening another rack project.");
    }
    if (!isOurProject(document)) {
        throw std::runtime_error("This is not a VELKAPHON RACK project.");
    }
    GraphDefinition definition = readGraphDefinition(document.at("graph"));
    for (NodeDefinition& node : definition.nodes) {
        if (moduleKindOf(node.type) == ModuleKind::Recorder) {
            node.configuration["armed"] = false;
            node.configuration.erase("status");
        }
    }
    compile(definition, spec_);
    const auto restoredLayout = document.find("layout");
    layout_ = restoredLayout != document.end() && restoredLayout->is_object() ? *restoredLayout
                                                                              : json::object();
}

} // namespace velkaphon::rack
