#pragma once

// What the CLAP test plug-in counts while it is loaded, read by tests through its exported probe.
// Calls that must be seen across an unload (load, init, deinit, unload) are also appended, one
// line each, to the file named by kClapTestLogVariable when it is set.

#include <cstdint>

namespace velkaphon::rack::testing {

inline constexpr const char* kClapTestLogVariable = "VELKAPHON_CLAP_TEST_LOG";
inline constexpr const char* kClapTestProbeSymbol = "velkaphon_clap_test_probe";

struct ClapTestProbe {
    std::uint32_t initCalls = 0;
    std::uint32_t deinitCalls = 0;
    std::uint32_t pluginsCreated = 0;
    std::uint32_t pluginsDestroyed = 0;
    std::uint32_t activateCalls = 0;
    std::uint32_t deactivateCalls = 0;
    std::uint32_t startProcessingCalls = 0;
    std::uint32_t stopProcessingCalls = 0;
    std::uint32_t processCalls = 0;
    std::uint32_t mainThreadCalls = 0;
    std::uint32_t guiCreated = 0;
    std::uint32_t guiDestroyed = 0;
    // What the host's thread check answered in the plug-in's init and in its last process.
    bool initOnMainThread = false;
    bool processOnAudioThread = false;
    // The last process call.
    std::uint32_t lastFrames = 0;
    std::int64_t lastSteadyTime = 0;
    std::uint32_t lastTransportFlags = 0;
    double lastTempo = 0.0;
    std::uint32_t lastInputEventCount = 0;
    std::int64_t lastSongPosBeats = 0;
    std::int64_t lastSongPosSeconds = 0;
    float lastFirstInputSample = -1.0f; // input port 0, channel 0, frame 0
    // The first input events of the last process call.
    std::uint16_t lastEventTypes[8] = {};
    std::uint32_t lastEventTimes[8] = {};
    std::uint8_t lastMidiBytes[8][3] = {};
    std::int16_t lastNoteKeys[8] = {};
    double lastNoteVelocities[8] = {};
    std::uint32_t guiParentSets = 0;
    std::uint32_t guiShown = 0;
    std::uint32_t guiHidden = 0;
    double lastActivateSampleRate = 0.0;
    std::uint32_t lastActivateMaxFrames = 0;
    // The call log of the preset-loading plug-in: every parameter event and note it was handed,
    // in process or in flush, and the thread rules each call kept or broke.
    std::uint32_t parameterEventsSeen = 0;
    std::uint32_t notesSeen = 0;
    std::uint32_t flushCalls = 0;
    bool flushWhileProcessing = false;
    bool flushWhileActiveOffAudioThread = false;
    bool steadyTimeWentBack = false;
    std::uint32_t stopProcessingOffAudioThread = 0;
    // Run by every process call once it has taken the block's parameter events, when set.
    void (*duringProcess)() = nullptr;
    // Not negative: every process call then moves the first parameter to it by itself and
    // reports it.
    double ownValue = -1.0;
};

using ClapTestProbeFunction = ClapTestProbe* (*)();

} // namespace velkaphon::rack::testing
