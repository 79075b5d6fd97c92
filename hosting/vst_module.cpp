#include "hosting/vst_module.hpp"

#include "abi/utf16_text.hpp"
#include "hosting/block_audio.hpp"
#include "hosting/editor_window.hpp"
#include "hosting/plugin_configuration.hpp"
#include "hosting/plugin_failure.hpp"
#include "hosting/vst3_block.hpp"
#include "hosting/vst3_class_id.hpp"
#include "hosting/vst3_instance.hpp"
#include "hosting/vst3_memory_stream.hpp"

#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace velkaphon::rack {

using namespace vst3;
using VstHostImpl::Host;

namespace {

// kReloadComponent and kIoChanged: the buffers may no longer fit the plug-in. The fault bit is
// kReloadComponent's. A latency change leaves the audio sound until the patch is rebuilt.
constexpr std::uint32_t kSilencingRestarts = kReloadComponent | kIoChanged;
constexpr const char* kUnknownFailure = "The VST3 plugin failed.";

std::u16string modulePath(const nlohmann::json& configuration) {
    const std::string text = configuration.at("path").get<std::string>();
    std::optional<std::u16string> path;
    if (text.find('\0') == std::string::npos) {
        path = utf16FromUtf8(text);
    }
    if (!path) {
        throw std::runtime_error("Invalid module path.");
    }
    return *path;
}

bool holdsComponentState(const nlohmann::json& configuration) {
    return configuration.is_object() && configuration.contains("componentState");
}

// False when the component refuses its saved state (by its result or by throwing): it then runs
// from its defaults, and the controller, which must match it, is given neither saved state.
bool restoreState(Host& host, const nlohmann::json& configuration) {
    if (!holdsComponentState(configuration)) {
        return true;
    }
    MemoryStream stream(
        pluginStateBytes(configuration.at("componentState"), "Plugin state too large."));
    // Read before the plug-in answers, so that a bad file is refused whatever the plug-in says.
    const bool hasOwn = host.separateController && configuration.contains("controllerState");
    MemoryStream own(
        hasOwn ? pluginStateBytes(configuration.at("controllerState"), "Plugin state too large.")
               : std::vector<std::uint8_t>());
    tresult restored = kResultFalse;
    callIgnoringFailure([&] { restored = host.component->setState(&stream); });
    if (restored != kResultOk) {
        return false;
    }
    stream.seek(0, IBStream::kIBSeekSet, nullptr);
    if (host.controller) {
        host.controller->setComponentState(&stream);
    }
    if (hasOwn) {
        // The component state is the one that must hold: a controller refusing its own goes on.
        callIgnoringFailure([&] { host.controller->setState(&own); });
    }
    return true;
}

// A program change loads a whole program over the other values, and a read-only value is the
// plug-in's to set: neither is replayed from a saved patch.
bool replaysSavedValue(const Host& host, std::uint32_t id) {
    const std::optional<std::size_t> index = vstParameterIndex(host, id);
    return index && (host.parameterFlags[*index] &
                     (ParameterInfo::kIsProgramChange | ParameterInfo::kIsReadOnly)) == 0;
}

bool prefers64Bit(const nlohmann::json& configuration) {
    if (!configuration.is_object()) {
        return false;
    }
    const auto precision = configuration.find("precision");
    return precision != configuration.end() && precision->is_string() &&
           precision->get_ref<const std::string&>() == "float64";
}

// Both sides must be 1 and more, and fit the window calls.
std::optional<ViewRect> usableSize(const ViewRect& size) {
    const int64 width = int64{size.right} - size.left;
    const int64 height = int64{size.bottom} - size.top;
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int32>::max() ||
        height > std::numeric_limits<int32>::max()) {
        return std::nullopt;
    }
    return size;
}

class VstModule final : public HostedModule {
public:
    explicit VstModule(const nlohmann::json& configuration)
        : host_(new Host()), configuration_(configuration) {
        if (configuration.is_object() && configuration.contains("classId")) {
            host_->requestedClass = parseVstClassId(configuration.at("classId").get<std::string>());
        }
        std::shared_ptr<LoadedModule> library = acquireVstLibrary(modulePath(configuration));
        runUndoingOnFailure(
            [&] {
                createVstInstance(*host_, library);
                stateRefused_ = !restoreState(*host_, configuration_);
                if (stateRefused_) {
                    // A refusal may leave part of the state applied: a fresh instance starts
                    // from its defaults.
                    shutdownVstInstance(*host_);
                    createVstInstance(*host_, library);
                }
                stateLoaded_ = holdsComponentState(configuration_) && !stateRefused_;
                readVstBuses(*host_);
            },
            [this] { shutdownVstInstance(*host_); }, kUnknownFailure);
    }

    std::vector<PortSpec> inputs() const override { return host_->inputBuses; }
    std::vector<PortSpec> outputs() const override { return host_->outputBuses; }

    void prepare(const ProcessSpec& spec) override {
        host_->prefer64Bit = prefers64Bit(configuration_);
        runTranslatingFailure(
            [&] { activateVstProcessing(*host_, spec.sampleRate, spec.maxBlockSize); },
            kUnknownFailure);
        // After a state load the values read from the controller at activation are the
        // plug-in's own; the saved ones would only undo the state.
        for (const ConfiguredParameter& parameter : configuredParameters(configuration_)) {
            if (!stateLoaded_ && parameter.id && replaysSavedValue(*host_, *parameter.id)) {
                queueParameterEdit(*host_, *parameter.id, parameter.value, false);
            }
        }
    }

    // [audio]
    void process(BlockContext& context) noexcept override {
        if (context.frames > host_->maxBlockSize ||
            (host_->restartFlags.load(std::memory_order_relaxed) & kSilencingRestarts) != 0) {
            clearOutputBuses(context);
            return;
        }
        if (!runRecordingFault(host_->fault, [&] {
                processVstBlock(*host_, inputEvents_, outputEvents_, context);
            })) {
            clearOutputBuses(context);
            host_->restartFlags.fetch_or(VstHostImpl::kFaultFlag);
        }
    }

    std::uint32_t latencySamples() const override { return host_->latency; }
    float level() const override { return 0.0f; }

    // [control, audio]
    void setControl(std::uint32_t index, double value) noexcept override {
        queueParameterEdit(*host_, index, value, false);
    }

    nlohmann::json status() const override {
        nlohmann::json result = configuration_;
        runTranslatingFailure([&] { addCapturedState(result); }, kUnknownFailure);
        nlohmann::json values = nlohmann::json::array();
        for (std::size_t i = 0; i < host_->parameters.size(); ++i) {
            values.push_back(
                {{"id", host_->parameters[i].id}, {"value", host_->parameterValues.current(i)}});
        }
        result["parameters"] = std::move(values);
        return result;
    }

    // Hidden parameters are the plug-in's helpers (MIDI controller maps and the like), not
    // for the page; their values are still saved by status.
    std::vector<HostedParameter> parameters() const override {
        std::vector<HostedParameter> list;
        for (std::size_t i = 0; i < host_->parameters.size(); ++i) {
            if ((host_->parameterFlags[i] & ParameterInfo::kIsHidden) == 0) {
                list.push_back(host_->parameters[i]);
                list.back().value = host_->parameterValues.current(i);
            }
        }
        return list;
    }

    // [control]
    bool openEditor(NativeWindowHandle parent, std::string& error) override {
        if (!host_->controller) {
            error = "Plugin has no controller/editor.";
            return false;
        }
        closeVstEditor(*host_);
        host_->editorThread = std::this_thread::get_id();
        try {
            return attachEditor(parent, error);
        } catch (...) {
            return refuseEditor(error, "Could not attach plugin editor.");
        }
    }

    // [control]
    void closeEditor() override { closeVstEditor(*host_); }

    // [control] Rack edits and the processor's own values reach the controller; values the
    // controller changed by itself are read back after them.
    void idle() override {
        if (!host_->controller) {
            return;
        }
        for (std::size_t i = 0; i < host_->parameterSlots.size(); ++i) {
            if (const auto value = takeControllerValue(*host_, i)) {
                callIgnoringFailure([&] {
                    host_->controller->setParamNormalized(host_->parameters[i].id, *value);
                });
            }
        }
        if (host_->parameterValuesChanged.exchange(false)) {
            callIgnoringFailure([&] { readVstParameterValues(*host_); });
        }
    }

    // A latency request counts only when the latency moved: rebuilding the patch for the same
    // latency would restart the plug-in for nothing.
    bool restartRequested() const override {
        const std::uint32_t flags = host_->restartFlags.load();
        if ((flags & kSilencingRestarts) != 0) {
            return true;
        }
        if ((flags & kLatencyChanged) == 0) {
            return false;
        }
        std::uint32_t latency = host_->latency;
        callIgnoringFailure([&] { latency = host_->processor->getLatencySamples(); });
        return latency != host_->latency;
    }

    std::optional<std::string> processFault() const override { return host_->fault.text(); }

    bool stateRefused() const override { return stateRefused_; }

    bool hasEventInput() const override { return hasEventBus(kInput); }
    bool hasEventOutput() const override { return hasEventBus(kOutput); }

private:
    // A refused state stays in the configuration as it was saved, so that saving loses nothing.
    void addCapturedState(nlohmann::json& result) const {
        if (stateRefused_) {
            return;
        }
        result.erase("controllerState");
        MemoryStream stream;
        const tresult captured = host_->component->getState(&stream);
        if (captured == kResultOk && !stream.failed()) {
            result["componentState"] = stream.bytes();
            result["stateCaptureAvailable"] = true;
            addControllerState(result);
        } else if ((captured == kNotImplemented || captured == kResultFalse) && !stream.failed()) {
            result.erase("componentState");
            result["stateCaptureAvailable"] = false;
        } else {
            throw std::runtime_error("Cannot capture plugin state.");
        }
    }

    // A separate controller's own state, kept only when it was written whole.
    void addControllerState(nlohmann::json& result) const {
        if (!host_->separateController) {
            return;
        }
        MemoryStream stream;
        tresult saved = kResultFalse;
        callIgnoringFailure([&] { saved = host_->controller->getState(&stream); });
        if (saved == kResultOk && !stream.failed()) {
            result["controllerState"] = stream.bytes();
        }
    }

    bool hasEventBus(BusDirection direction) const {
        int32 count = 0;
        callIgnoringFailure([&] { count = host_->component->getBusCount(kEvent, direction); });
        return count > 0;
    }

    bool refuseEditor(std::string& error, const char* sentence) {
        closeVstEditor(*host_);
        error = sentence;
        return false;
    }

    bool attachEditor(NativeWindowHandle parent, std::string& error) {
        IPlugView* created = host_->controller->createView("editor");
        if (created == nullptr) {
            error = "Plugin has no native editor; use parameters.";
            return false;
        }
        host_->view = InterfacePtr<IPlugView>::adopt(created);
        IPlugView& view = *host_->view.get();
        ViewRect reported{};
        std::optional<ViewRect> size;
        if (view.isPlatformTypeSupported(kPlatformTypeHWND) == kResultOk &&
            view.getSize(&reported) == kResultOk) {
            size = usableSize(reported);
        }
        if (!size) {
            return refuseEditor(error, "Invalid native plugin editor.");
        }
        const int32 width = size->right - size->left;
        const int32 height = size->bottom - size->top;
        host_->childWindow = createEditorChildWindow(parent, width, height);
        if (host_->childWindow == nullptr ||
            view.setFrame(static_cast<IPlugFrame*>(host_.get())) != kResultOk ||
            view.attached(host_->childWindow, kPlatformTypeHWND) != kResultOk) {
            return refuseEditor(error, "Could not attach plugin editor.");
        }
        host_->attached = true;
        view.onSize(&*size);
        resizeVstEditorWindow(parent, width, height);
        return true;
    }

    VstHostPtr host_;
    nlohmann::json configuration_;
    bool stateRefused_ = false;
    // A saved component state was loaded, so the plug-in's own values hold.
    bool stateLoaded_ = false;
    VstEvents inputEvents_;
    VstEvents outputEvents_;
};

} // namespace

std::unique_ptr<Module> createVstModule(const nlohmann::json& configuration) {
    return std::make_unique<VstModule>(configuration);
}

} // namespace velkaphon::rack
