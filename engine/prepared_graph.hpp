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
    // Frames from the graph's sources to this node's output.
    std::uint32_t pathLatency = 0;
    std::uint32_t definitionIndex = 0;
};

// One channel of a zero-latency cable. The copy also meters the source channel when peak is set,
// and zeroes it for its next block when it is the channel's last reader in this one.
struct ChannelCopy {
    float* source = nullptr;
    float* destination = nullptr;
    float* peak = nullptr;
    bool clearsSource = false;
};

// A cable with a compensation delay, its buses resolved.
struct DelayedCable {
    AudioConnection* connection = nullptr;
    const PortBusSpan* source = nullptr;
    const PortBusSpan* destination = nullptr;
};

// Half-open range into one of the run tables.
struct RunRange {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

// What one node does in a block, fixed at compile time so the run loop walks small contiguous
// records with no lookups.
struct RunNode {
    Module* module = nullptr;
    // Buses, counts and event lists; frames, transport, events and host buses are set per block.
    BlockContext context;
    // Into zeroChannels: outputs of modules that may leave samples unwritten, unless a cable copy
    // zeroes them after reading, and inputs that no cable fills of modules that may write their
    // inputs.
    RunRange zeroed;
    RunRange copies;
    RunRange delayed;
    // Into meterChannels: the channels that no reader meters; empty when levelIsPeak.
    RunRange metered;
    // The event cables that end here; a node without them takes the host's events.
    EventConnection* eventConnections = nullptr;
    std::uint32_t eventConnectionCount = 0;
    bool readsHostInput = false;
    bool writesHostOutput = false;
    // The module's level after its block is the node's peak.
    bool levelIsPeak = false;
    float peak = 0.0f;
    // The peak of the node that handed this one its only input in place: these are the same
    // samples, so that node takes this node's peak for them instead of metering them itself.
    float* sourcePeak = nullptr;
    std::uint32_t definitionIndex = 0;
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

    // The run list, by processing position, and the tables its ranges point into.
    std::vector<RunNode> run;
    std::vector<float*> zeroChannels;
    std::vector<ChannelCopy> channelCopies;
    std::vector<DelayedCable> delayedCables;
    std::vector<const float*> meterChannels;
    // By processing position, out of the node records.
    std::vector<EventList> inputEvents;
    std::vector<EventList> outputEvents;
    // Every host input reader runs before every host output writer, so a host that passes one
    // buffer as both can be served in place.
    bool hostReadersFirst = false;
    // Position of the first node after the last host input reader.
    std::uint32_t afterLastHostReader = 0;
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
