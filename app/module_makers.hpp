#pragma once

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <memory>

namespace velkaphon::rack {

// [control] A fresh module for the node by its type, or an empty pointer when no maker of
// the rack knows the type. Construction errors propagate.
std::unique_ptr<Module> makeRackModule(const NodeDefinition& node);

} // namespace velkaphon::rack
