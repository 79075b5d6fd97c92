#pragma once

#include "engine/module.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velkaphon::rack::testing {

// Buffers and a BlockContext for calling a module's process directly, as the engine would: the
// outputs zeroed before every block, the input filled by the test.
class TestBlock {
public:
    TestBlock(std::uint32_t inputChannels, std::uint32_t outputChannels, std::uint32_t frames)
        : input_(inputChannels, std::vector<float>(frames, 0.0f)),
          output_(outputChannels, std::vector<float>(frames, 0.0f)) {
        for (auto& channel : input_) {
            inputPointers_.push_back(channel.data());
        }
        for (auto& channel : output_) {
            outputPointers_.push_back(channel.data());
        }
        inputBus_ = {inputPointers_.data(), inputChannels};
        outputBus_ = {outputPointers_.data(), outputChannels};
        context.inputs = inputChannels > 0 ? &inputBus_ : nullptr;
        context.inputCount = inputChannels > 0 ? 1 : 0;
        context.outputs = outputChannels > 0 ? &outputBus_ : nullptr;
        context.outputCount = outputChannels > 0 ? 1 : 0;
        context.frames = frames;
        context.outputEvents = &outputEvents;
    }

    std::vector<float>& input(std::uint32_t channel) { return input_.at(channel); }
    const std::vector<float>& output(std::uint32_t channel) const { return output_.at(channel); }
    float** inputPointers() { return inputPointers_.data(); }
    float** outputPointers() { return outputPointers_.data(); }

    // Runs one block at the position; the events given arrive as the block's input events.
    void run(Module& module, std::int64_t position, const std::vector<RackEvent>& events = {}) {
        for (auto& channel : output_) {
            std::fill(channel.begin(), channel.end(), 0.0f);
        }
        outputEvents.clear();
        context.transport.samplePosition = position;
        context.events = events.empty() ? nullptr : events.data();
        context.eventCount = events.size();
        module.process(context);
    }

    BlockContext context;
    EventList outputEvents;

private:
    std::vector<std::vector<float>> input_;
    std::vector<std::vector<float>> output_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    PortBusSpan inputBus_;
    PortBusSpan outputBus_;
};

} // namespace velkaphon::rack::testing
