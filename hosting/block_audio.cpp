#include "hosting/block_audio.hpp"

#include <algorithm>

namespace velkaphon::rack {

void clearOutputBuses(BlockContext& context) noexcept {
    for (std::uint64_t view = 0; view < context.outputCount; ++view) {
        const PortBusSpan& output = context.outputs[view];
        for (std::uint32_t channel = 0; channel < output.channelCount; ++channel) {
            if (float* samples = output.channels[channel]) {
                std::fill_n(samples, context.frames, 0.0f);
            }
        }
    }
}

const float* viewChannel(const PortBusSpan* views, std::uint64_t viewCount, std::uint64_t view,
                         std::uint32_t channel) noexcept {
    if (views == nullptr || view >= viewCount || channel >= views[view].channelCount) {
        return nullptr;
    }
    return views[view].channels[channel];
}

} // namespace velkaphon::rack
