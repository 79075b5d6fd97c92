#include "engine/graph_runner.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <emmintrin.h>

namespace velkaphon::rack {

namespace {

void silence(const std::vector<PortBusSpan>& buses, std::uint32_t frames) noexcept {
    for (const PortBusSpan& bus : buses) {
        for (std::uint32_t c = 0; c < bus.channelCount; ++c) {
            std::fill_n(bus.channels[c], frames, 0.0f);
        }
    }
}

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

void feedAudio(std::vector<PreparedNode>& nodes, PreparedNode& node,
               std::uint32_t frames) noexcept {
    for (AudioConnection& connection : node.audioConnections) {
        const PortBusSpan& source = nodes[connection.sourceNode].outputBuses[connection.sourcePort];
        const PortBusSpan& destination = node.inputBuses[connection.destinationPort];
        if (connection.delay == 0) {
            for (std::uint32_t ch = 0; ch < destination.channelCount; ++ch) {
                std::copy_n(source.channels[ch], frames, destination.channels[ch]);
            }
        } else {
            delayInto(connection, source, destination, frames);
        }
    }
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

void feedEvents(std::vector<PreparedNode>& nodes, PreparedNode& node, std::uint32_t frames,
                const RackEvent* hostEvents, std::uint64_t hostEventCount) noexcept {
    if (node.eventConnections.empty()) {
        for (std::uint64_t e = 0; e < hostEventCount; ++e) {
            if (hostEvents[e].sampleOffset < frames) {
                node.inputEvents.push(hostEvents[e]);
            }
        }
        return;
    }
    for (EventConnection& connection : node.eventConnections) {
        feedEventConnection(nodes[connection.sourceNode].outputEvents, connection, node.inputEvents,
                            frames);
    }
}

// Four samples at a time: MAXPS returns its second operand when the first is NaN, so a NaN
// sample leaves the peak as it is.
float channelPeak(const float* samples, std::uint32_t frames, float peak) noexcept {
    const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 wide = _mm_set1_ps(peak);
    std::uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        wide = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), magnitudeMask), wide);
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, wide);
    for (const float lane : lanes) {
        peak = lane > peak ? lane : peak;
    }
    for (; i < frames; ++i) {
        const float magnitude = std::fabs(samples[i]);
        peak = magnitude > peak ? magnitude : peak;
    }
    return peak;
}

float busPeak(const std::vector<PortBusSpan>& buses, std::uint32_t frames) noexcept {
    float peak = 0.0f;
    for (const PortBusSpan& bus : buses) {
        for (std::uint32_t c = 0; c < bus.channelCount; ++c) {
            peak = channelPeak(bus.channels[c], frames, peak);
        }
    }
    return peak;
}

} // namespace

void silenceHostOutput(const BusSpan& hostOutput, std::uint32_t frames) noexcept {
    if (hostOutput.channels == nullptr) {
        return;
    }
    for (std::uint64_t c = 0; c < hostOutput.channelCount; ++c) {
        if (hostOutput.channels[c] != nullptr) {
            std::fill_n(hostOutput.channels[c], frames, 0.0f);
        }
    }
}

void runGraph(PreparedGraph& graph, std::uint32_t frames, BusSpan hostInput,
              const BusSpan& hostOutput, const TransportInfo& transport,
              const RackEvent* hostEvents, std::uint64_t hostEventCount) noexcept {
    PreparedGraphState& state = graph.state();
    const bool runnable = frames >= 1 && frames <= state.spec.maxBlockSize;
    if (runnable && state.hostInputBuffer) {
        copyHostInput(state, hostInput, frames);
    }
    silenceHostOutput(hostOutput, frames);
    if (!runnable) {
        return;
    }
    for (PreparedNode& node : state.nodes) {
        silence(node.inputBuses, frames);
        silence(node.outputBuses, frames);
        feedAudio(state.nodes, node, frames);
        node.inputEvents.clear();
        node.outputEvents.clear();
        feedEvents(state.nodes, node, frames, hostEvents, hostEventCount);

        BlockContext context;
        context.inputs = node.inputBuses.data();
        context.inputCount = node.inputBuses.size();
        context.outputs = node.outputBuses.data();
        context.outputCount = node.outputBuses.size();
        context.frames = frames;
        context.transport = transport;
        context.events = node.inputEvents.events.data();
        context.eventCount = node.inputEvents.count;
        context.outputEvents = &node.outputEvents;
        context.hostInput = hostInput;
        context.hostOutput = hostOutput;
        node.module->process(context);

        node.peak = !node.outputBuses.empty() ? busPeak(node.outputBuses, frames)
                                              : busPeak(node.inputBuses, frames);
    }
}

} // namespace velkaphon::rack
