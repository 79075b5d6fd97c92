#pragma once

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"
#include "engine/module_factory.hpp"
#include "engine/prepared_graph.hpp"

#include <cstdint>
#include <memory>

namespace velkaphon::rack {

// [control] Creates and prepares a fresh module for every node, validates ports and cables,
// fixes the processing order, sizes every buffer and delay line and aligns all outputs to the
// graph latency. Throws std::invalid_argument with one sentence; exceptions of the factory, of a
// module's prepare and of the JSON library pass through. A failure leaves nothing behind.
std::unique_ptr<PreparedGraph> compileGraph(const GraphDefinition& definition,
                                            const ProcessSpec& spec, const ModuleFactory& factory);

// [any] Frames by which the graph's outputs lag its sources.
std::uint32_t graphLatency(const PreparedGraph& graph) noexcept;

} // namespace velkaphon::rack
