#include "hosting/clap_block.hpp"

#include "abi/clap/process.hpp"
#include "engine/note_velocity.hpp"
#include "hosting/block_audio.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace velkaphon::rack {

namespace {

clap_event_header headerOf(std::uint32_t size, std::uint16_t type, std::uint32_t time) {
    return {size, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
}

void copyInputs(ClapBlock& block, const BlockContext& context) {
    for (std::size_t port = 0; port < block.inputs.ports.size(); ++port) {
        for (std::uint32_t c = 0; c < block.inputs.ports[port].channels; ++c) {
            copyFiniteSamples(viewChannel(context.inputs, context.inputCount, port, c),
                              block.inputs.channel(port, c), context.frames);
        }
    }
    for (std::vector<float>& channel : block.outputs.storage) {
        std::fill_n(channel.data(), context.frames, 0.0f);
    }
}

void queueNote(ClapBlock& block, const RackEvent& rack) {
    if (block.clapNoteDialect) {
        const std::uint8_t type = rack.status & 0xF0;
        if (type != 0x80 && type != 0x90) {
            return;
        }
        const bool on = type == 0x90 && (rack.data2 & 0x7F) > 0;
        clap_event_note event{};
        event.header = headerOf(sizeof(event), on ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF,
                                rack.sampleOffset);
        event.note_id = -1;
        event.port_index = 0;
        event.channel = static_cast<std::int16_t>(rack.status & 0x0F);
        event.key = static_cast<std::int16_t>(rack.data1 & 0x7F);
        event.velocity = normalisedVelocity(rack.data2);
        block.inputEvents.push(&event.header);
        return;
    }
    clap_event_midi event{};
    event.header = headerOf(sizeof(event), CLAP_EVENT_MIDI, rack.sampleOffset);
    event.port_index = 0;
    event.data[0] = rack.status;
    event.data[1] = rack.data1;
    event.data[2] = rack.data2;
    block.inputEvents.push(&event.header);
}

void queueNotes(ClapBlock& block, const BlockContext& context) {
    for (std::uint64_t i = 0;
         i < context.eventCount && block.inputEvents.size() < ClapEventBuffer::kCapacity; ++i) {
        const RackEvent& rack = context.events[i];
        const bool isNote = rack.kind == RackEventKind::Midi ||
                            rack.kind == RackEventKind::NoteOn ||
                            rack.kind == RackEventKind::NoteOff;
        if (isNote && rack.sampleOffset < context.frames) {
            queueNote(block, rack);
        }
    }
}

void fillTransport(ClapBlock& block, const TransportInfo& transport) {
    clap_event_transport& out = block.transport;
    out = {};
    out.header = headerOf(sizeof(out), CLAP_EVENT_TRANSPORT, 0);
    out.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
    if (transport.playing) {
        out.flags |= CLAP_TRANSPORT_IS_PLAYING;
    }
    if (transport.recording) {
        out.flags |= CLAP_TRANSPORT_IS_RECORDING;
    }
    out.tempo = transport.tempo;
    const double seconds = static_cast<double>(transport.samplePosition) / block.sampleRate;
    out.song_pos_seconds =
        static_cast<clap_sectime>(seconds * static_cast<double>(CLAP_SECTIME_FACTOR));
    out.song_pos_beats = static_cast<clap_beattime>(seconds * transport.tempo / 60.0 *
                                                    static_cast<double>(CLAP_BEATTIME_FACTOR));
}

void copyOutputs(const ClapBlock& block, BlockContext& context) {
    for (std::uint64_t view = 0; view < context.outputCount; ++view) {
        const PortBusSpan& output = context.outputs[view];
        for (std::uint32_t c = 0; c < output.channelCount; ++c) {
            copyFiniteSamples(block.outputs.channel(view, c), output.channels[c], context.frames);
        }
    }
}

// Nothing for a note-on whose velocity is NaN: no velocity can be guessed for it.
std::optional<RackEvent> noteOut(const clap_event_note& note) {
    const bool on = note.header.type == CLAP_EVENT_NOTE_ON;
    const std::optional<std::uint8_t> velocity =
        on ? noteOnVelocity(note.velocity) : noteOffVelocity(note.velocity);
    if (!velocity) {
        return std::nullopt;
    }
    RackEvent rack;
    rack.kind = on ? RackEventKind::NoteOn : RackEventKind::NoteOff;
    rack.sampleOffset = note.header.time;
    const std::uint8_t channel =
        note.channel < 0 ? 0 : static_cast<std::uint8_t>(note.channel & 0x0F);
    rack.status = static_cast<std::uint8_t>((on ? 0x90 : 0x80) | channel);
    rack.data1 = static_cast<std::uint8_t>(note.key & 0x7F);
    rack.data2 = *velocity;
    return rack;
}

void takeOutputEvents(ClapBlock& block, BlockContext& context) {
    for (std::uint32_t i = 0; i < block.outputEvents.size(); ++i) {
        const clap_event_header* header = block.outputEvents.get(i);
        if (header->space_id != CLAP_CORE_EVENT_SPACE_ID) {
            continue;
        }
        if (context.outputEvents == nullptr || header->time >= context.frames) {
            continue;
        }
        if (header->type == CLAP_EVENT_MIDI && header->size >= sizeof(clap_event_midi)) {
            const auto& midi = *reinterpret_cast<const clap_event_midi*>(header);
            RackEvent rack;
            rack.kind = RackEventKind::Midi;
            rack.sampleOffset = header->time;
            rack.status = midi.data[0];
            rack.data1 = midi.data[1];
            rack.data2 = midi.data[2];
            context.outputEvents->push(rack);
        } else if ((header->type == CLAP_EVENT_NOTE_ON || header->type == CLAP_EVENT_NOTE_OFF) &&
                   header->size >= sizeof(clap_event_note)) {
            const auto& note = *reinterpret_cast<const clap_event_note*>(header);
            const std::optional<RackEvent> rack = note.key >= 0 ? noteOut(note) : std::nullopt;
            if (rack) {
                context.outputEvents->push(*rack);
            }
        }
    }
}

} // namespace

void ClapSide::allocate(std::uint32_t maxFrames) {
    buffers.assign(ports.size(), clap_audio_buffer{});
    storage.clear();
    pointers.assign(ports.size(), {});
    for (std::size_t port = 0; port < ports.size(); ++port) {
        for (std::uint32_t c = 0; c < ports[port].channels; ++c) {
            storage.emplace_back(maxFrames, 0.0f);
            pointers[port].push_back(storage.back().data());
        }
        buffers[port] = {pointers[port].data(), nullptr, ports[port].channels, 0, 0};
    }
}

void queueParameterEvents(ClapBlock& block) noexcept {
    block.values.takeEdits([&block](std::size_t place, double value) {
        const ClapParameterSlot& slot = block.slots[place];
        clap_event_param_value event{};
        event.header = headerOf(sizeof(event), CLAP_EVENT_PARAM_VALUE, 0);
        event.param_id = slot.info.id;
        event.cookie = slot.info.cookie;
        event.note_id = -1;
        event.port_index = -1;
        event.channel = -1;
        event.key = -1;
        event.value = value;
        return block.inputEvents.push(&event.header);
    });
}

// A rack edit stored since the block took its values is newer than the plug-in's own value and
// keeps its place.
void storeOutputValues(ClapBlock& block) noexcept {
    for (std::uint32_t i = 0; i < block.outputEvents.size(); ++i) {
        const clap_event_header* header = block.outputEvents.get(i);
        if (header->space_id != CLAP_CORE_EVENT_SPACE_ID ||
            header->type != CLAP_EVENT_PARAM_VALUE ||
            header->size < sizeof(clap_event_param_value)) {
            continue;
        }
        const auto& value = *reinterpret_cast<const clap_event_param_value*>(header);
        if (!std::isfinite(value.value)) {
            continue;
        }
        if (const std::optional<std::size_t> place = clapParameterPlace(block, value.param_id)) {
            block.values.report(*place, value.value);
        }
    }
}

std::optional<std::size_t> clapParameterPlace(const ClapBlock& block, clap_id id) noexcept {
    const std::optional<std::size_t> place = block.parameterIndex.find(id);
    return place && *place < block.parameterCount && *place < block.values.size() ? place
                                                                                  : std::nullopt;
}

bool processClapBlock(ClapBlock& block, BlockContext& context) {
    copyInputs(block, context);
    block.inputEvents.clear();
    block.outputEvents.clear();
    queueParameterEvents(block);
    queueNotes(block, context);
    fillTransport(block, context.transport);

    clap_process call{};
    call.steady_time = static_cast<std::int64_t>(block.steadyTime);
    call.frames_count = context.frames;
    call.transport = &block.transport;
    call.audio_inputs = block.inputs.buffers.data();
    call.audio_outputs = block.outputs.buffers.data();
    call.audio_inputs_count = static_cast<std::uint32_t>(block.inputs.buffers.size());
    call.audio_outputs_count = static_cast<std::uint32_t>(block.outputs.buffers.size());
    call.in_events = block.inputEvents.input();
    call.out_events = block.outputEvents.output();
    block.steadyTime += context.frames;
    if (block.plugin->process(block.plugin, &call) == CLAP_PROCESS_ERROR) {
        clearOutputBuses(context);
        return false;
    }
    copyOutputs(block, context);
    storeOutputValues(block);
    takeOutputEvents(block, context);
    return true;
}

} // namespace velkaphon::rack
