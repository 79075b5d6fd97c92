#pragma once

// Buffers and a block record for running one module the way the engine does: every port channel
// holds the block's frames and the outputs are zeroed before each call.

#include "engine/module.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velkaphon::rack::testing {

// Channels of one side of a module, or of a host bus.
class ChannelSet {
public:
    ChannelSet(const std::vector<std::uint32_t>& busChannels, std::uint32_t frames)
        : frames_(frames) {
        for (const std::uint32_t channels : busChannels) {
            samples_.emplace_back(channels, std::vector<float>(frames, 0.0F));
        }
        for (auto& bus : samples_) {
            auto& pointers = pointers_.emplace_back();
            for (auto& channel : bus) {
                pointers.push_back(channel.data());
            }
        }
        for (auto& pointers : pointers_) {
            spans_.push_back({pointers.data(), static_cast<std::uint32_t>(pointers.size())});
        }
    }

    // The spans point into this object's own vectors.
    ChannelSet(const ChannelSet&) = delete;
    ChannelSet& operator=(const ChannelSet&) = delete;

    static ChannelSet forPorts(const std::vector<PortSpec>& ports, std::uint32_t frames) {
        std::vector<std::uint32_t> channels;
        for (const PortSpec& port : ports) {
            channels.push_back(port.channels);
        }
        return ChannelSet(channels, frames);
    }

    std::vector<float>& channel(std::size_t bus, std::size_t channel) {
        return samples_.at(bus).at(channel);
    }

    void fill(std::size_t bus, std::size_t channel, float value) {
        for (float& sample : this->channel(bus, channel)) {
            sample = value;
        }
    }

    void zero() {
        for (auto& bus : samples_) {
            for (auto& channel : bus) {
                std::fill(channel.begin(), channel.end(), 0.0F);
            }
        }
    }

    PortBusSpan* spans() { return spans_.data(); }
    std::uint64_t busCount() const { return spans_.size(); }

    // The first bus as a host bus; a channel may be taken away to stand for a missing buffer.
    BusSpan hostBus() { return {pointers_.at(0).data(), pointers_.at(0).size()}; }
    void removeHostChannel(std::size_t channel) { pointers_.at(0).at(channel) = nullptr; }

    std::uint32_t frames() const { return frames_; }

private:
    std::uint32_t frames_;
    std::vector<std::vector<std::vector<float>>> samples_;
    std::vector<std::vector<float*>> pointers_;
    std::vector<PortBusSpan> spans_;
};

inline ChannelSet hostChannels(std::uint32_t count, std::uint32_t frames) {
    return ChannelSet({count}, frames);
}

// One module's port buffers and the record its process receives.
class ModuleBlock {
public:
    ModuleBlock(const Module& module, std::uint32_t frames)
        : inputs(ChannelSet::forPorts(module.inputs(), frames)),
          outputs(ChannelSet::forPorts(module.outputs(), frames)) {
        context.inputs = inputs.spans();
        context.inputCount = inputs.busCount();
        context.outputs = outputs.spans();
        context.outputCount = outputs.busCount();
        context.frames = frames;
    }

    void run(Module& module) {
        outputs.zero();
        module.process(context);
    }

    ChannelSet inputs;
    ChannelSet outputs;
    BlockContext context;
};

} // namespace velkaphon::rack::testing
