#include "hosting/clap_module.hpp"

#include "abi/clap/audio_ports.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/note_ports.hpp"
#include "abi/clap/state.hpp"
#include "engine/utf8_text.hpp"
#include "hosting/block_audio.hpp"
#include "hosting/clap_event_buffer.hpp"
#include "hosting/clap_host.hpp"
#include "hosting/clap_library.hpp"
#include "hosting/clap_parameters.hpp"
#include "hosting/clap_streams.hpp"
#include "hosting/editor_window.hpp"
#include "hosting/plugin_configuration.hpp"
#include "hosting/plugin_failure.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kMaximumPorts = 64;
constexpr std::uint32_t kMaximumPortChannels = 64;
constexpr std::size_t kMaximumSideChannels = 512;
constexpr std::uint32_t kMaximumParameters = 4096;
constexpr std::uint32_t kMaximumLatency = 3840000;
constexpr const char* kUnknownFailure = "The CLAP plugin failed.";
constexpr const char* kNoEditor = "Plugin has no embedded Windows editor; use parameters.";
constexpr const char* kAttachFailed = "CLAP editor attachment failed.";

std::string fieldText(const char* field, std::size_t capacity) {
    return replaceInvalidUtf8(std::string_view(field, strnlen(field, capacity)));
}

clap_event_header headerOf(std::uint32_t size, std::uint16_t type, std::uint32_t time) {
    return {size, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
}

// The ports of one side, their storage of maxFrames floats a channel, and the buffers that
// name it.
struct ClapSide {
    std::vector<PortSpec> ports;
    std::vector<clap_audio_buffer> buffers;
    std::vector<std::vector<float>> storage;
    std::vector<std::vector<float*>> pointers;

    void allocate(std::uint32_t maxFrames) {
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

    float* channel(std::size_t port, std::uint32_t c) const {
        return port < ports.size() && c < ports[port].channels ? pointers[port][c] : nullptr;
    }
};

class ClapModule final : public HostedModule {
public:
    explicit ClapModule(const nlohmann::json& configuration) : configuration_(configuration) {
        const std::string path = configuration_.at("path").get<std::string>();
        library_ = acquireClapLibrary(path);
        host_ = makeClapHost(state_);
        const std::string pluginId = choosePluginId();
        plugin_ = library_->factory->create_plugin(library_->factory, &host_, pluginId.c_str());
        if (plugin_ == nullptr) {
            fail("CLAP creation failed.");
        }
        runUndoingOnFailure([this] { setUpInstance(); },
                            [this] {
                                callIgnoringFailure([this] { plugin_->destroy(plugin_); });
                                plugin_ = nullptr;
                            },
                            kUnknownFailure);
    }

    ~ClapModule() override {
        closeEditor();
        if (plugin_ == nullptr) {
            return;
        }
        if (processing_) {
            state_.audioThreadId.store(currentThreadId());
            callIgnoringFailure([this] { plugin_->stop_processing(plugin_); });
            state_.audioThreadId.store(0);
        }
        if (activated_) {
            callIgnoringFailure([this] { plugin_->deactivate(plugin_); });
        }
        callIgnoringFailure([this] { plugin_->destroy(plugin_); });
    }

    std::vector<PortSpec> inputs() const override { return inputs_.ports; }
    std::vector<PortSpec> outputs() const override { return outputs_.ports; }

    void prepare(const ProcessSpec& spec) override {
        runTranslatingFailure([&] { activate(spec); }, kUnknownFailure);
        for (const ConfiguredParameter& parameter : configuredParameters(configuration_)) {
            if (parameter.id) {
                setControl(*parameter.id, parameter.value);
            }
        }
        state_.restartRequest.store(0);
    }

    // Audio thread.
    void process(BlockContext& context) noexcept override {
        if (state_.restartRequest.load(std::memory_order_relaxed) != 0 ||
            context.frames > maxBlockFrames_) {
            clearOutputBuses(context);
            return;
        }
        const std::uint32_t previous = state_.audioThreadId.exchange(currentThreadId());
        try {
            runBlock(context);
        } catch (...) {
            clearOutputBuses(context);
            state_.restartRequest.store(1);
        }
        state_.audioThreadId.store(previous);
    }

    std::uint32_t latencySamples() const override { return latency_; }
    float level() const override { return 0.0f; }

    // Audio and control thread.
    void setControl(std::uint32_t index, double value) noexcept override {
        if (!std::isfinite(value)) {
            return;
        }
        for (std::uint32_t i = 0; i < parameterCount_; ++i) {
            ClapParameterSlot& slot = slots_[i];
            if (slot.info.id == index && !slot.readOnly()) {
                slot.value.store(std::clamp(value, slot.info.min_value, slot.info.max_value));
                slot.pending.store(1);
                return;
            }
        }
    }

    nlohmann::json status() const override {
        nlohmann::json result = configuration_;
        nlohmann::json values = nlohmann::json::array();
        for (std::uint32_t i = 0; i < parameterCount_; ++i) {
            values.push_back({{"id", slots_[i].info.id}, {"value", slots_[i].value.load()}});
        }
        result["parameters"] = std::move(values);
        runTranslatingFailure([&] { saveState(result); }, kUnknownFailure);
        return result;
    }

    std::vector<HostedParameter> parameters() const override {
        std::vector<HostedParameter> list;
        for (std::uint32_t i = 0; i < parameterCount_; ++i) {
            const ClapParameterSlot& slot = slots_[i];
            list.push_back({slot.info.id, fieldText(slot.info.name, sizeof(slot.info.name)), "",
                            slot.value.load(), slot.readOnly()});
        }
        return list;
    }

    // UI thread.
    bool openEditor(NativeWindowHandle parent, std::string& error) override {
        closeEditor();
        try {
            return attachEditor(parent, error);
        } catch (...) {
            closeEditor();
            error = kAttachFailed;
            return false;
        }
    }

    // UI thread.
    void closeEditor() override {
        if (editorOpen_ && gui_ != nullptr) {
            callIgnoringFailure([this] { gui_->hide(plugin_); });
            callIgnoringFailure([this] { gui_->destroy(plugin_); });
            editorOpen_ = false;
        }
    }

    // UI thread.
    void idle() override {
        if (state_.callbackRequest.exchange(0) != 0) {
            callIgnoringFailure([this] { plugin_->on_main_thread(plugin_); });
        }
    }

    bool restartRequested() const override { return state_.restartRequest.load() != 0; }
    bool hasEventInput() const override { return notePortCount(true) > 0; }
    bool hasEventOutput() const override { return notePortCount(false) > 0; }

private:
    template <class Extension>
    const Extension* extension(const char* id) const {
        return static_cast<const Extension*>(plugin_->get_extension(plugin_, id));
    }

    std::string choosePluginId() {
        std::string id = configuration_.value("pluginId", std::string());
        if (!id.empty()) {
            return id;
        }
        const clap_plugin_factory* factory = library_->factory;
        const clap_plugin_descriptor* first = factory->get_plugin_count(factory) > 0
                                                  ? factory->get_plugin_descriptor(factory, 0)
                                                  : nullptr;
        if (first == nullptr || first->id == nullptr) {
            fail("Empty CLAP factory.");
        }
        id = first->id;
        configuration_["pluginId"] = replaceInvalidUtf8(id);
        return id;
    }

    void setUpInstance() {
        if (!plugin_->init(plugin_)) {
            fail("CLAP init failed.");
        }
        readPorts();
        params_ = extension<clap_plugin_params>(CLAP_EXT_PARAMS);
        gui_ = extension<clap_plugin_gui>(CLAP_EXT_GUI);
        readParameters();
        if (configuration_.contains("state")) {
            loadState();
        }
    }

    std::vector<PortSpec> readSide(bool isInput) {
        std::vector<PortSpec> ports;
        const std::uint32_t count = audioPorts_->count(plugin_, isInput);
        if (count > kMaximumPorts) {
            fail("CLAP bus count exceeds 64.");
        }
        std::size_t channels = 0;
        for (std::uint32_t index = 0; index < count; ++index) {
            clap_audio_port_info info{};
            if (!audioPorts_->get(plugin_, index, isInput, &info) || info.channel_count < 1 ||
                info.channel_count > kMaximumPortChannels) {
                fail("Invalid CLAP port width.");
            }
            ports.push_back({std::to_string(index), fieldText(info.name, sizeof(info.name)),
                             info.channel_count});
            channels += info.channel_count;
        }
        if (channels > kMaximumSideChannels) {
            fail("CLAP total channels exceed 512.");
        }
        return ports;
    }

    void readPorts() {
        audioPorts_ = extension<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
        if (audioPorts_ == nullptr) {
            fail("CLAP audio ports extension missing.");
        }
        inputs_.ports.clear();
        inputs_.ports = readSide(true);
        outputs_.ports.clear();
        outputs_.ports = readSide(false);
    }

    void readParameters() {
        const std::uint32_t count = params_ != nullptr ? params_->count(plugin_) : 0;
        if (count > kMaximumParameters) {
            fail("CLAP parameter count exceeds 4096.");
        }
        slots_ = std::make_unique<ClapParameterSlot[]>(count);
        for (std::uint32_t index = 0; index < count; ++index) {
            ClapParameterSlot& slot = slots_[index];
            if (!params_->get_info(plugin_, index, &slot.info)) {
                fail("Invalid CLAP parameter.");
            }
            double value = slot.info.default_value;
            if (!params_->get_value(plugin_, slot.info.id, &value)) {
                value = slot.info.default_value;
            }
            slot.value.store(value);
        }
        parameterCount_ = count;
    }

    void loadState() {
        const auto* state = extension<clap_plugin_state>(CLAP_EXT_STATE);
        const std::vector<std::uint8_t> bytes =
            pluginStateBytes(configuration_.at("state"), "Unsupported CLAP state.");
        if (state == nullptr) {
            fail("Unsupported CLAP state.");
        }
        ClapInputStream stream(bytes);
        if (!state->load(plugin_, stream.stream())) {
            fail("CLAP state rejected.");
        }
    }

    void activate(const ProcessSpec& spec) {
        sampleRate_ = spec.sampleRate;
        maxBlockFrames_ = spec.maxBlockSize;
        readPorts();
        inputs_.allocate(maxBlockFrames_);
        outputs_.allocate(maxBlockFrames_);
        if (!plugin_->activate(plugin_, sampleRate_, 1, maxBlockFrames_)) {
            fail("CLAP activation failed.");
        }
        activated_ = true;
        clapNoteDialect_ = prefersClapNotes();
        const auto* latency = extension<clap_plugin_latency>(CLAP_EXT_LATENCY);
        const std::uint32_t samples = latency != nullptr ? latency->get(plugin_) : 0;
        if (samples > kMaximumLatency) {
            fail("CLAP latency exceeds bound.");
        }
        latency_ = samples;
    }

    bool prefersClapNotes() const {
        const auto* notes = extension<clap_plugin_note_ports>(CLAP_EXT_NOTE_PORTS);
        clap_note_port_info info{};
        if (notes == nullptr || notes->count(plugin_, true) == 0 ||
            !notes->get(plugin_, 0, true, &info)) {
            return false;
        }
        return (info.supported_dialects & CLAP_NOTE_DIALECT_CLAP) != 0 &&
               (info.supported_dialects & CLAP_NOTE_DIALECT_MIDI) == 0;
    }

    std::uint32_t notePortCount(bool isInput) const {
        std::uint32_t count = 0;
        callIgnoringFailure([&] {
            if (const auto* notes = extension<clap_plugin_note_ports>(CLAP_EXT_NOTE_PORTS)) {
                count = notes->count(plugin_, isInput);
            }
        });
        return count;
    }

    void saveState(nlohmann::json& result) const {
        const auto* state = extension<clap_plugin_state>(CLAP_EXT_STATE);
        if (state == nullptr) {
            return;
        }
        ClapOutputStream stream;
        if (!state->save(plugin_, stream.stream())) {
            fail("CLAP state save failed.");
        }
        result["state"] = stream.bytes();
    }

    bool attachEditor(NativeWindowHandle parent, std::string& error) {
        if (gui_ == nullptr || !gui_->is_api_supported(plugin_, CLAP_WINDOW_API_WIN32, false) ||
            !gui_->create(plugin_, CLAP_WINDOW_API_WIN32, false)) {
            error = kNoEditor;
            return false;
        }
        editorOpen_ = true;
        clap_window window{};
        window.api = CLAP_WINDOW_API_WIN32;
        window.win32 = parent;
        if (!gui_->set_parent(plugin_, &window) || !gui_->show(plugin_)) {
            closeEditor();
            error = kAttachFailed;
            return false;
        }
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (gui_->get_size(plugin_, &width, &height)) {
            resizeWindowClientArea(parent, static_cast<std::int32_t>(width),
                                   static_cast<std::int32_t>(height));
        }
        return true;
    }

    // Audio thread, from here on.

    void copyInputs(const BlockContext& context) {
        for (std::size_t port = 0; port < inputs_.ports.size(); ++port) {
            for (std::uint32_t c = 0; c < inputs_.ports[port].channels; ++c) {
                copyFiniteSamples(viewChannel(context.inputs, context.inputCount, port, c),
                                  inputs_.channel(port, c), context.frames);
            }
        }
        for (std::vector<float>& channel : outputs_.storage) {
            std::fill_n(channel.data(), context.frames, 0.0f);
        }
    }

    void queueParameterEvents() {
        for (std::uint32_t i = 0;
             i < parameterCount_ && inputEvents_.size() < ClapEventBuffer::kCapacity; ++i) {
            ClapParameterSlot& slot = slots_[i];
            if (slot.pending.exchange(0) == 0) {
                continue;
            }
            clap_event_param_value event{};
            event.header = headerOf(sizeof(event), CLAP_EVENT_PARAM_VALUE, 0);
            event.param_id = slot.info.id;
            event.cookie = slot.info.cookie;
            event.note_id = -1;
            event.port_index = -1;
            event.channel = -1;
            event.key = -1;
            event.value = slot.value.load();
            inputEvents_.push(&event.header);
        }
    }

    void queueNote(const RackEvent& rack) {
        if (clapNoteDialect_) {
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
            event.velocity = (rack.data2 & 0x7F) / 127.0;
            inputEvents_.push(&event.header);
            return;
        }
        clap_event_midi event{};
        event.header = headerOf(sizeof(event), CLAP_EVENT_MIDI, rack.sampleOffset);
        event.port_index = 0;
        event.data[0] = rack.status;
        event.data[1] = rack.data1;
        event.data[2] = rack.data2;
        inputEvents_.push(&event.header);
    }

    void queueNotes(const BlockContext& context) {
        for (std::uint64_t i = 0;
             i < context.eventCount && inputEvents_.size() < ClapEventBuffer::kCapacity; ++i) {
            const RackEvent& rack = context.events[i];
            const bool isNote = rack.kind == RackEventKind::Midi ||
                                rack.kind == RackEventKind::NoteOn ||
                                rack.kind == RackEventKind::NoteOff;
            if (isNote && rack.sampleOffset < context.frames) {
                queueNote(rack);
            }
        }
    }

    void fillTransport(const TransportInfo& transport) {
        transport_ = {};
        transport_.header = headerOf(sizeof(transport_), CLAP_EVENT_TRANSPORT, 0);
        transport_.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                           CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
        if (transport.playing) {
            transport_.flags |= CLAP_TRANSPORT_IS_PLAYING;
        }
        if (transport.recording) {
            transport_.flags |= CLAP_TRANSPORT_IS_RECORDING;
        }
        transport_.tempo = transport.tempo;
        const double seconds = static_cast<double>(transport.samplePosition) / sampleRate_;
        transport_.song_pos_seconds =
            static_cast<clap_sectime>(seconds * static_cast<double>(CLAP_SECTIME_FACTOR));
        transport_.song_pos_beats = static_cast<clap_beattime>(
            seconds * transport.tempo / 60.0 * static_cast<double>(CLAP_BEATTIME_FACTOR));
    }

    void copyOutputs(BlockContext& context) {
        for (std::uint64_t view = 0; view < context.outputCount; ++view) {
            const PortBusSpan& output = context.outputs[view];
            for (std::uint32_t c = 0; c < output.channelCount; ++c) {
                copyFiniteSamples(outputs_.channel(view, c), output.channels[c], context.frames);
            }
        }
    }

    static RackEvent noteOut(const clap_event_note& note) {
        RackEvent rack;
        const bool on = note.header.type == CLAP_EVENT_NOTE_ON;
        rack.kind = on ? RackEventKind::NoteOn : RackEventKind::NoteOff;
        rack.sampleOffset = note.header.time;
        const std::uint8_t channel =
            note.channel < 0 ? 0 : static_cast<std::uint8_t>(note.channel & 0x0F);
        rack.status = static_cast<std::uint8_t>((on ? 0x90 : 0x80) | channel);
        rack.data1 = static_cast<std::uint8_t>(note.key & 0x7F);
        const double velocity = std::isfinite(note.velocity) ? note.velocity : 0.0;
        rack.data2 = static_cast<std::uint8_t>(std::clamp(velocity, 0.0, 1.0) * 127.0);
        return rack;
    }

    void takeOutputEvents(BlockContext& context) {
        for (std::uint32_t i = 0; i < outputEvents_.size(); ++i) {
            const clap_event_header* header = outputEvents_.get(i);
            if (header->space_id != CLAP_CORE_EVENT_SPACE_ID) {
                continue;
            }
            if (header->type == CLAP_EVENT_PARAM_VALUE &&
                header->size >= sizeof(clap_event_param_value)) {
                storePluginValue(*reinterpret_cast<const clap_event_param_value*>(header));
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
            } else if ((header->type == CLAP_EVENT_NOTE_ON ||
                        header->type == CLAP_EVENT_NOTE_OFF) &&
                       header->size >= sizeof(clap_event_note)) {
                const auto& note = *reinterpret_cast<const clap_event_note*>(header);
                if (note.key >= 0) {
                    context.outputEvents->push(noteOut(note));
                }
            }
        }
    }

    void storePluginValue(const clap_event_param_value& event) {
        for (std::uint32_t i = 0; i < parameterCount_; ++i) {
            if (slots_[i].info.id == event.param_id) {
                slots_[i].value.store(event.value);
            }
        }
    }

    void runBlock(BlockContext& context) {
        if (!processing_) {
            if (!plugin_->start_processing(plugin_)) {
                clearOutputBuses(context);
                return;
            }
            processing_ = true;
        }
        copyInputs(context);
        inputEvents_.clear();
        outputEvents_.clear();
        queueParameterEvents();
        queueNotes(context);
        fillTransport(context.transport);

        clap_process call{};
        call.steady_time = context.transport.samplePosition;
        call.frames_count = context.frames;
        call.transport = &transport_;
        call.audio_inputs = inputs_.buffers.data();
        call.audio_outputs = outputs_.buffers.data();
        call.audio_inputs_count = static_cast<std::uint32_t>(inputs_.buffers.size());
        call.audio_outputs_count = static_cast<std::uint32_t>(outputs_.buffers.size());
        call.in_events = inputEvents_.input();
        call.out_events = outputEvents_.output();
        if (state_.flushRequest.exchange(0) != 0 && params_ != nullptr) {
            params_->flush(plugin_, call.in_events, call.out_events);
        }
        if (plugin_->process(plugin_, &call) == CLAP_PROCESS_ERROR) {
            clearOutputBuses(context);
            return;
        }
        copyOutputs(context);
        takeOutputEvents(context);
    }

    nlohmann::json configuration_;
    // Kept until every other member is gone: the plug-in's code lives in it.
    std::shared_ptr<ClapLibrary> library_;
    ClapHostState state_;
    clap_host host_{};
    const clap_plugin* plugin_ = nullptr;
    const clap_plugin_audio_ports* audioPorts_ = nullptr;
    const clap_plugin_params* params_ = nullptr;
    const clap_plugin_gui* gui_ = nullptr;
    bool clapNoteDialect_ = false;
    ClapSide inputs_;
    ClapSide outputs_;
    std::unique_ptr<ClapParameterSlot[]> slots_;
    std::uint32_t parameterCount_ = 0;
    std::uint32_t maxBlockFrames_ = 0;
    std::uint32_t latency_ = 0;
    double sampleRate_ = 48000.0;
    bool activated_ = false;
    bool processing_ = false;
    bool editorOpen_ = false;
    ClapEventBuffer inputEvents_;
    ClapEventBuffer outputEvents_;
    clap_event_transport transport_{};
};

} // namespace

std::unique_ptr<Module> createClapModule(const nlohmann::json& configuration) {
    return std::make_unique<ClapModule>(configuration);
}

} // namespace velkaphon::rack
