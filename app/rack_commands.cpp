#include "app/module_state.hpp"
#include "app/rack_application.hpp"
#include "app/rack_messages.hpp"
#include "audio/audio_device_host.hpp"
#include "engine/graph_limits.hpp"
#include "engine/json_number.hpp"
#include "engine/module_kind.hpp"
#include "hosting/plugin_files.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxLayoutBytes = 65'536;
// Device blocks may come at the largest size the rack takes.
constexpr std::uint32_t kDeviceBlockFrames = kMaxBlockFrames;
constexpr const char* kInvalidParameter = "Invalid module parameter.";
constexpr const char* kStripOutOfRange = "Strip parameter out of range.";

// An unsigned 32-bit number, or the caller's refusal for any other number.
std::uint32_t readUnsigned(const json& value, const char* refusal) {
    const auto number = jsonInteger(value, 0, std::numeric_limits<std::uint32_t>::max());
    if (!number) {
        throw std::runtime_error(refusal);
    }
    return static_cast<std::uint32_t>(*number);
}

std::uint32_t unsignedOr(const json& object, const char* key, std::uint32_t fallback,
                         const char* refusal) {
    const auto found = object.find(key);
    return found == object.end() ? fallback : readUnsigned(*found, refusal);
}

NodeDefinition* findNode(GraphDefinition& graph, const std::string& id) {
    const auto found = std::find_if(graph.nodes.begin(), graph.nodes.end(),
                                    [&](const NodeDefinition& node) { return node.id == id; });
    return found == graph.nodes.end() ? nullptr : &*found;
}

// Writes a fader change into the stored patch: gains in dB, mutes as booleans.
void storeFaderValue(json& configuration, std::uint32_t index, double value) {
    const bool mute = index % 2 == 1;
    const std::uint32_t strip = index / 2;
    json& values = configuration[mute ? "mutes" : "gainsDb"];
    if (!values.is_array()) {
        values = json::array();
    }
    while (values.size() <= strip) {
        values.push_back(mute ? json(false) : json(0));
    }
    values[strip] = mute ? json(value > 0.5) : json(value);
}

// A stored parameter entry names its plug-in parameter by "id"; one without it stands for the
// largest id, one with anything but a number for none.
bool namesParameter(const json& entry, std::uint32_t index) {
    constexpr std::uint32_t kAbsentId = std::numeric_limits<std::uint32_t>::max();
    const auto found = entry.find("id");
    if (found == entry.end()) {
        return entry.is_object() && index == kAbsentId;
    }
    // Checked before anything is read, as the change is already on its way.
    return found->is_number() &&
           jsonInteger(*found, 0, kAbsentId) == static_cast<std::int64_t>(index);
}

void storeHostedValue(json& configuration, std::uint32_t index, double value) {
    json& parameters = configuration["parameters"];
    if (!parameters.is_array()) {
        parameters = json::array();
    }
    for (json& entry : parameters) {
        if (namesParameter(entry, index)) {
            entry["value"] = value;
            return;
        }
    }
    parameters.push_back({{"id", index}, {"value", value}});
}

} // namespace

json RackApplication::handleCommand(const json& request) {
    const std::string method = request.at("method").get<std::string>();
    const json params = request.contains("params") ? request["params"] : json::object();

    if (method == "state") {
        return stateResult();
    }
    if (method == "status") {
        return status();
    }
    if (method == "devices") {
        return listDevices();
    }
    if (method == "inspect") {
        return describePluginFile(params.at("path").get<std::string>());
    }
    if (method == "start") {
        start(params);
        return status();
    }
    if (method == "stop") {
        stop();
        return status();
    }
    if (method == "play") {
        return play(params);
    }
    if (method == "record") {
        return record(params);
    }
    if (method == "parameter") {
        return parameter(params);
    }
    if (method == "layout") {
        return replaceLayout(params);
    }
    if (method == "graph") {
        return replaceGraph(params);
    }
    if (method == "restore") {
        restoreProject(params);
        return stateResult();
    }
    throw std::runtime_error("Unknown rack command: " + method);
}

void RackApplication::start(const json& params) {
    if (pluginMode_) {
        throw std::runtime_error("Your DAW controls audio. Rack uses the DAW ports.");
    }
    // A back end that faulted has stopped by itself: only one that still runs is left alone.
    if (running_ && backend_->running.load()) {
        return;
    }

    AudioDeviceSettings settings;
    settings.backendKind = 0;
    settings.inputId = params.value("inputId", std::string());
    settings.outputId = params.at("outputId").get<std::string>();
    settings.blockFrames = unsignedOr(params, "blockFrames", 128, kRateOrBlockMessage);
    settings.requireExclusive = false;
    settings.exclusive = params.value("exclusive", false);
    settings.sampleRate = unsignedOr(params, "sampleRate", 0, kRateOrBlockMessage);

    std::vector<AudioDevice> devices;
    AudioDeviceHost::listDevices(backend_, devices, lastError_);
    if (!AudioDeviceHost::checkSettings(settings, devices, lastError_)) {
        throw std::runtime_error(lastError_);
    }

    double rate = 48000.0;
    for (const AudioDevice& device : devices) {
        for (const AudioPort& port : device.outputs) {
            if (port.id == settings.outputId) {
                rate = settings.sampleRate != 0 ? settings.sampleRate : port.sampleRate;
            }
        }
    }
    if (rate != spec_.sampleRate || spec_.maxBlockSize != kDeviceBlockFrames) {
        if (!(std::isfinite(rate) && rate >= kMinSampleRate && rate <= kMaxSampleRate)) {
            throw std::runtime_error(kRateOrBlockMessage);
        }
        // The new settings are kept only once a graph prepared for them runs.
        rebuild(graph_, ProcessSpec{rate, kDeviceBlockFrames});
    }

    frameCounter_ = 0;
    playing_ = false;
    recording_ = false;
    engine_.dropQueuedControls();
    if (!AudioDeviceHost::start(backend_, settings, &RackApplication::processDeviceBlock, this,
                                lastError_, &RackApplication::finishDeviceBlocks)) {
        throw std::runtime_error(lastError_);
    }
    running_ = true;
}

bool RackApplication::audioRuns() const {
    return running_.load() && (pluginMode_ || backend_->running.load());
}

bool RackApplication::sendControl(const std::string& nodeId, ModuleKind kind, std::uint32_t index,
                                  double value) {
    Module& module = *modulesById_.at(nodeId);
    // Every module accepts changes on this thread too; with no block to take the queue, this is
    // the only way they arrive.
    if (!audioRuns()) {
        module.setControl(index, value);
        return true;
    }
    if (!engine_.enqueueControl(nodeId, index, value)) {
        return false;
    }
    if (!isMediaKind(kind)) {
        module.setControl(index, value);
    }
    return true;
}

json RackApplication::play(const json& params) {
    const bool nowPlaying = params.value("playing", true);
    playing_.exchange(nowPlaying);
    for (const NodeDefinition& node : graph_.nodes) {
        if (moduleKindOf(node.type) == ModuleKind::Player) {
            sendControl(node.id, ModuleKind::Player, 0, nowPlaying ? 1.0 : 0.0);
        }
    }
    return status();
}

json RackApplication::record(const json& params) {
    const bool requested = params.value("recording", true);
    if (requested) {
        GraphDefinition armed = graph_;
        bool hasRecorder = false;
        for (NodeDefinition& node : armed.nodes) {
            if (moduleKindOf(node.type) == ModuleKind::Recorder) {
                node.configuration["armed"] = true;
                node.configuration["followTransport"] = true;
                hasRecorder = true;
            }
        }
        if (!hasRecorder) {
            throw std::runtime_error("Add a Recorder and choose an output file first.");
        }
        rebuild(std::move(armed), spec_);
    }
    recording_ = requested;
    for (const NodeDefinition& node : graph_.nodes) {
        if (moduleKindOf(node.type) == ModuleKind::Recorder) {
            sendControl(node.id, ModuleKind::Recorder, 0, requested ? 1.0 : 0.0);
        }
    }
    return status();
}

json RackApplication::parameter(const json& params) {
    const std::string nodeId = params.at("node").get<std::string>();
    const std::uint32_t index = readUnsigned(params.at("parameter"), kInvalidParameter);
    const auto number = jsonReal(params.at("value"), std::numeric_limits<double>::lowest(),
                                 std::numeric_limits<double>::max());
    const auto module = modulesById_.find(nodeId);
    if (!number || module == modulesById_.end()) {
        throw std::runtime_error(kInvalidParameter);
    }
    double value = *number;

    NodeDefinition* node = findNode(graph_, nodeId);
    const ModuleKind kind = node != nullptr ? moduleKindOf(node->type) : ModuleKind::Unknown;
    if (kind == ModuleKind::FaderBank) {
        const std::uint32_t strips = unsignedOr(node->configuration, "strips", 1, kStripOutOfRange);
        if (index >= 2ull * strips) {
            throw std::runtime_error(kStripOutOfRange);
        }
        value = index % 2 == 1 ? (value > 0.5 ? 1.0 : 0.0) : std::clamp(value, -80.0, 12.0);
    }

    if (!sendControl(nodeId, kind, index, value)) {
        throw std::runtime_error("Control queue is full; try again.");
    }

    if (kind == ModuleKind::FaderBank) {
        storeFaderValue(node->configuration, index, value);
    } else if (isHostedKind(kind)) {
        storeHostedValue(node->configuration, index, value);
    }
    return json::object();
}

json RackApplication::replaceLayout(const json& params) {
    if (!params.is_object() || params.dump().size() > kMaxLayoutBytes) {
        throw std::runtime_error("Invalid rack layout.");
    }
    layout_ = params;
    return json::object();
}

json RackApplication::replaceGraph(const json& params) {
    if (recorderBusy()) {
        throw std::runtime_error("Stop recording before changing cables or modules.");
    }
    // A successful edit leaves only what it found refused.
    lastError_ = rebuild(readGraphDefinition(params), spec_);
    return stateResult();
}

bool RackApplication::recorderBusy() const {
    return anyRecorderBusy(graph_, modulesById_);
}

} // namespace velkaphon::rack
