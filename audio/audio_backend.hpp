#pragma once

#include "audio/audio_system.hpp"
#include "audio/drift_resampler.hpp"
#include "audio/ring_write_stamp.hpp"
#include "audio/spsc_ring.hpp"
#include "audio/wave_format.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack {

// [audio] (the master endpoint's worker) Called once per chunk of at most the configured
// block that the master writes to its device, with planar rows of room for kMaximumRowFrames;
// output rows arrive cleared to 0.0. Must neither block nor throw.
using AudioCallback = void (*)(void* context, const float* const* inputRows,
                               std::uint32_t inputChannels, float* const* outputRows,
                               std::uint32_t outputChannels, std::uint32_t frames,
                               double sampleRate);

// [audio] (the master endpoint's worker) Once, after its last callback of a run, as the
// worker ends: the stream is stopping or has failed. Must neither block nor throw.
using AudioEndCallback = void (*)(void* context);

// Frames of one planar row: every device period and block fits.
constexpr std::uint32_t kMaximumRowFrames = 4096;
// Channels of the aggregate in each direction.
constexpr std::uint32_t kMaximumAggregateChannels = 256;

struct EndpointSelection {
    std::string endpointId;
    bool requireExclusive = false;
};

struct AudioBackendConfig {
    std::vector<EndpointSelection> inputs;
    std::vector<EndpointSelection> outputs;
    std::string masterId;
    std::uint32_t sampleRate = 0;
    std::uint32_t blockFrames = 0;
    // 0 single interface, 1 several interfaces.
    std::uint32_t deviceMode = 0;
    bool lowLatencyShared = true;
    bool preferExclusive = false;
};

enum EndpointState : std::int32_t {
    kEndpointPreparing = 0,
    kEndpointPrepared = 1,
    kEndpointRunning = 2,
    kEndpointStopped = 3,
    kEndpointFault = 4,
};

// One endpoint of a running aggregate. Fields other threads read while it runs are atomics;
// the rest are written before the workers are released or after they are joined.
struct alignas(64) EndpointWorker {
    std::string id;
    bool requireExclusive = false;
    bool isCapture = false;
    bool isMaster = false;
    std::string name;
    NegotiatedFormat format;
    std::uint32_t channelOffset = 0;
    std::uint32_t bufferFrames = 0;
    std::uint32_t periodFrames = 0;
    double streamLatencyMs = 0.0;
    bool lowLatencyActive = false;
    bool exclusiveActive = false;
    std::string fallbackReason;
    // Manual reset: signalled at "prepared" and on every fault.
    SystemEvent preparedEvent = nullptr;
    // Auto reset: the device's period event.
    SystemEvent audioEvent = nullptr;
    SpscRing ring;
    // The time of each write to ring, from its producer, for the resampler's controller.
    RingWriteStamp writeStamp;
    DriftResampler resampler;
    std::vector<float> interleavedScratch;
    std::array<float, 64> frameScratch{};
    std::atomic<std::int32_t> state{kEndpointPreparing};
    std::atomic<std::int32_t> hresult{0};
    std::atomic<double> measuredRate{0.0};
    std::atomic<double> driftPpm{0.0};
    std::atomic<double> ringMs{0.0};
    std::atomic<std::uint64_t> captureGlitches{0};
    std::atomic<std::uint64_t> ringXrunFrames{0};
    std::atomic<std::uint64_t> startupRingFrames{0};
    std::atomic<std::uint64_t> startupGlitches{0};
    std::atomic<bool> resamplerLocked{false};
    std::atomic<std::int32_t> maxPacketFrames{0};
    std::uint32_t renderTargetFrames = 0;
    std::atomic<double> deviceQueueMs{0.0};
    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> startupUnderruns{0};
    std::thread thread;
};

// The back end's state: the workers of the last configuration, the planar rows exchanged with
// the callback and the counters the status reports. The mutex serialises configure, stop,
// status and destroy; the workers never take it.
struct AudioBackend {
    std::mutex mutex;
    // Where events, threads and endpoints come from; outlives the back end.
    AudioSystem* system = nullptr;
    std::vector<std::unique_ptr<EndpointWorker>> workers;
    // Manual reset: releases the prepared workers, and every worker on a stop or master fault.
    SystemEvent activationEvent = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};
    std::atomic<std::uint64_t> cycles{0};
    std::atomic<std::uint64_t> xruns{0};
    std::atomic<std::uint64_t> lateCycles{0};
    std::atomic<double> maxCallbackMs{0.0};
    std::atomic<double> maxCycleMs{0.0};
    std::atomic<double> currentRate{48000.0};
    std::vector<EndpointSelection> inputs;
    std::vector<EndpointSelection> outputs;
    std::string masterId;
    std::uint32_t sampleRate = 48000;
    std::uint32_t blockFrames = 128;
    std::uint32_t deviceMode = 0;
    bool lowLatencyShared = true;
    bool preferExclusive = false;
    AudioCallback callback = nullptr;
    AudioEndCallback ended = nullptr;
    void* context = nullptr;
    std::uint32_t inputChannels = 0;
    std::uint32_t outputChannels = 0;
    std::string faultText;
    std::uint32_t periodFrames = 0;
    std::vector<float> inputRows;
    std::vector<float> outputRows;
    std::vector<float*> inputRowPointers;
    std::vector<float*> outputRowPointers;
};

// Lays out rows of kMaximumRowFrames floats for the current channel totals and points the
// tables at them. Set-up only.
void layOutPlanarRows(AudioBackend& backend);

} // namespace velkaphon::rack
