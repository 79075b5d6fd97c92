#pragma once

#include "engine/event_list.hpp"
#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack {

// Sample storage for one bus: channel c occupies [c x frames, (c + 1) x frames). The samples live
// on the heap, so moving a buffer keeps its channel pointers valid; copying would not.
struct AudioBuffer {
    AudioBuffer() = default;
    AudioBuffer(std::uint32_t channels, std::uint32_t frames);
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;
    AudioBuffer(AudioBuffer&&) noexcept = default;
    AudioBuffer& operator=(AudioBuffer&&) noexcept = default;

    std::vector<float> samples;
    std::vector<float*> channelPointers;
};

// One audio cable, held by its destination node.
struct AudioConnection {
    // The source's definition index while compiling, its processing position afterwards.
    std::uint32_t sourceNode = 0;
    std::uint32_t sourcePort = 0;
    std::uint32_t destinationPort = 0;
    std::uint32_t delay = 0;
    std::uint32_t writePosition = 0;
    // Channel c's ring occupies [c x delay, (c + 1) x delay).
    std::vector<float> delayLine;
};

struct PendingEvent {
    RackEvent event;
    // Frame offset from the start of the current block at which the event is handed on.
    std::uint32_t due = 0;
};

// One event cable, held by its destination node.
struct EventConnection {
    static constexpr std::uint32_t kCapacity = 256;

    std::uint32_t sourceNode = 0;
    std::uint32_t delay = 0;
    std::uint32_t pendingCount = 0;
    std::array<PendingEvent, kCapacity> pending{};
};

struct PreparedNode {
    std::string id;
    std::unique_ptr<Module> module;
    std::vector<PortSpec> inputPorts;
    std::vector<PortSpec> outputPorts;
    std::vector<AudioBuffer> inputBuffers;
    std::vector<AudioBuffer> outputBuffers;
    std::vector<PortBusSpan> inputBuses;
    std::vector<PortBusSpan> outputBuses;
    std::vector<AudioConnection> audioConnections;
    std::vector<EventConnection> eventConnections;
    EventList inputEvents;
    EventList outputEvents;
    // Frames from the graph's sources to this node's output.
    std::uint32_t pathLatency = 0;
    std::uint32_t definitionIndex = 0;
    float peak = 0.0f;
};

struct PreparedGraphState {
    PreparedGraphState() = default;
    PreparedGraphState(const PreparedGraphState&) = delete;
    PreparedGraphState& operator=(const PreparedGraphState&) = delete;
    // Modules go in processing order.
    ~PreparedGraphState();

    GraphDefinition definition;
    ProcessSpec spec;
    std::vector<PreparedNode> nodes;
    std::unique_ptr<AudioBuffer> hostInputBuffer;
    std::vector<float*> hostInputChannels;
    // The largest path latency of an "output" node.
    std::uint32_t latency = 0;
};

// A compiled graph of fixed shape. It owns its state through one pointer, so handing a whole graph
// between threads moves a single word. Destroyed on the control thread only.
class PreparedGraph {
public:
    explicit PreparedGraph(std::unique_ptr<PreparedGraphState> state) : state_(std::move(state)) {}

    PreparedGraphState& state() noexcept { return *state_; }
    const PreparedGraphState& state() const noexcept { return *state_; }

private:
    std::unique_ptr<PreparedGraphState> state_;
};

} // namespace velkaphon::rack
