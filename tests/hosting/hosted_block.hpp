#pragma once

// One block for a hosted module in a test: a port view of each size, its samples, its events.

#include "engine/module.hpp"

#include <cstdint>
#include <vector>

namespace velkaphon::rack::testing {

inline RackEvent rackEvent(RackEventKind kind, std::uint32_t offset, std::uint8_t status = 0,
                           std::uint8_t data1 = 0, std::uint8_t data2 = 0) {
    RackEvent made;
    made.kind = kind;
    made.sampleOffset = offset;
    made.status = status;
    made.data1 = data1;
    made.data2 = data2;
    return made;
}

class HostedBlock {
public:
    HostedBlock(std::vector<std::uint32_t> inputWidths, std::vector<std::uint32_t> outputWidths,
                std::uint32_t frames)
        : inputs_(build(inputWidths, frames, inputViews_, inputPointers_)),
          outputs_(build(outputWidths, frames, outputViews_, outputPointers_)) {
        context.inputs = inputViews_.data();
        context.inputCount = inputViews_.size();
        context.outputs = outputViews_.data();
        context.outputCount = outputViews_.size();
        context.frames = frames;
        context.outputEvents = &outputEvents;
    }

    HostedBlock(const HostedBlock&) = delete;
    HostedBlock& operator=(const HostedBlock&) = delete;

    std::vector<float>& input(std::size_t port, std::size_t channel) {
        return inputs_[port][channel];
    }
    std::vector<float>& output(std::size_t port, std::size_t channel) {
        return outputs_[port][channel];
    }

    void fillOutputs(float value) {
        for (auto& port : outputs_) {
            for (auto& channel : port) {
                std::fill(channel.begin(), channel.end(), value);
            }
        }
    }

    // Sets the events the module receives; they must stay alive while it runs.
    void setEvents(const std::vector<RackEvent>& events) {
        events_ = events;
        context.events = events_.data();
        context.eventCount = events_.size();
    }

    BlockContext context;
    EventList outputEvents;

private:
    using Ports = std::vector<std::vector<std::vector<float>>>;

    static Ports build(const std::vector<std::uint32_t>& widths, std::uint32_t frames,
                       std::vector<PortBusSpan>& views,
                       std::vector<std::vector<float*>>& pointers) {
        Ports ports(widths.size());
        pointers.resize(widths.size());
        for (std::size_t p = 0; p < widths.size(); ++p) {
            ports[p].assign(widths[p], std::vector<float>(frames, 0.0f));
            for (auto& channel : ports[p]) {
                pointers[p].push_back(channel.data());
            }
        }
        for (std::size_t p = 0; p < widths.size(); ++p) {
            views.push_back({pointers[p].data(), widths[p]});
        }
        return ports;
    }

    std::vector<PortBusSpan> inputViews_;
    std::vector<std::vector<float*>> inputPointers_;
    std::vector<PortBusSpan> outputViews_;
    std::vector<std::vector<float*>> outputPointers_;
    Ports inputs_;
    Ports outputs_;
    std::vector<RackEvent> events_;
};

} // namespace velkaphon::rack::testing
