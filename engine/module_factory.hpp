#pragma once

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <functional>
#include <memory>

namespace velkaphon::rack {

// [control] A fresh module for the node, or an empty pointer for a type it does not know.
// It may throw; the exception reaches the caller of the compile unchanged.
using ModuleFactory = std::function<std::unique_ptr<Module>(const NodeDefinition&)>;

} // namespace velkaphon::rack
