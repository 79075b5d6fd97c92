#include "app/module_makers.hpp"

#include "engine/builtin.hpp"
#include "engine/media_module.hpp"
#include "engine/module_kind.hpp"
#include "hosting/plugin_files.hpp"

namespace velkaphon::rack {

std::unique_ptr<Module> makeRackModule(const NodeDefinition& node) {
    const ModuleKind kind = moduleKindOf(node.type);
    if (isMediaKind(kind)) {
        return createMediaModule(node);
    }
    if (isHostedKind(kind)) {
        return createHostedModule(node);
    }
    return createBuiltin(node);
}

} // namespace velkaphon::rack
