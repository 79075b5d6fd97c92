#pragma once

// Linux only: the simulated audio system's clock and scheduler, the state its stand-in client
// objects share with it: endpoints, streams, events, waiting threads and planned failures.

#include "audio/simulated_audio_system.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velkaphon::rack {

namespace SimulatedImpl {

using Ticks = std::int64_t; // 100-ns units
constexpr Ticks kForever = std::numeric_limits<Ticks>::max();
constexpr double kTicksPerSecond = 1e7;

struct EventRecord;
struct Endpoint;

// One client's stream: shared-mode endpoints serve many clients, each with its own.
struct Stream {
    Endpoint* endpoint = nullptr;
    bool initialized = false;
    bool exclusive = false;
    bool lowLatencyQueried = false;
    NegotiatedFormat format;
    std::uint32_t bufferFrames = 0;
    std::uint32_t periodFrames = 0;
    bool started = false;
    Ticks startTime = 0;
    EventRecord* event = nullptr;
    std::uint64_t eventsFired = 0;
    // Render.
    std::uint64_t queued = 0;
    std::uint64_t consumedAtUpdate = 0;
    std::uint32_t pendingFrames = 0;
    // Capture.
    std::uint64_t packetsRead = 0;
    bool overflowed = false;
    std::vector<std::uint8_t> bytes;
    std::vector<float> decoded;

    double rate(double clockScale) const { return format.sampleRate * clockScale; }
    double periodTicks(double clockScale) const {
        return periodFrames * kTicksPerSecond / rate(clockScale);
    }
    // Render: takes off the queue what the device has played since the last look.
    void drain(Ticks now, double clockScale) {
        const std::uint64_t consumed = framesAt(now, clockScale);
        const std::uint64_t played = consumed - consumedAtUpdate;
        consumedAtUpdate = consumed;
        queued = queued > played ? queued - played : 0;
    }
    std::uint64_t framesAt(Ticks now, double clockScale) const {
        return started ? static_cast<std::uint64_t>((now - startTime) * rate(clockScale) /
                                                    kTicksPerSecond)
                       : 0;
    }
};

struct Endpoint {
    SimulatedEndpoint setup;
    double clockScale = 1.0;
};

struct EventRecord {
    bool manualReset = false;
    bool signalled = false;
    std::uint64_t serial = 0;
    // The stream that signals this event, if any; the two point at each other.
    Stream* stream = nullptr;
};

// Under the state's mutex.
void unbindEvent(Stream& stream);

// Under the state's mutex.
void bindEvent(Stream& stream, EventRecord& event);

struct Waiter {
    // Virtual time wakes exactly the one waiter it chose.
    std::condition_variable wake;
    EventRecord* event = nullptr;
    Ticks deadline = kForever;
    bool woken = false;
    WaitResult result = WaitResult::TimedOut;
};

struct Plan {
    int nth = 0;
    Hresult result = kHresultOk;
    double delaySeconds = 0.0;
};

using CallKey = std::pair<std::string, SimulatedCall>;

} // namespace SimulatedImpl

// [any] Every member is used under mutex.
struct SimulatedAudioSystem::State {
    using Ticks = SimulatedImpl::Ticks;
    using Endpoint = SimulatedImpl::Endpoint;
    using EventRecord = SimulatedImpl::EventRecord;
    using Waiter = SimulatedImpl::Waiter;
    using Plan = SimulatedImpl::Plan;
    using CallKey = SimulatedImpl::CallKey;

    explicit State(bool realTime) : realTime(realTime), origin(std::chrono::steady_clock::now()) {}

    bool realTime;
    std::chrono::steady_clock::time_point origin;
    mutable std::mutex mutex;
    std::condition_variable wake;
    Ticks virtualNow = 0;
    int active = 1;
    std::list<std::unique_ptr<Endpoint>> endpoints;
    std::map<EventRecord*, std::unique_ptr<EventRecord>> events;
    std::uint64_t nextSerial = 1;
    std::list<Waiter*> waiters;
    std::map<CallKey, std::vector<Plan>> plans;
    std::map<CallKey, int> counts;

    Ticks now() const;

    // When a device will next signal its event, or kForever.
    Ticks nextDeviceSignal(const EventRecord& event) const;

    void updateDevices(Ticks time);

    bool consume(EventRecord& event);

    // Virtual time: wakes the one waiter that is ready first, moving the clock to it.
    void scheduleNext();

    WaitResult blockUntil(std::unique_lock<std::mutex>& lock, EventRecord* event, Ticks deadline);

    void sleepFor(std::unique_lock<std::mutex>& lock, double seconds);

    // Counts the call and answers what a test planned for it, after any planned delay.
    Hresult planned(std::unique_lock<std::mutex>& lock, const std::string& id, SimulatedCall call);

    Endpoint* find(const std::u16string& id);
};

namespace SimulatedImpl {

// [any] The services of an initialised stream; each keeps the stream alive.
std::unique_ptr<AudioClockApi> newSimulatedClock(std::shared_ptr<SimulatedAudioSystem::State> state,
                                                 std::shared_ptr<Stream> stream);
std::unique_ptr<AudioRenderApi>
newSimulatedRender(std::shared_ptr<SimulatedAudioSystem::State> state,
                   std::shared_ptr<Stream> stream);
std::unique_ptr<AudioCaptureApi>
newSimulatedCapture(std::shared_ptr<SimulatedAudioSystem::State> state,
                    std::shared_ptr<Stream> stream);

} // namespace SimulatedImpl

} // namespace velkaphon::rack
