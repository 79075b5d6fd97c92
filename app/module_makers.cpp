#include "app/module_makers.hpp"

#include "engine/builtin.hpp"
#include "engine/media_module.hpp"
#include "hosting/plugin_files.hpp"

namespace velkaphon::rack {

std::unique_ptr<Module> makeRackModule(const NodeDefinition& node) {
    if (node.type == "player" || node.type == "recorder") {
        return createMediaModule(node);
    }
    if (node.type == "vst3" || node.type == "clap") {
        return createHostedModule(node);
    }
    return createBuiltin(node);
}

} // namespace velkaphon::rack
