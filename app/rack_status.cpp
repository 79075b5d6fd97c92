#include "app/module_state.hpp"
#include "app/rack_application.hpp"
#include "app/rack_messages.hpp"
#include "audio/audio_device_host.hpp"
#include "engine/module_kind.hpp"

namespace velkaphon::rack {

namespace {

using nlohmann::json;

json portEntries(const std::vector<AudioPort>& ports) {
    json entries = json::array();
    for (const AudioPort& port : ports) {
        entries.push_back({{"id", port.id},
                           {"name", port.name},
                           {"channels", port.channels},
                           {"rate", port.sampleRate}});
    }
    return entries;
}

} // namespace

json RackApplication::status() {
    json peaks = json::array();
    for (std::uint32_t index = 0; index < graph_.nodes.size(); ++index) {
        peaks.push_back(engine_.nodePeak(index));
    }

    json media = json::object();
    json parameters = json::object();
    for (const NodeDefinition& node : graph_.nodes) {
        const auto found = modulesById_.find(node.id);
        if (found == modulesById_.end()) {
            continue;
        }
        if (isMediaKind(moduleKindOf(node.type))) {
            media[node.id] = mediaStatus(*found->second);
        } else if (moduleKindOf(node.type) == ModuleKind::FaderBank) {
            // Each strip's own level, so the page meters the strips apart.
            const json strips = found->second->status();
            media[node.id] = {{"peaks", strips.is_object() ? strips.value("peaks", json::array())
                                                           : json::array()}};
        }
        if (const auto* hosted = dynamic_cast<const HostedModule*>(found->second)) {
            parameters[node.id] = parameterValues(*hosted);
            if (const std::optional<std::string> fault = hosted->processFault()) {
                lastError_ = "Plugin " + node.id + " stopped working: " + *fault +
                             ". Rebuild the patch to restart it.";
            } else if (hosted->restartRequested()) {
                // The control tick restarts a plug-in that asks, but for one it left stopped, and
                // not while a take is being recorded. Asked only here: the media statuses it reads
                // are not free, and a status poll comes often.
                if (std::optional<std::string> held = restarts_.heldReason(*found->second)) {
                    lastError_ = std::move(*held);
                } else if (recorderBusy()) {
                    lastError_ = kRestartRequested;
                }
            }
        }
    }

    // Once every take is written out with a destination, the request is over by itself.
    bool anyRecording = false;
    bool allDone = true;
    bool anyRecorder = false;
    for (const NodeDefinition& node : graph_.nodes) {
        if (moduleKindOf(node.type) != ModuleKind::Recorder) {
            continue;
        }
        anyRecorder = true;
        const json entry = media.value(node.id, json::object());
        // A take that stopped on a write error says why, as long as its recorder holds it.
        const auto failure = entry.find("error");
        if (failure != entry.end() && failure->is_string() &&
            !failure->get_ref<const std::string&>().empty()) {
            lastError_ = failure->get<std::string>();
        }
        anyRecording = anyRecording || mediaFlag(entry, "recording");
        allDone = allDone && mediaFlag(entry, "finalized") && mediaFlag(entry, "hasDestination");
    }
    if (anyRecorder && allDone && !anyRecording) {
        recording_ = false;
    }

    json snapshot = {
        {"running", running_.load()},          {"playing", playing_.load()},
        {"recording", anyRecording},           {"recordingRequested", recording_.load()},
        {"pluginMode", pluginMode_},           {"latencyFrames", latency_.load()},
        {"sampleRate", spec_.sampleRate},      {"callbacks", blockCounter_.load()},
        {"peaks", std::move(peaks)},           {"media", std::move(media)},
        {"parameters", std::move(parameters)}, {"error", lastError_}};
    if (!pluginMode_) {
        snapshot["device"] = deviceStatus();
    }
    return snapshot;
}

json RackApplication::deviceStatus() {
    const AudioStatus device = AudioDeviceHost::status(*backend_);
    return {{"running", device.running},
            {"blockFrames", device.blockFrames},
            {"periodFrames", device.periodFrames},
            {"latencyMs", device.latencyMs > 0.0 ? json(device.latencyMs) : json()},
            {"xruns", device.xruns},
            {"maxCallbackMs", device.maxCallbackMs},
            {"queueMs", device.queueMs},
            {"error", device.error}};
}

json RackApplication::stateResult() {
    json project = {{"product", kProductTitle},
                    {"version", kProductVersion},
                    {"graph", writeGraphDefinition(graph_)},
                    {"layout", layout_}};
    json ports = ports_;
    return {{"project", std::move(project)}, {"ports", std::move(ports)}, {"status", status()}};
}

json RackApplication::listDevices() {
    std::vector<AudioDevice> devices;
    std::string error;
    AudioDeviceHost::listDevices(backend_, devices, error);
    json list = json::array();
    for (const AudioDevice& device : devices) {
        list.push_back({{"id", device.key},
                        {"name", device.name},
                        {"inputs", portEntries(device.inputs)},
                        {"outputs", portEntries(device.outputs)}});
    }
    if (!error.empty()) {
        lastError_ = error;
    }
    return list;
}

} // namespace velkaphon::rack
