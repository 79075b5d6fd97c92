#pragma once

// Linux only: the simulated endpoints behind the audio system seam.

#include "audio/audio_system.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack {

// The calls whose n-th use a test may make fail or take time.
enum class SimulatedCall {
    EnterApartment,
    CreateEnumerator,
    EnumerateActive,
    GetDevice,
    CreateEvent,
    EnterProAudioTask,
    GetId,
    GetDataFlow,
    ReadProperty,
    Activate,
    GetMixFormat,
    IsFormatSupported,
    GetDevicePeriod,
    Initialize,
    GetBufferSize,
    GetStreamLatency,
    GetCurrentPadding,
    SetEventHandle,
    GetService,
    Start,
    QueryLowLatency,
    GetSharedModeEnginePeriod,
    InitializeSharedAudioStream,
    GetBuffer,
    ReleaseBuffer,
    GetNextPacketSize,
    GetFrequency,
    GetPosition,
};

// A layout that an endpoint accepts in exclusive mode, at any rate.
struct ExclusiveLayout {
    bool isFloat = false;
    std::uint16_t containerBits = 0;
    std::uint16_t validBits = 0;
};

struct SimulatedEndpoint {
    std::string id;
    std::string name;
    DataFlow flow = DataFlow::Render;
    PropertyValue container;
    WaveFormatExtensible mixFormat;
    // The device's own clock, against the performance counter; 0 runs at the nominal rate.
    double trueRate = 0.0;
    std::uint32_t periodFrames = 480;
    std::uint32_t minimumPeriodFrames = 144;
    std::uint32_t sharedBufferFrames = 1440;
    std::int64_t streamLatency = 100000; // 100-ns units
    bool exclusiveInUse = false;
    std::vector<ExclusiveLayout> exclusiveLayouts;
    // Exclusive buffers must be a multiple of this many frames; 0 accepts any.
    std::uint32_t exclusiveAlignmentFrames = 0;
    // IAudioClient3 engine periods; a fundamental of 0 leaves the interface out.
    std::uint32_t lowLatencyFundamental = 0;
    std::uint32_t lowLatencyMinimum = 0;
    std::uint32_t lowLatencyMaximum = 0;
    // Capture: the value of each frame's channel, by absolute device frame.
    std::function<float(std::uint64_t frame, std::uint32_t channel)> captureSignal;
    // Capture: extra buffer flags for a packet, by packet number from 0.
    std::function<std::uint32_t(std::uint64_t packet)> packetFlags;
    // Render: every released buffer, decoded to interleaved float.
    std::function<void(const float* frames, std::uint32_t count, std::uint32_t channels)>
        renderObserver;
};

// A float or PCM mix format as Windows reports one: WAVE_FORMAT_EXTENSIBLE.
WaveFormatExtensible simulatedMixFormat(std::uint16_t channels, std::uint32_t rate,
                                        bool isFloat = true, std::uint16_t containerBits = 32,
                                        std::uint16_t validBits = 32);

// Endpoints that live in simulated time, driven deterministically: the clock stands still while
// any thread that waits through this system is busy, and jumps to the next event when all of
// them wait. The thread that creates the system counts as one of them; it lets time pass with
// advance(). With realTime set, waits take real time instead. As in shared mode, every client
// activated on an endpoint has a stream of its own, so listing leaves running streams alone.
class SimulatedAudioSystem : public AudioSystem {
public:
    explicit SimulatedAudioSystem(bool realTime = false);
    ~SimulatedAudioSystem() override;

    void addEndpoint(SimulatedEndpoint setup);
    void removeEndpoint(const std::string& id);
    // The nth call (from 1) of that method on that endpoint (empty id: the system's own
    // calls) answers result; with a delay it first takes that long.
    void failCall(const std::string& id, SimulatedCall call, int nth, Hresult result,
                  double delaySeconds = 0.0);
    int callCount(const std::string& id, SimulatedCall call) const;

    // The calling thread waits this long in simulated time.
    void advance(double seconds);
    double seconds() const;

    Hresult enterApartment() override;
    void leaveApartment() override;
    Hresult createEnumerator(std::unique_ptr<AudioEnumeratorApi>& enumerator) override;
    SystemEvent createEvent(bool manualReset) override;
    void setEvent(SystemEvent event) override;
    void closeEvent(SystemEvent event) override;
    WaitResult waitForEvent(SystemEvent event, std::uint32_t timeoutMs) override;
    void sleepOneMillisecond() override;
    Hresult enterProAudioTask(ProAudioTask& task) override;
    void leaveProAudioTask(ProAudioTask task) override;
    std::thread startThread(std::function<void()> body) override;
    void joinThread(std::thread& thread) override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace velkaphon::rack
