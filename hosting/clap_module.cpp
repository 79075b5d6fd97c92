#include "hosting/clap_module.hpp"

#include "abi/clap/audio_ports.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/note_ports.hpp"
#include "abi/clap/state.hpp"
#include "engine/utf8_text.hpp"
#include "hosting/block_audio.hpp"
#include "hosting/clap_block.hpp"
#include "hosting/clap_host.hpp"
#include "hosting/clap_library.hpp"
#include "hosting/clap_parameters.hpp"
#include "hosting/clap_streams.hpp"
#include "hosting/clap_utf8.hpp"
#include "hosting/editor_window.hpp"
#include "hosting/plugin_configuration.hpp"
#include "hosting/plugin_failure.hpp"
#include "hosting/plugin_fault.hpp"
#include "hosting/plugin_limits.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {

namespace {

constexpr const char* kUnknownFailure = "The CLAP plugin failed.";
constexpr const char* kNoEditor = "Plugin has no embedded Windows editor; use parameters.";
constexpr const char* kAttachFailed = "CLAP editor attachment failed.";

std::string fieldText(const char* field, std::size_t capacity) {
    return replaceInvalidUtf8(std::string_view(field, strnlen(field, capacity)));
}

class ClapModule final : public HostedModule {
public:
    explicit ClapModule(const nlohmann::json& configuration) : configuration_(configuration) {
        const std::string path = configuration_.at("path").get<std::string>();
        library_ = acquireClapLibrary(path);
        host_ = makeClapHost(state_);
        const std::string pluginId = choosePluginId();
        createInstance(pluginId, true);
        if (stateRefused_) {
            // Whatever it read of the state goes with it: a fresh instance starts from defaults.
            destroyInstance();
            createInstance(pluginId, false);
        }
    }

    ~ClapModule() override {
        closeEditor();
        if (plugin_ == nullptr) {
            return;
        }
        // Only when no audio thread ended the run, as a host that never stops processing leaves it.
        if (processing_.load()) {
            state_.audioThreadId.store(currentThreadId());
            callIgnoringFailure([this] { plugin_->stop_processing(plugin_); });
            state_.audioThreadId.store(0);
        }
        if (activated_) {
            callIgnoringFailure([this] { plugin_->deactivate(plugin_); });
        }
        callIgnoringFailure([this] { plugin_->destroy(plugin_); });
    }

    std::vector<PortSpec> inputs() const override { return block_.inputs.ports; }
    std::vector<PortSpec> outputs() const override { return block_.outputs.ports; }

    void prepare(const ProcessSpec& spec) override {
        runTranslatingFailure([&] { activate(spec); }, kUnknownFailure);
        for (const ConfiguredParameter& parameter : configuredParameters(configuration_)) {
            if (parameter.id) {
                setControl(*parameter.id, parameter.value);
            }
        }
        state_.restartRequest.store(false);
    }

    // [audio]
    void process(BlockContext& context) noexcept override {
        if (state_.restartRequest.load(std::memory_order_relaxed) ||
            context.frames > maxBlockFrames_) {
            clearOutputBuses(context);
            return;
        }
        const std::uint32_t previous = state_.audioThreadId.exchange(currentThreadId());
        if (!runRecordingFault(fault_, [&] { runBlock(context); })) {
            clearOutputBuses(context);
            state_.restartRequest.store(true);
        }
        state_.audioThreadId.store(previous);
    }

    // [audio] stop_processing belongs here, in the last block of a graph or of a run of
    // audio, not in teardown on the control thread.
    void finishProcessing() noexcept override {
        if (!processing_.load(std::memory_order_relaxed)) {
            return;
        }
        const std::uint32_t previous = state_.audioThreadId.exchange(currentThreadId());
        callIgnoringFailure([this] { plugin_->stop_processing(plugin_); });
        processing_.store(false);
        state_.audioThreadId.store(previous);
    }

    std::uint32_t latencySamples() const override { return latency_; }
    float level() const override { return 0.0f; }

    // [control, audio]
    void setControl(std::uint32_t index, double value) noexcept override {
        if (!std::isfinite(value)) {
            return;
        }
        const std::optional<std::size_t> place = clapParameterPlace(block_, index);
        if (place && !block_.slots[*place].readOnly()) {
            const clap_param_info& info = block_.slots[*place].info;
            block_.values.edit(*place, std::clamp(value, info.min_value, info.max_value));
        }
    }

    nlohmann::json status() const override {
        nlohmann::json result = configuration_;
        nlohmann::json values = nlohmann::json::array();
        for (std::uint32_t i = 0; i < block_.parameterCount; ++i) {
            const ClapParameterSlot& slot = block_.slots[i];
            values.push_back({{"id", slot.info.id}, {"value", block_.values.current(i)}});
        }
        result["parameters"] = std::move(values);
        // A refused state stays what the configuration holds, so that a save keeps it.
        if (!stateRefused_) {
            runTranslatingFailure([&] { saveState(result); }, kUnknownFailure);
        }
        return result;
    }

    std::vector<HostedParameter> parameters() const override {
        std::vector<HostedParameter> list;
        for (std::uint32_t i = 0; i < block_.parameterCount; ++i) {
            const ClapParameterSlot& slot = block_.slots[i];
            if (slot.hidden()) {
                continue;
            }
            list.push_back({slot.info.id, fieldText(slot.info.name, sizeof(slot.info.name)), "",
                            block_.values.current(i), slot.readOnly()});
        }
        return list;
    }

    // [control]
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

    // [control]
    void closeEditor() override {
        if (editorOpen_ && gui_ != nullptr) {
            callIgnoringFailure([this] { gui_->hide(plugin_); });
            callIgnoringFailure([this] { gui_->destroy(plugin_); });
            editorOpen_ = false;
        }
    }

    // [control]
    void idle() override {
        if (state_.callbackRequest.exchange(false)) {
            callIgnoringFailure([this] { plugin_->on_main_thread(plugin_); });
        }
        if (state_.valuesRequest.exchange(false)) {
            callIgnoringFailure([this] { readValues(); });
        }
        if (!activated_ && state_.flushRequest.exchange(false)) {
            callIgnoringFailure([this] { flushInactive(); });
        }
    }

    bool restartRequested() const override { return state_.restartRequest.load(); }
    std::optional<std::string> processFault() const override { return fault_.text(); }
    bool stateRefused() const override { return stateRefused_; }
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
        // The id is written into the patch, and the next build must find the plug-in by it.
        requireUtf8PluginId(first->id);
        id = first->id;
        configuration_["pluginId"] = id;
        return id;
    }

    // [control] A refused state leaves stateRefused_ set; every other failure throws.
    void createInstance(const std::string& pluginId, bool loadsState) {
        plugin_ = library_->factory->create_plugin(library_->factory, &host_, pluginId.c_str());
        if (plugin_ == nullptr) {
            fail("CLAP creation failed.");
        }
        block_.plugin = plugin_;
        runUndoingOnFailure([&] { setUpInstance(loadsState); }, [this] { destroyInstance(); },
                            kUnknownFailure);
    }

    void destroyInstance() {
        callIgnoringFailure([this] { plugin_->destroy(plugin_); });
        plugin_ = nullptr;
    }

    void setUpInstance(bool loadsState) {
        if (!plugin_->init(plugin_)) {
            fail("CLAP init failed.");
        }
        readPorts();
        params_ = extension<clap_plugin_params>(CLAP_EXT_PARAMS);
        gui_ = extension<clap_plugin_gui>(CLAP_EXT_GUI);
        readParameters();
        if (loadsState && configuration_.contains("state")) {
            stateRefused_ = !loadState();
            if (!stateRefused_) {
                readValues();
            }
        }
    }

    std::vector<PortSpec> readSide(bool isInput) {
        std::vector<PortSpec> ports;
        const std::uint32_t count = audioPorts_->count(plugin_, isInput);
        if (count > kMaxPluginBuses) {
            fail("CLAP bus count exceeds 64.");
        }
        std::size_t channels = 0;
        for (std::uint32_t index = 0; index < count; ++index) {
            clap_audio_port_info info{};
            if (!audioPorts_->get(plugin_, index, isInput, &info) || info.channel_count < 1 ||
                info.channel_count > kMaxPluginBusChannels) {
                fail("Invalid CLAP port width.");
            }
            ports.push_back({std::to_string(index), fieldText(info.name, sizeof(info.name)),
                             info.channel_count});
            channels += info.channel_count;
        }
        if (channels > kMaxPluginSideChannels) {
            fail("CLAP total channels exceed 512.");
        }
        return ports;
    }

    // A plug-in without the extension, as a note effect, has no audio ports.
    void readPorts() {
        audioPorts_ = extension<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
        block_.inputs.ports.clear();
        block_.outputs.ports.clear();
        if (audioPorts_ != nullptr) {
            block_.inputs.ports = readSide(true);
            block_.outputs.ports = readSide(false);
        }
    }

    void readParameters() {
        const std::uint32_t count = params_ != nullptr ? params_->count(plugin_) : 0;
        if (count > kMaxPluginParameters) {
            fail("CLAP parameter count exceeds 4096.");
        }
        block_.slots = std::make_unique<ClapParameterSlot[]>(count);
        block_.values.reset(count);
        std::vector<std::uint32_t> ids;
        for (std::uint32_t index = 0; index < count; ++index) {
            ClapParameterSlot& slot = block_.slots[index];
            if (!params_->get_info(plugin_, index, &slot.info)) {
                fail("Invalid CLAP parameter.");
            }
            block_.values.hold(index, slot.info.default_value, block_.values.clock());
            ids.push_back(slot.info.id);
        }
        block_.parameterIndex.build(ids);
        block_.parameterCount = count;
        readValues();
    }

    // [control] What the plug-in holds now, except where the page moved a
    // parameter since.
    void readValues() {
        for (std::uint32_t i = 0; i < block_.parameterCount; ++i) {
            const std::uint64_t asked = block_.values.clock();
            double value = 0.0;
            if (!block_.values.editPending(i) &&
                params_->get_value(plugin_, block_.slots[i].info.id, &value) &&
                std::isfinite(value)) {
                block_.values.hold(i, value, asked);
            }
        }
    }

    // [control] While inactive: the page's parameter changes and nothing else.
    void flushInactive() {
        if (params_ == nullptr) {
            return;
        }
        block_.inputEvents.clear();
        block_.outputEvents.clear();
        queueParameterEvents(block_);
        params_->flush(plugin_, block_.inputEvents.input(), block_.outputEvents.output());
        storeOutputValues(block_);
    }

    // False when the plug-in refuses the state; a state it cannot be given throws.
    bool loadState() {
        const auto* state = extension<clap_plugin_state>(CLAP_EXT_STATE);
        const std::vector<std::uint8_t> bytes =
            pluginStateBytes(configuration_.at("state"), "Unsupported CLAP state.");
        if (state == nullptr) {
            fail("Unsupported CLAP state.");
        }
        ClapInputStream stream(bytes);
        return state->load(plugin_, stream.stream());
    }

    void activate(const ProcessSpec& spec) {
        block_.sampleRate = spec.sampleRate;
        maxBlockFrames_ = spec.maxBlockSize;
        readPorts();
        block_.inputs.allocate(maxBlockFrames_);
        block_.outputs.allocate(maxBlockFrames_);
        if (!plugin_->activate(plugin_, block_.sampleRate, 1, maxBlockFrames_)) {
            fail("CLAP activation failed.");
        }
        activated_ = true;
        block_.steadyTime = 0;
        block_.clapNoteDialect = prefersClapNotes();
        const auto* latency = extension<clap_plugin_latency>(CLAP_EXT_LATENCY);
        const std::uint32_t samples = latency != nullptr ? latency->get(plugin_) : 0;
        if (samples > kMaxPluginLatency) {
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

    // [audio]
    void runBlock(BlockContext& context) {
        if (!processing_.load(std::memory_order_relaxed)) {
            if (!plugin_->start_processing(plugin_)) {
                clearOutputBuses(context);
                return;
            }
            processing_.store(true);
        }
        if (!processClapBlock(block_, context)) {
            fault_.record("process returned CLAP_PROCESS_ERROR");
            state_.restartRequest.store(true);
        }
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
    ClapBlock block_;
    PluginFault fault_;
    std::uint32_t maxBlockFrames_ = 0;
    std::uint32_t latency_ = 0;
    // Read by idle on the UI thread.
    std::atomic<bool> activated_{false};
    // Written on the audio thread, read by the teardown.
    std::atomic<bool> processing_{false};
    bool editorOpen_ = false;
    bool stateRefused_ = false;
};

} // namespace

std::unique_ptr<Module> createClapModule(const nlohmann::json& configuration) {
    return std::make_unique<ClapModule>(configuration);
}

} // namespace velkaphon::rack
