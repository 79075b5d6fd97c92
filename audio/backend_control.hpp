#pragma once

#include "audio/audio_backend.hpp"
#include "audio/audio_system.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack {

struct EndpointStatus {
    std::string id;
    std::string name;
    // "preparing", "prepared", "running", "stopped" or "fault HRESULT 0x…".
    std::string state;
    bool isInput = false;
    std::uint32_t channelOffset = 0;
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint32_t validBits = 0;
    double driftPpm = 0.0;
    double ringMs = 0.0;
    std::uint64_t captureGlitches = 0;
    std::uint64_t ringXrunFrames = 0;
    std::uint32_t bufferFrames = 0;
    std::uint32_t periodFrames = 0;
    double ringTargetMs = 0.0;
    double streamLatencyMs = 0.0;
    double resamplerDelayMs = 0.0;
    double deviceQueueMs = 0.0;
    double renderTargetMs = 0.0;
    std::uint64_t underruns = 0;
    std::uint64_t startupUnderruns = 0;
    std::uint32_t maxPacketFrames = 0;
    bool resamplerLocked = false;
    bool lowLatencyActive = false;
    bool exclusiveActive = false;
    std::string fallbackReason;
    std::uint64_t startupRingFrames = 0;
    std::uint64_t startupGlitches = 0;
};

struct AudioStatus {
    bool running = false;
    std::uint32_t sampleRate = 0;
    std::uint32_t blockFrames = 0;
    std::uint32_t inputChannels = 0;
    std::uint32_t outputChannels = 0;
    std::uint32_t deviceMode = 0;
    std::uint32_t periodFrames = 0;
    std::uint64_t cycles = 0;
    std::uint64_t xruns = 0;
    double latencyMs = 0.0;
    double maxCallbackMs = 0.0;
    double maxCycleMs = 0.0;
    double queueMs = 0.0;
    double targetQueueMs = 0.0;
    std::uint64_t underruns = 0;
    std::uint64_t startupUnderruns = 0;
    std::uint64_t lateCycles = 0;
    std::uint64_t startupRingFrames = 0;
    std::string error;
    std::vector<EndpointStatus> endpoints;
};

// A stopped back end on the platform's audio system (48000 Hz, 128-frame block).
std::unique_ptr<AudioBackend> createAudioBackend();
// The same on a given system, which must outlive it.
std::unique_ptr<AudioBackend> createAudioBackend(AudioSystem& system);

// [control] Stops and joins every worker, then frees the back end.
void destroyAudioBackend(std::unique_ptr<AudioBackend>& backend);

// [control] Checks the configuration against a fresh catalogue, starts one worker per
// endpoint, waits until each is prepared (up to 10 s each, the mutex held throughout), lays out
// the aggregate and releases the workers at once. False with one sentence in error otherwise.
// `ended`, when given, runs with the same context at the end of the master's worker.
bool configureAndStart(AudioBackend& backend, const AudioBackendConfig& config,
                       AudioCallback callback, void* context, std::string& error,
                       AudioEndCallback ended = nullptr);

// [control] Stops and joins the workers; they stay listed for the status.
void stopAudioBackend(AudioBackend& backend);

// [control] With the mutex held. Never from a worker.
void stopBackendWorkers(AudioBackend& backend);

// [control] A consistent copy of everything the status shows.
AudioStatus snapshotStatus(AudioBackend& backend);

} // namespace velkaphon::rack
