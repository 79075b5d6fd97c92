#pragma once

#include "engine/prepared_graph.hpp"

namespace velkaphon::rack {

// [control] Once a graph's nodes, buffers and delay lines are in place: builds its run list.
// A zero-latency cable whose source port feeds nothing else hands the source's buffers over in
// place when the destination never writes its inputs; every other one becomes channel copies that
// also meter their source. A node whose peak is that of its only input, handed over in place,
// meters its source's port too.
void buildRunList(PreparedGraphState& state);

} // namespace velkaphon::rack
