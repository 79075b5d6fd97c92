#include "engine/prepared_graph.hpp"

#include <cstddef>

namespace velkaphon::rack {

AudioBuffer::AudioBuffer(std::uint32_t channels, std::uint32_t frames)
    : samples(static_cast<std::size_t>(channels) * frames, 0.0f) {
    channelPointers.reserve(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        channelPointers.push_back(samples.data() + c * frames);
    }
}

PreparedGraphState::~PreparedGraphState() {
    // A vector does not promise the order in which it destroys its elements.
    for (PreparedNode& node : nodes) {
        node.module.reset();
    }
}

} // namespace velkaphon::rack
