#pragma once

#include "engine/graph_limits.hpp"

#include <array>
#include <cstdint>

namespace velkaphon::rack {

// One entry of the engine's control queue: a run-time control change for one node.
struct ControlMessage {
    // NUL-terminated, so a message is a fixed record the audio thread copies without allocating.
    std::array<char, kMaxNodeIdBytes + 1> nodeId{};
    std::uint32_t index = 0;
    double value = 0.0;
};

} // namespace velkaphon::rack
