#include "app/module_makers.hpp"

#include "engine/builtin.hpp"

namespace velkaphon::rack {

std::unique_ptr<Module> makeRackModule(const NodeDefinition& node) {
    return createBuiltin(node);
}

} // namespace velkaphon::rack
