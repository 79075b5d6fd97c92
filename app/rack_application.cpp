#include "app/rack_application.hpp"

#include "app/module_makers.hpp"
#include "app/module_state.hpp"
#include "app/plugin_notices.hpp"
#include "app/rack_messages.hpp"
#include "audio/audio_device_host.hpp"
#include "audio/backend_control.hpp"
#include "engine/graph_compiler.hpp"
#include "engine/graph_limits.hpp"
#include "engine/media_module.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

GraphDefinition defaultPatch() {
    GraphDefinition patch;
    patch.nodes = {
        {"input", "input", {{"channels", 2}, {"offset", 0}}},
        {"faders",
         "fader-bank",
         {{"strips", 1}, {"channels", json::array({2})}, {"gainsDb", json::array({0})}}},
        {"output", "output", {{"channels", 2}, {"offset", 0}}},
    };
    patch.cables = {
        {"input", "out", "faders", "in0"},
        {"faders", "out0", "output", "in"},
    };
    return patch;
}

json defaultLayout() {
    return {{"input", {{"x", 45}, {"y", 60}}},
            {"faders", {{"x", 380}, {"y", 60}}},
            {"output", {{"x", 735}, {"y", 60}}}};
}

// [control] Before next is published: each of its media modules carries on from the one it
// replaces at the same node.
void continueMedia(const ModuleMap& next, const ModuleMap& current) {
    for (const auto& [id, module] : next) {
        const auto previous = current.find(id);
        if (previous != current.end()) {
            continueMediaModule(*module, *previous->second);
        }
    }
}

} // namespace

RackApplication::RackApplication(bool pluginMode)
    : RackApplication(pluginMode, platformAudioSystem()) {}

RackApplication::RackApplication(bool pluginMode, AudioSystem& audioSystem,
                                 ModuleFactory moduleOverrides, PluginRestarts::Clock restartClock)
    : moduleOverrides_(std::move(moduleOverrides)), pluginMode_(pluginMode), graph_(defaultPatch()),
      layout_(defaultLayout()), backend_(createAudioBackend(audioSystem)),
      restarts_(std::move(restartClock)) {
    compile(graph_, spec_);
    openControlWindow(controlWindow_, *this);
}

RackApplication::~RackApplication() {
    closeControlWindow(controlWindow_);
    stop();
    closeHostedEditors();
    destroyAudioBackend(backend_);
}

std::string RackApplication::compile(const GraphDefinition& definition,
                                     const ProcessSpec& processSpec, Rebuild cause) {
    ModuleMap modules;
    const ModuleFactory factory = [this, &modules](const NodeDefinition& node) {
        std::unique_ptr<Module> module = moduleOverrides_ ? moduleOverrides_(node) : nullptr;
        if (!module) {
            module = makeRackModule(node);
        }
        if (!module) {
            throw std::runtime_error("Unknown module type: " + node.type);
        }
        modules[node.id] = module.get();
        return module;
    };
    std::unique_ptr<PreparedGraph> prepared = compileGraph(definition, processSpec, factory);

    json ports = json::object();
    for (const NodeDefinition& node : definition.nodes) {
        ports[node.id] = describePorts(node, *modules.at(node.id));
    }

    closeHostedEditors();
    const std::uint32_t newLatency = graphLatency(*prepared);
    continueMedia(modules, modulesById_);
    engine_.publishGraph(std::move(prepared));
    modulesById_ = std::move(modules);
    restarts_.forgetHeld();
    if (cause == Rebuild::ByUser) {
        restarts_.forgetRestarts();
    }
    ports_ = std::move(ports);
    if (&definition != &graph_) {
        graph_ = definition;
    }
    spec_ = processSpec;

    // The stored patch names the file each player and recorder really uses.
    for (NodeDefinition& node : graph_.nodes) {
        if (!isMediaKind(moduleKindOf(node.type))) {
            continue;
        }
        const json status = modulesById_.at(node.id)->status();
        if (status.is_object() && status.contains("path")) {
            node.configuration["path"] = status["path"];
        }
    }

    if (latency_.exchange(newLatency) != newLatency && onLatencyChanged) {
        onLatencyChanged();
    }

    std::string refused = refusedStateNotice(graph_, modulesById_);
    if (!refused.empty()) {
        lastError_ = refused;
    }
    return refused;
}

std::string RackApplication::rebuild(GraphDefinition definition, const ProcessSpec& processSpec,
                                     Rebuild cause) {
    return compile(withLiveHostedState(std::move(definition), graph_, modulesById_), processSpec,
                   cause);
}

void RackApplication::restartAskingPlugins() {
    if (recorderBusy()) {
        return;
    }
    const std::vector<std::string> due = restarts_.due(modulesById_);
    if (due.empty()) {
        return;
    }
    std::string refused;
    try {
        refused = rebuild(graph_, spec_, Rebuild::ForRestart);
    } catch (const std::exception& error) {
        // Held until the patch is rebuilt, so a rebuild that cannot succeed is not tried again.
        restarts_.failed(due, modulesById_, error.what());
        lastError_ = error.what();
        return;
    }
    restarts_.restarted(due);
    lastError_ = restartedNotice(due) + (refused.empty() ? "" : " " + refused);
}

void RackApplication::configure(const ProcessSpec& processSpec) {
    if (!(std::isfinite(processSpec.sampleRate) && processSpec.sampleRate >= kMinSampleRate &&
          processSpec.sampleRate <= kMaxSampleRate) ||
        processSpec.maxBlockSize < 1 || processSpec.maxBlockSize > kMaxBlockFrames) {
        throw std::runtime_error(kRateOrBlockMessage);
    }
    // The host's rate is the real one, so it stands even when the compile fails.
    spec_ = processSpec;
    rebuild(graph_, spec_);
}

void RackApplication::processDeviceBlock(void* context, const float* const* inputs,
                                         std::uint32_t inputCount, float* const* outputs,
                                         std::uint32_t outputCount, std::uint32_t frames,
                                         double /*sampleRate*/) {
    auto& rack = *static_cast<RackApplication*>(context);
    TransportInfo transport;
    transport.samplePosition =
        static_cast<std::int64_t>(rack.frameCounter_.fetch_add(frames, std::memory_order_relaxed));
    transport.tempo = 120.0;
    transport.playing = rack.playing_.load(std::memory_order_relaxed);
    transport.recording = rack.recording_.load(std::memory_order_relaxed);
    if (rack.pluginMode_) {
        rack.running_.store(true, std::memory_order_relaxed);
    }
    // The engine copies its host input and never writes through these rows.
    const BusSpan input{const_cast<float* const*>(inputs), inputCount};
    const BusSpan output{outputs, outputCount};
    rack.engine_.process(frames, input, output, transport, nullptr, 0);
    rack.blockCounter_.fetch_add(1, std::memory_order_relaxed);
}

void RackApplication::finishDeviceBlocks(void* context) {
    static_cast<RackApplication*>(context)->engine_.finishProcessing();
}

void RackApplication::processHostBlock(std::uint32_t frames, const BusSpan& inputs,
                                       const BusSpan& outputs, const TransportInfo& transport,
                                       const RackEvent* events, std::uint64_t eventCount) {
    if (pluginMode_) {
        running_.store(true, std::memory_order_relaxed);
    }
    hostBlockThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    engine_.process(frames, inputs, outputs, transport, events, eventCount);
    blockCounter_.fetch_add(1, std::memory_order_relaxed);
}

void RackApplication::stop() {
    if (!pluginMode_) {
        AudioDeviceHost::stop(*backend_);
    }
    stopRequested_ = false;
    running_ = false;
    playing_ = false;
    recording_ = false;
    engine_.dropQueuedControls();
    engine_.forEachModule([](Module& module) { stopMediaModule(module); });
    for (NodeDefinition& node : graph_.nodes) {
        if (moduleKindOf(node.type) == ModuleKind::Recorder) {
            node.configuration["armed"] = false;
        }
    }
}

void RackApplication::requestStop() noexcept {
    running_ = false;
    playing_ = false;
    recording_ = false;
    stopRequested_ = true;
    if (hostBlockThread_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        engine_.finishProcessing();
    }
}

void RackApplication::onControlTick() {
    if (stopRequested_.exchange(false)) {
        stop();
    }
    engine_.drainRetired();
    restartAskingPlugins();
    for (const auto& [id, module] : modulesById_) {
        if (auto* hosted = dynamic_cast<HostedModule*>(module)) {
            hosted->idle();
        }
    }
}

void RackApplication::runControlTimer() noexcept {
    try {
        onControlTick();
    } catch (const std::exception& error) {
        lastError_ = error.what();
    } catch (...) {
        lastError_ = "A plugin control callback failed.";
    }
}

void RackApplication::closeHostedEditors() {
    for (const auto& [id, module] : modulesById_) {
        if (auto* hosted = dynamic_cast<HostedModule*>(module)) {
            hosted->closeEditor();
        }
    }
}

bool RackApplication::openEditor(const std::string& nodeId, NativeWindowHandle parent,
                                 std::string& error) {
    const auto found = modulesById_.find(nodeId);
    if (found == modulesById_.end()) {
        error = "Select an existing plugin.";
        return false;
    }
    auto* hosted = dynamic_cast<HostedModule*>(found->second);
    if (hosted == nullptr) {
        error = "Built-in controls are on the module panel.";
        return false;
    }
    return hosted->openEditor(parent, error);
}

} // namespace velkaphon::rack
