#pragma once

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <memory>

namespace velkaphon::rack {

// [control] A player for a "player" node, a recorder for a "recorder" node, or an empty
// pointer for every other type so that the caller tries its next factory.
std::unique_ptr<Module> createMediaModule(const NodeDefinition& node);

// [control] With the rack stopped: players stop; recorders finish their take at once, join
// their writer thread and disarm. Other modules are left alone.
void stopMediaModule(Module& module);

// [control] Before next is published in place of previous at the same node: a player for the
// same file plays on from where previous is when the graphs switch. Other modules are left alone.
void continueMediaModule(Module& next, const Module& previous);

} // namespace velkaphon::rack
