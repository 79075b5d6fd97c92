#include "audio/backend_control.hpp"

#include "audio/endpoint_catalogue.hpp"
#include "audio/endpoint_worker.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kPrepareTimeoutMs = 10000;
constexpr std::size_t kMaximumEndpoints = 64;
// Frames the resampler reads past its target: the priming margin and the window ahead.
constexpr double kResamplerMargin = 64.0 + 32.0;

void closeEvent(AudioSystem& system, SystemEvent& event) {
    if (event != nullptr) {
        system.closeEvent(event);
        event = nullptr;
    }
}

void destroyWorkers(AudioBackend& backend) {
    for (auto& worker : backend.workers) {
        closeEvent(*backend.system, worker->preparedEvent);
        closeEvent(*backend.system, worker->audioEvent);
    }
    backend.workers.clear();
}

bool configurationIsValid(const AudioBackendConfig& config, AudioCallback callback) {
    return callback != nullptr && !config.outputs.empty() &&
           config.inputs.size() + config.outputs.size() <= kMaximumEndpoints &&
           config.sampleRate - 8000u <= 184000u && config.blockFrames - 16u <= 4080u;
}

bool endpointIdsAreValid(const AudioBackendConfig& config) {
    std::set<std::string> seen;
    for (const auto* selections : {&config.inputs, &config.outputs}) {
        for (const EndpointSelection& selection : *selections) {
            if (selection.endpointId.empty() || utf8ToWide(selection.endpointId).empty() ||
                !seen.insert(selection.endpointId).second) {
                return false;
            }
        }
    }
    return true;
}

const std::string& masterIdOf(const AudioBackendConfig& config) {
    return config.masterId.empty() ? config.outputs.front().endpointId : config.masterId;
}

void copyConfiguration(AudioBackend& backend, const AudioBackendConfig& config,
                       AudioCallback callback, AudioEndCallback ended, void* context) {
    backend.inputs = config.inputs;
    backend.outputs = config.outputs;
    backend.masterId = masterIdOf(config);
    backend.sampleRate = config.sampleRate;
    backend.blockFrames = config.blockFrames;
    backend.deviceMode = config.deviceMode;
    backend.lowLatencyShared = config.lowLatencyShared;
    backend.preferExclusive = config.preferExclusive;
    backend.callback = callback;
    backend.ended = ended;
    backend.context = context;
    backend.cycles = 0;
    backend.xruns = 0;
    backend.lateCycles = 0;
    backend.maxCallbackMs = 0.0;
    backend.maxCycleMs = 0.0;
    backend.currentRate = static_cast<double>(config.sampleRate);
    backend.inputChannels = 0;
    backend.outputChannels = 0;
    backend.periodFrames = 0;
    backend.faultText.clear();
}

void createWorkers(AudioBackend& backend) {
    AudioSystem& system = *backend.system;
    for (const auto* selections : {&backend.inputs, &backend.outputs}) {
        const bool capture = selections == &backend.inputs;
        for (const EndpointSelection& selection : *selections) {
            auto worker = std::make_unique<EndpointWorker>();
            worker->id = selection.endpointId;
            worker->requireExclusive = selection.requireExclusive;
            worker->isCapture = capture;
            worker->isMaster = !capture && selection.endpointId == backend.masterId;
            worker->preparedEvent = system.createEvent(true);
            worker->audioEvent = system.createEvent(false);
            EndpointWorker& added = *worker;
            backend.workers.push_back(std::move(worker));
            if (added.preparedEvent == nullptr || added.audioEvent == nullptr) {
                throw std::bad_alloc();
            }
        }
    }
    for (auto& worker : backend.workers) {
        EndpointWorker* endpoint = worker.get();
        worker->thread =
            system.startThread([&backend, endpoint] { runEndpointWorker(backend, *endpoint); });
    }
}

std::string displayLabel(const EndpointWorker& worker, const std::vector<AudioPort>& ports) {
    std::string name = worker.name;
    if (name.empty()) {
        const auto port = std::find_if(ports.begin(), ports.end(),
                                       [&](const AudioPort& p) { return p.id == worker.id; });
        name = port != ports.end() ? port->name : "";
    }
    if (name.empty()) {
        name = worker.id;
    }
    return std::string(worker.isCapture ? "audio input " : "audio output ") + "\"" + name +
           "\"";
}

std::string prepareFailure(AudioBackend& backend, const std::vector<AudioPort>& ports,
                           std::size_t index, bool timedOut) {
    std::vector<std::string> labels;
    std::vector<std::uint32_t> results;
    for (const auto& worker : backend.workers) {
        labels.push_back(displayLabel(*worker, ports));
        results.push_back(static_cast<std::uint32_t>(worker->hresult.load()));
    }
    return describePrepareFailure(labels, results, index, timedOut);
}

// Waits for every worker in order and lays out the aggregate's channels. False with faultText
// set and the workers stopped otherwise.
bool waitUntilPrepared(AudioBackend& backend, const std::vector<AudioPort>& ports) {
    for (std::size_t index = 0; index < backend.workers.size(); ++index) {
        EndpointWorker& worker = *backend.workers[index];
        const WaitResult waited =
            backend.system->waitForEvent(worker.preparedEvent, kPrepareTimeoutMs);
        if (waited != WaitResult::Signalled || worker.state.load() != kEndpointPrepared) {
            stopBackendWorkers(backend);
            backend.faultText =
                prepareFailure(backend, ports, index, waited == WaitResult::TimedOut);
            return false;
        }
        std::uint32_t& total =
            worker.isCapture ? backend.inputChannels : backend.outputChannels;
        worker.channelOffset = total;
        total += worker.format.channels;
        if (worker.isMaster) {
            backend.periodFrames = worker.periodFrames;
        }
        if (total > kMaximumAggregateChannels) {
            backend.faultText = "Negotiated aggregate exceeds prepared channel limit.";
            stopBackendWorkers(backend);
            return false;
        }
    }
    return true;
}

const EndpointWorker& masterOf(const AudioBackend& backend) {
    return **std::find_if(backend.workers.begin(), backend.workers.end(),
                          [](const auto& worker) { return worker->isMaster; });
}

// Points every non-master endpoint's resampler at its ring with the fill it is to hold.
void configureResamplers(AudioBackend& backend) {
    const double configuredRate = backend.sampleRate;
    const EndpointWorker& master = masterOf(backend);
    for (auto& worker : backend.workers) {
        if (worker->isMaster) {
            continue;
        }
        const double endpointRate = worker->format.sampleRate;
        const double ringRate = worker->isCapture ? endpointRate : configuredRate;
        const double scale = ringRate / configuredRate;
        const double masterTerm = std::max(1u, master.periodFrames) * scale;
        const double workerTerm = std::max(1u, worker->periodFrames) * ringRate / endpointRate;
        const double periodTerm =
            backend.deviceMode == 0 ? std::max(masterTerm, workerTerm) : masterTerm + workerTerm;
        const double target = backend.blockFrames * scale + periodTerm + 64.0;
        // One interface wakes both workers in the same device period, in either order. Locking
        // on the fill that separate clocks would need keeps the first reads from depending on
        // whether this period's packet is already in; the controller then settles on the target.
        const double lockReserve = masterTerm + workerTerm - periodTerm;
        // The ring was sized before the target was known: a slow aggregate with a fast
        // endpoint needs more than the set-up size to ever prime.
        const double producerBurst = std::max(worker->bufferFrames, backend.blockFrames) * scale;
        const auto needed = static_cast<std::uint64_t>(
            std::ceil(2.0 * (target + lockReserve + kResamplerMargin) + producerBurst));
        if (worker->ring.capacity < needed) {
            worker->ring.reset(static_cast<std::int32_t>(worker->format.channels), needed);
        }
        if (worker->isCapture) {
            worker->resampler.configure(&worker->ring, endpointRate, configuredRate, target,
                                        lockReserve, &worker->writeStamp);
        } else {
            worker->resampler.configure(&worker->ring, configuredRate, endpointRate, target,
                                        lockReserve, &worker->writeStamp);
        }
    }
}

std::string stateText(const EndpointWorker& worker) {
    switch (worker.state.load()) {
    case kEndpointPreparing:
        return "preparing";
    case kEndpointPrepared:
        return "prepared";
    case kEndpointRunning:
        return "running";
    case kEndpointStopped:
        return "stopped";
    default:
        return "fault " + formatHresult(static_cast<std::uint32_t>(worker.hresult.load()));
    }
}

EndpointStatus endpointStatus(const AudioBackend& backend, const EndpointWorker& worker) {
    EndpointStatus status;
    status.id = worker.id;
    status.name = worker.name;
    status.state = stateText(worker);
    status.isInput = worker.isCapture;
    status.channelOffset = worker.channelOffset;
    status.channels = worker.format.channels;
    status.sampleRate = worker.format.sampleRate;
    status.bitsPerSample = worker.format.bytesPerSample * 8;
    status.validBits = worker.format.validBits;
    status.driftPpm = worker.driftPpm.load();
    status.ringMs = worker.ringMs.load();
    status.captureGlitches = worker.captureGlitches.load();
    status.ringXrunFrames = worker.ringXrunFrames.load();
    status.bufferFrames = worker.bufferFrames;
    status.periodFrames = worker.periodFrames;
    if (!worker.isMaster) {
        const double ringRate = worker.isCapture ? worker.format.sampleRate
                                                      : static_cast<double>(backend.sampleRate);
        if (ringRate > 0.0) {
            status.ringTargetMs = worker.resampler.target * 1000.0 / ringRate;
            status.resamplerDelayMs = 32000.0 / ringRate;
        }
    }
    status.streamLatencyMs = worker.streamLatencyMs;
    status.deviceQueueMs = worker.deviceQueueMs.load();
    if (!worker.isCapture && worker.format.sampleRate > 0) {
        status.renderTargetMs = worker.renderTargetFrames * 1000.0 / worker.format.sampleRate;
    }
    status.underruns = worker.underruns.load();
    status.startupUnderruns = worker.startupUnderruns.load();
    status.maxPacketFrames = static_cast<std::uint32_t>(worker.maxPacketFrames.load());
    status.resamplerLocked = worker.resamplerLocked.load();
    status.lowLatencyActive = worker.lowLatencyActive;
    status.exclusiveActive = worker.exclusiveActive;
    status.fallbackReason = worker.fallbackReason;
    status.startupRingFrames = worker.startupRingFrames.load();
    status.startupGlitches = worker.startupGlitches.load();
    return status;
}

} // namespace

std::unique_ptr<AudioBackend> createAudioBackend() {
    return createAudioBackend(platformAudioSystem());
}

std::unique_ptr<AudioBackend> createAudioBackend(AudioSystem& system) {
    auto backend = std::make_unique<AudioBackend>();
    backend->system = &system;
    return backend;
}

void destroyAudioBackend(std::unique_ptr<AudioBackend>& backend) {
    if (!backend) {
        return;
    }
    {
        std::lock_guard lock(backend->mutex);
        stopBackendWorkers(*backend);
    }
    destroyWorkers(*backend);
    closeEvent(*backend->system, backend->activationEvent);
    backend.reset();
}

bool configureAndStart(AudioBackend& backend, const AudioBackendConfig& config,
                       AudioCallback callback, void* context, std::string& error,
                       AudioEndCallback ended) {
    std::lock_guard lock(backend.mutex);
    error.clear();
    if (backend.running.load()) {
        error = "Backend already running; stop before reconfiguration.";
        return false;
    }
    if (!configurationIsValid(config, callback)) {
        error = "Invalid callback/device/rate/block configuration.";
        return false;
    }
    if (!endpointIdsAreValid(config)) {
        error = "Empty, invalid or duplicated endpoint ID.";
        return false;
    }
    const std::string& masterId = masterIdOf(config);
    if (std::none_of(config.outputs.begin(), config.outputs.end(),
                     [&](const EndpointSelection& s) { return s.endpointId == masterId; })) {
        error = "Master must be an explicitly selected render endpoint.";
        return false;
    }
    std::vector<AudioPort> ports;
    enumerateDevices(backend, ports, error);
    if (!error.empty() || !checkEndpointSelection(config, ports, error) ||
        !checkDeviceMode(config, ports, error) || !checkMasterRate(config, ports, error)) {
        return false;
    }

    stopBackendWorkers(backend);
    destroyWorkers(backend);
    backend.stop = false;
    copyConfiguration(backend, config, callback, ended, context);

    closeEvent(*backend.system, backend.activationEvent);
    backend.activationEvent = backend.system->createEvent(true);
    if (backend.activationEvent == nullptr) {
        // Kept as the fault so that the status tells why audio did not start.
        backend.faultText = "Cannot create backend activation event.";
        error = backend.faultText;
        return false;
    }

    try {
        createWorkers(backend);
    } catch (...) {
        stopBackendWorkers(backend);
        backend.faultText = "Cannot allocate endpoint resources or workers.";
        error = backend.faultText;
        return false;
    }

    if (!waitUntilPrepared(backend, ports)) {
        error = backend.faultText;
        return false;
    }

    try {
        layOutPlanarRows(backend);
        configureResamplers(backend);
    } catch (...) {
        backend.faultText = "Cannot allocate aggregate planar buffers.";
        error = backend.faultText;
        stopBackendWorkers(backend);
        return false;
    }

    backend.running = true;
    backend.system->setEvent(backend.activationEvent);
    return true;
}

void stopBackendWorkers(AudioBackend& backend) {
    backend.stop = true;
    backend.running = false;
    if (backend.activationEvent != nullptr) {
        backend.system->setEvent(backend.activationEvent);
    }
    for (auto& worker : backend.workers) {
        if (worker->audioEvent != nullptr) {
            backend.system->setEvent(worker->audioEvent);
        }
    }
    for (auto& worker : backend.workers) {
        if (worker->thread.joinable()) {
            backend.system->joinThread(worker->thread);
        }
    }
}

void stopAudioBackend(AudioBackend& backend) {
    std::lock_guard lock(backend.mutex);
    stopBackendWorkers(backend);
}

AudioStatus snapshotStatus(AudioBackend& backend) {
    std::lock_guard lock(backend.mutex);
    AudioStatus status;
    const bool configured = !backend.workers.empty();
    status.running = backend.running.load();
    status.sampleRate = configured ? backend.sampleRate : 0;
    status.blockFrames = configured ? backend.blockFrames : 0;
    status.inputChannels = backend.inputChannels;
    status.outputChannels = backend.outputChannels;
    status.deviceMode = backend.deviceMode;
    status.periodFrames = backend.periodFrames;
    status.cycles = backend.cycles.load();
    status.xruns = backend.xruns.load();
    status.maxCallbackMs = backend.maxCallbackMs.load();
    status.maxCycleMs = backend.maxCycleMs.load();
    status.lateCycles = backend.lateCycles.load();
    status.error = backend.faultText;
    for (const auto& worker : backend.workers) {
        // The aggregate's figures come from the endpoints' own, read once.
        const EndpointStatus& endpoint =
            status.endpoints.emplace_back(endpointStatus(backend, *worker));
        status.underruns += endpoint.underruns;
        status.startupUnderruns += endpoint.startupUnderruns;
        status.startupRingFrames += endpoint.startupRingFrames;
        if (worker->isMaster) {
            status.latencyMs = endpoint.streamLatencyMs;
            status.queueMs = endpoint.deviceQueueMs;
            status.targetQueueMs = endpoint.renderTargetMs;
        }
        if (endpoint.state.rfind("fault ", 0) == 0 && status.error.empty()) {
            status.error = endpoint.state + " (" + worker->id + ")";
        }
    }
    return status;
}

} // namespace velkaphon::rack
