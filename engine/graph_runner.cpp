#include "engine/graph_runner.hpp"

#include "engine/sample_peak.hpp"
#include "engine/wide_vectors.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <emmintrin.h>

namespace velkaphon::rack {

namespace {

void copyHostInput(PreparedGraphState& state, BusSpan& hostInput, std::uint32_t frames) noexcept {
    const std::vector<float*>& copy = state.hostInputChannels;
    for (std::size_t c = 0; c < copy.size(); ++c) {
        const float* source = c < hostInput.channelCount && hostInput.channels != nullptr
                                  ? hostInput.channels[c]
                                  : nullptr;
        if (source != nullptr) {
            std::copy_n(source, frames, copy[c]);
        } else {
            std::fill_n(copy[c], frames, 0.0f);
        }
    }
    hostInput = {copy.data(), copy.size()};
}

// The address range that a bus's first `channels` buffers cover, empty when it has none.
struct AddressRange {
    std::uintptr_t first = UINTPTR_MAX;
    std::uintptr_t last = 0;

    void add(const float* channel, std::uint32_t frames) noexcept {
        const auto start = reinterpret_cast<std::uintptr_t>(channel);
        first = std::min(first, start);
        last = std::max(last, start + std::uintptr_t{frames} * sizeof(float));
    }
};

AddressRange busRange(const BusSpan& bus, std::uint64_t channels, std::uint32_t frames) noexcept {
    AddressRange range;
    if (bus.channels == nullptr) {
        return range;
    }
    for (std::uint64_t c = 0; c < std::min(channels, bus.channelCount); ++c) {
        if (bus.channels[c] != nullptr) {
            range.add(bus.channels[c], frames);
        }
    }
    return range;
}

// A host may pass one buffer as both input and output. Interleaved allocations count as shared
// too, which only costs the safe path.
bool hostBuffersMayAlias(const BusSpan& hostInput, std::uint64_t readWidth,
                         const BusSpan& hostOutput, std::uint32_t frames) noexcept {
    const AddressRange in = busRange(hostInput, readWidth, frames);
    const AddressRange out = busRange(hostOutput, hostOutput.channelCount, frames);
    return in.first < out.last && out.first < in.last;
}

// Not a call into the C library: blocks are short and there are many channels.
void zeroChannel(float* channel, std::uint32_t frames) noexcept {
    if (kWideVectors) {
        wideZero(channel, frames);
        return;
    }
    std::uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        _mm_storeu_ps(channel + i, _mm_setzero_ps());
    }
    for (; i < frames; ++i) {
        channel[i] = 0.0f;
    }
}

// Channel by channel: each channel's ring is independent, so this matches going frame by frame.
void delayInto(AudioConnection& connection, const PortBusSpan& source,
               const PortBusSpan& destination, std::uint32_t frames) noexcept {
    const std::uint32_t delay = connection.delay;
    for (std::uint32_t ch = 0; ch < destination.channelCount; ++ch) {
        float* ring = connection.delayLine.data() + std::size_t{ch} * delay;
        const float* in = source.channels[ch];
        float* out = destination.channels[ch];
        std::uint32_t position = connection.writePosition;
        for (std::uint32_t i = 0; i < frames; ++i) {
            out[i] = ring[position];
            ring[position] = in[i];
            if (++position == delay) {
                position = 0;
            }
        }
    }
    connection.writePosition = (connection.writePosition + frames) % delay;
}

// Due events leave the pending list before new ones join it, so a full list refuses only what
// truly does not fit. Delivery order among equal offsets stays: this block's Start events, then
// delayed ones in arrival order.
void feedEventConnection(const EventList& sourceEvents, EventConnection& connection,
                         EventList& inputEvents, std::uint32_t frames) noexcept {
    const auto arriving = [&](const RackEvent& event) {
        return event.sampleOffset < frames;
    };
    for (std::uint32_t e = 0; e < sourceEvents.count; ++e) {
        const RackEvent& event = sourceEvents.events[e];
        if (arriving(event) && event.kind == RackEventKind::Start) {
            inputEvents.push(event);
        }
    }
    std::uint32_t kept = 0;
    for (std::uint32_t p = 0; p < connection.pendingCount; ++p) {
        PendingEvent entry = connection.pending[p];
        if (entry.due >= frames) {
            entry.due -= frames;
            connection.pending[kept++] = entry;
        } else {
            RackEvent event = entry.event;
            event.sampleOffset = entry.due;
            inputEvents.push(event);
        }
    }
    connection.pendingCount = kept;
    for (std::uint32_t e = 0; e < sourceEvents.count; ++e) {
        const RackEvent& event = sourceEvents.events[e];
        if (!arriving(event) || event.kind == RackEventKind::Start) {
            continue;
        }
        const std::uint32_t due = event.sampleOffset + connection.delay;
        if (due < frames) {
            RackEvent delayed = event;
            delayed.sampleOffset = due;
            inputEvents.push(delayed);
        } else if (connection.pendingCount == EventConnection::kCapacity) {
            ++inputEvents.dropped;
        } else {
            connection.pending[connection.pendingCount++] = {event, due - frames};
        }
    }
}

void feedEvents(PreparedGraphState& state, const RunNode& node, EventList& inputEvents,
                std::uint32_t frames, const RackEvent* hostEvents,
                std::uint64_t hostEventCount) noexcept {
    inputEvents.clear();
    if (node.eventConnectionCount == 0) {
        for (std::uint64_t e = 0; e < hostEventCount; ++e) {
            if (hostEvents[e].sampleOffset < frames) {
                inputEvents.push(hostEvents[e]);
            }
        }
        return;
    }
    for (std::uint32_t k = 0; k < node.eventConnectionCount; ++k) {
        EventConnection& connection = node.eventConnections[k];
        feedEventConnection(state.outputEvents[connection.sourceNode], connection, inputEvents,
                            frames);
    }
}

void feedAudio(PreparedGraphState& state, const RunNode& node, std::uint32_t frames) noexcept {
    for (std::uint32_t z = node.zeroed.begin; z < node.zeroed.end; ++z) {
        zeroChannel(state.zeroChannels[z], frames);
    }
    for (std::uint32_t k = node.copies.begin; k < node.copies.end; ++k) {
        const ChannelCopy& copy = state.channelCopies[k];
        if (copy.peak != nullptr) {
            *copy.peak = copyWithPeak(copy.source, copy.destination, frames, *copy.peak);
        } else {
            std::copy_n(copy.source, frames, copy.destination);
        }
        if (copy.clearsSource) {
            zeroChannel(copy.source, frames);
        }
    }
    for (std::uint32_t k = node.delayed.begin; k < node.delayed.end; ++k) {
        const DelayedCable& cable = state.delayedCables[k];
        delayInto(*cable.connection, *cable.source, *cable.destination, frames);
    }
}

// Channels that a cable copy meters add to this later, when their destination runs.
float meterNode(const PreparedGraphState& state, const RunNode& node,
                std::uint32_t frames) noexcept {
    return channelsPeak(state.meterChannels.data() + node.metered.begin,
                        node.metered.end - node.metered.begin, frames, 0.0f);
}

} // namespace

void silenceHostOutput(const BusSpan& hostOutput, std::uint32_t frames) noexcept {
    if (hostOutput.channels == nullptr) {
        return;
    }
    for (std::uint64_t c = 0; c < hostOutput.channelCount; ++c) {
        if (hostOutput.channels[c] != nullptr) {
            zeroChannel(hostOutput.channels[c], frames);
        }
    }
}

void runGraph(PreparedGraph& graph, std::uint32_t frames, BusSpan hostInput,
              const BusSpan& hostOutput, const TransportInfo& transport,
              const RackEvent* hostEvents, std::uint64_t hostEventCount) noexcept {
    PreparedGraphState& state = graph.state();
    if (frames < 1 || frames > state.spec.maxBlockSize) {
        silenceHostOutput(hostOutput, frames);
        return;
    }
    // Host input is read in place unless a shared host buffer would be silenced or written
    // before a node reads it.
    std::size_t silenceAt = 0;
    if (state.hostInputBuffer &&
        hostBuffersMayAlias(hostInput, state.hostInputChannels.size(), hostOutput, frames)) {
        if (state.hostReadersFirst) {
            silenceAt = state.afterLastHostReader;
        } else {
            copyHostInput(state, hostInput, frames);
        }
    }
    const std::size_t count = state.run.size();
    for (std::size_t p = 0; p < count; ++p) {
        if (p == silenceAt) {
            silenceHostOutput(hostOutput, frames);
        }
        RunNode& node = state.run[p];
        feedAudio(state, node, frames);
        BlockContext context = node.context;
        context.frames = frames;
        context.transport = transport;
        context.hostInput = hostInput;
        context.hostOutput = hostOutput;
        context.outputEvents->clear();
        if (node.eventConnectionCount != 0 || hostEventCount != 0) {
            EventList& inputEvents = state.inputEvents[p];
            feedEvents(state, node, inputEvents, frames, hostEvents, hostEventCount);
            context.eventCount = inputEvents.count;
        }
        node.module->process(context);
        node.peak = node.levelIsPeak ? node.module->level() : meterNode(state, node, frames);
        if (node.sourcePeak != nullptr) {
            *node.sourcePeak = std::max(*node.sourcePeak, node.peak);
        }
    }
    if (silenceAt == count) {
        silenceHostOutput(hostOutput, frames);
    }
}

} // namespace velkaphon::rack
