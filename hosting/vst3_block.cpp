#include "hosting/vst3_block.hpp"

#include "engine/note_velocity.hpp"
#include "hosting/block_audio.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velkaphon::rack {

using namespace vst3;
using VstHostImpl::Host;

namespace {

// One queue a parameter at most, and the parameters are at most as many as the queues.
void queueParameterChanges(Host& host) {
    host.changes.clear();
    host.parameterValues.takeEdits([&host](std::size_t index, double value) {
        host.changes.queues[static_cast<std::size_t>(host.changes.count++)].set(
            host.parameters[index].id, value, 0);
        return true;
    });
}

// The processor's own values reach the page and the controller; a rack edit stored since the
// block took its values is newer and keeps its value. Each queue found its parameter when the
// processor asked for it.
void storeOutputValues(Host& host) {
    for (int32 q = 0; q < host.outputChanges.count; ++q) {
        ValueQueue& queue = host.outputChanges.queues[static_cast<std::size_t>(q)];
        int32 offset = 0;
        double value = 0.0;
        const std::optional<std::size_t> index = queue.place();
        if (!index || *index >= host.parameterValues.size() ||
            *index >= host.parameterSlots.size() || queue.getPoint(0, offset, value) != kResultOk ||
            !std::isfinite(value)) {
            continue;
        }
        if (host.parameterValues.report(*index, std::clamp(value, 0.0, 1.0))) {
            host.parameterSlots[*index].pendingForController.store(true, std::memory_order_release);
        }
    }
}

void copyInputs(Host& host, const BlockContext& context) {
    for (std::size_t bus = 0; bus < host.inputBuses.size(); ++bus) {
        AudioBusBuffers& buffers = host.inputBuffers[bus];
        buffers.silenceFlags = 0;
        for (std::uint32_t c = 0; c < host.inputBuses[bus].channels; ++c) {
            const float* source = viewChannel(context.inputs, context.inputCount, bus, c);
            float* target = host.inputChannels32[bus * kMaxPluginBusChannels + c];
            if (copyFiniteSamples(source, target, context.frames)) {
                buffers.silenceFlags |= std::uint64_t{1} << c;
            }
        }
    }
}

void zeroOutputs(Host& host, std::uint32_t frames) {
    for (std::size_t bus = 0; bus < host.outputBuses.size(); ++bus) {
        host.outputBuffers[bus].silenceFlags = 0;
        for (std::uint32_t c = 0; c < host.outputBuses[bus].channels; ++c) {
            const std::size_t entry = bus * kMaxPluginBusChannels + c;
            std::fill_n(host.outputChannels32[entry], frames, 0.0f);
            if (host.use64Bit) {
                std::fill_n(host.outputChannels64[entry], frames, 0.0);
            }
        }
    }
}

void widenInputs(Host& host, std::uint32_t frames) {
    for (std::size_t bus = 0; bus < host.inputBuses.size(); ++bus) {
        for (std::uint32_t c = 0; c < host.inputBuses[bus].channels; ++c) {
            const std::size_t entry = bus * kMaxPluginBusChannels + c;
            std::copy_n(host.inputChannels32[entry], frames, host.inputChannels64[entry]);
        }
    }
}

void narrowOutputs(Host& host, std::uint32_t frames) {
    for (std::size_t bus = 0; bus < host.outputBuses.size(); ++bus) {
        for (std::uint32_t c = 0; c < host.outputBuses[bus].channels; ++c) {
            const std::size_t entry = bus * kMaxPluginBusChannels + c;
            const double* wide = host.outputChannels64[entry];
            float* narrow = host.outputChannels32[entry];
            for (std::uint32_t i = 0; i < frames; ++i) {
                narrow[i] = static_cast<float>(wide[i]);
            }
        }
    }
}

Event sysExEvent(const std::array<std::uint8_t, 7>& message) {
    Event event{};
    event.type = Event::kDataEvent;
    event.data.size = static_cast<uint32>(message.size());
    event.data.type = DataEvent::kMidiSysEx;
    event.data.bytes = message.data();
    return event;
}

Event noteEvent(const RackEvent& rack, bool on) {
    Event event{};
    const auto channel = static_cast<int16>(rack.status & 0x0F);
    const auto pitch = static_cast<int16>(rack.data1 & 0x7F);
    if (on) {
        event.type = Event::kNoteOnEvent;
        event.noteOn = {
            channel, pitch, 0.0f, static_cast<float>(normalisedNoteOnVelocity(rack.data2)), 0, -1};
    } else {
        event.type = Event::kNoteOffEvent;
        event.noteOff = {channel, pitch, static_cast<float>(normalisedVelocity(rack.data2)), -1,
                         0.0f};
    }
    return event;
}

// False for kinds the plug-in is not given.
bool toVstEvent(const RackEvent& rack, Event& event) {
    const std::uint8_t type = rack.status & 0xF0;
    switch (rack.kind) {
    case RackEventKind::Start:
        event = sysExEvent(kVstStartSysEx);
        return true;
    case RackEventKind::Stop:
    case RackEventKind::Ended:
        event = sysExEvent(kVstStopSysEx);
        return true;
    case RackEventKind::NoteOn:
        event = noteEvent(rack, true);
        return true;
    case RackEventKind::NoteOff:
        event = noteEvent(rack, false);
        return true;
    case RackEventKind::Midi:
        if (type == 0x90 || type == 0x80) {
            event = noteEvent(rack, type == 0x90 && rack.data2 > 0);
            return true;
        }
        return false;
    }
    return false;
}

void fillInputEvents(VstEvents& list, const BlockContext& context) {
    list.count = 0;
    for (std::uint64_t i = 0; i < context.eventCount && list.count < VstEvents::kCapacity; ++i) {
        const RackEvent& rack = context.events[i];
        Event event{};
        if (rack.sampleOffset >= context.frames || !toVstEvent(rack, event)) {
            continue;
        }
        event.busIndex = 0;
        event.sampleOffset = static_cast<int32>(rack.sampleOffset);
        event.ppqPosition = 0.0;
        event.flags = 0;
        list.events[static_cast<std::size_t>(list.count++)] = event;
    }
}

ProcessContext transportContext(const Host& host, const TransportInfo& transport) {
    ProcessContext context{};
    context.state = ProcessContext::kProjectTimeMusicValid | ProcessContext::kTempoValid |
                    ProcessContext::kContTimeValid;
    if (transport.playing) {
        context.state |= ProcessContext::kPlaying;
    }
    if (transport.recording) {
        context.state |= ProcessContext::kRecording;
    }
    context.sampleRate = host.sampleRate;
    context.projectTimeSamples = transport.samplePosition;
    context.continousTimeSamples = transport.samplePosition;
    context.projectTimeMusic =
        static_cast<double>(transport.samplePosition) / host.sampleRate * transport.tempo / 60.0;
    context.tempo = transport.tempo;
    return context;
}

void copyOutputs(Host& host, BlockContext& context) {
    for (std::uint64_t view = 0; view < context.outputCount; ++view) {
        const PortBusSpan& output = context.outputs[view];
        for (std::uint32_t c = 0; c < output.channelCount; ++c) {
            const float* source = nullptr;
            if (view < host.outputBuses.size() && c < host.outputBuses[view].channels) {
                source = host.outputChannels32[view * kMaxPluginBusChannels + c];
            }
            copyFiniteSamples(source, output.channels[c], context.frames);
        }
    }
}

RackEvent noteOut(RackEventKind kind, std::uint8_t status, int16 channel, int16 pitch,
                  std::uint8_t velocity, std::uint32_t offset) {
    RackEvent event;
    event.kind = kind;
    event.sampleOffset = offset;
    event.status = static_cast<std::uint8_t>(status | (channel & 0x0F));
    event.data1 = static_cast<std::uint8_t>(pitch & 0x7F);
    event.data2 = velocity;
    return event;
}

bool isTransportSysEx(const DataEvent& data, std::uint8_t which) {
    return data.type == DataEvent::kMidiSysEx && data.size == 7 && data.bytes != nullptr &&
           std::memcmp(data.bytes, kVstStartSysEx.data(), 5) == 0 && data.bytes[5] == which &&
           data.bytes[6] == 0xF7;
}

void passOutputEvents(const VstEvents& list, BlockContext& context) {
    if (context.outputEvents == nullptr) {
        return;
    }
    for (int32 i = 0; i < list.count; ++i) {
        const Event& event = list.events[static_cast<std::size_t>(i)];
        if (event.sampleOffset < 0 ||
            static_cast<std::uint32_t>(event.sampleOffset) >= context.frames) {
            continue;
        }
        const auto offset = static_cast<std::uint32_t>(event.sampleOffset);
        RackEvent rack;
        rack.sampleOffset = offset;
        if (event.type == Event::kNoteOnEvent) {
            // A note-on whose velocity is NaN is dropped: no velocity can be guessed for it.
            const auto velocity = noteOnVelocity(event.noteOn.velocity);
            if (!velocity) {
                continue;
            }
            rack = noteOut(RackEventKind::NoteOn, 0x90, event.noteOn.channel, event.noteOn.pitch,
                           *velocity, offset);
        } else if (event.type == Event::kNoteOffEvent) {
            rack = noteOut(RackEventKind::NoteOff, 0x80, event.noteOff.channel, event.noteOff.pitch,
                           noteOffVelocity(event.noteOff.velocity), offset);
        } else if (event.type == Event::kDataEvent && isTransportSysEx(event.data, 1)) {
            rack.kind = RackEventKind::Start;
        } else if (event.type == Event::kDataEvent && isTransportSysEx(event.data, 2)) {
            rack.kind = RackEventKind::Ended;
        } else {
            continue;
        }
        context.outputEvents->push(rack);
    }
}

} // namespace

void processVstBlock(Host& host, VstEvents& inputEvents, VstEvents& outputEvents,
                     BlockContext& context) {
    queueParameterChanges(host);
    copyInputs(host, context);
    zeroOutputs(host, context.frames);
    if (host.use64Bit) {
        widenInputs(host, context.frames);
    }
    fillInputEvents(inputEvents, context);
    outputEvents.count = 0;

    ProcessContext transport = transportContext(host, context.transport);
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = host.use64Bit ? kSample64 : kSample32;
    data.numSamples = static_cast<int32>(context.frames);
    data.numInputs = host.inputBusCount;
    data.numOutputs = host.outputBusCount;
    data.inputs = host.inputBuffers.data();
    data.outputs = host.outputBuffers.data();
    data.inputParameterChanges = &host.changes;
    host.outputChanges.clear();
    data.outputParameterChanges = &host.outputChanges;
    data.inputEvents = &inputEvents;
    data.outputEvents = &outputEvents;
    data.processContext = &transport;
    if (host.processor->process(data) != kResultOk) {
        clearOutputBuses(context);
        host.fault.record("process returned an error");
        host.restartFlags.fetch_or(VstHostImpl::kFaultFlag);
        return;
    }
    storeOutputValues(host);
    if (host.use64Bit) {
        narrowOutputs(host, context.frames);
    }
    copyOutputs(host, context);
    passOutputEvents(outputEvents, context);
}

} // namespace velkaphon::rack
