#pragma once

#include "engine/event_list.hpp"
#include "engine/module.hpp"
#include "engine/prepared_graph.hpp"

#include <cstdint>

namespace velkaphon::rack {

// [audio] One block of one graph, with cable copies, delay lines, event routing and node
// peaks. A block of 0 frames or longer than the graph's maximum leaves the host output silent and
// advances nothing. Never allocates, locks or throws.
void runGraph(PreparedGraph& graph, std::uint32_t frames, BusSpan hostInput,
              const BusSpan& hostOutput, const TransportInfo& transport,
              const RackEvent* hostEvents, std::uint64_t hostEventCount) noexcept;

// [audio] Writes frames zeros to every host output channel that has a buffer.
void silenceHostOutput(const BusSpan& hostOutput, std::uint32_t frames) noexcept;

} // namespace velkaphon::rack
