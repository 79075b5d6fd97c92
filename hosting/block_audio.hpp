#pragma once

// Moving one block's audio between the rack's port views and a plug-in's own buffers.
// [audio] No allocation, no lock, no throw.

#include "engine/module.hpp"

#include <cmath>
#include <cstdint>

namespace velkaphon::rack {

// Zeroes `frames` samples of every channel of every output view (nothing when frames is 0).
void clearOutputBuses(BlockContext& context) noexcept;

// Channel `channel` of view `view`, or null when the view or the channel does not exist.
const float* viewChannel(const PortBusSpan* views, std::uint64_t viewCount, std::uint64_t view,
                         std::uint32_t channel) noexcept;

// Copies `frames` samples, writing 0 for a missing source and for every sample that is not
// finite. True when every sample written is 0.
template <class Source, class Target>
bool copyFiniteSamples(const Source* source, Target* target, std::uint32_t frames) noexcept {
    bool silent = true;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const Source sample = source != nullptr ? source[i] : Source(0);
        const Target value = std::isfinite(sample) ? static_cast<Target>(sample) : Target(0);
        target[i] = value;
        silent = silent && value == Target(0);
    }
    return silent;
}

} // namespace velkaphon::rack
