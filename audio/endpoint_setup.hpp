#pragma once

// Inside the endpoint worker: the device objects one endpoint's thread holds and their set-up,
// from the apartment to "prepared". The streaming that follows is in endpoint_worker.cpp.

#include "audio/audio_backend.hpp"
#include "audio/audio_system.hpp"
#include "audio/hresult.hpp"

#include <cstdint>
#include <memory>

namespace velkaphon::rack {

// [worker] Stops the stream, leaves MMCSS and settles the state on every way out of the
// thread. The master may fault this endpoint from its own thread at any time, so "stopped" never
// replaces a fault.
class EndpointExitGuard {
public:
    EndpointExitGuard(AudioSystem& system, EndpointWorker& worker)
        : system_(system), worker_(worker) {}
    ~EndpointExitGuard() {
        if (started && client != nullptr) {
            client->stop();
        }
        if (task != nullptr) {
            system_.leaveProAudioTask(task);
        }
        std::int32_t state = worker_.state.load();
        while (state != kEndpointFault &&
               !worker_.state.compare_exchange_weak(state, kEndpointStopped)) {
        }
    }
    EndpointExitGuard(const EndpointExitGuard&) = delete;
    EndpointExitGuard& operator=(const EndpointExitGuard&) = delete;

    bool started = false;
    AudioClientApi* client = nullptr;
    ProAudioTask task = nullptr;

private:
    AudioSystem& system_;
    EndpointWorker& worker_;
};

// [worker] All of it. One endpoint's device objects and their set-up. Every step that
// fails calls fail() and returns false; release() lets the objects go.
class EndpointSetUp {
public:
    EndpointSetUp(AudioBackend& backend, EndpointWorker& worker)
        : backend_(backend), worker_(worker), system_(*backend.system) {}
    // Leaves the apartment when setUp() entered it.
    ~EndpointSetUp();
    EndpointSetUp(const EndpointSetUp&) = delete;
    EndpointSetUp& operator=(const EndpointSetUp&) = delete;

protected:
    // Opens the device, negotiates the format and the mode (exclusive, low-latency shared or
    // shared), sizes the ring and the scratch and reports "prepared". guard_ must be set.
    bool setUp();

    bool fail(Hresult result);

    bool check(Hresult result) { return hresultFailed(result) ? fail(result) : true; }

    bool stopRequested() const { return backend_.stop.load(); }

    bool faulted() const { return worker_.state.load() == kEndpointFault; }

    double rate() const { return worker_.format.sampleRate; }

    bool isSecondaryRender() const { return !worker_.isCapture && !worker_.isMaster; }

    // After the guard has stopped the stream.
    void release();

    AudioBackend& backend_;
    EndpointWorker& worker_;
    AudioSystem& system_;
    EndpointExitGuard* guard_ = nullptr;
    Hresult apartment_ = kHresultFail;
    Hresult lastError_ = kHresultOk;
    std::unique_ptr<AudioEnumeratorApi> enumerator_;
    std::unique_ptr<AudioDeviceApi> device_;
    std::unique_ptr<AudioClientApi> client_;
    std::unique_ptr<AudioCaptureApi> capture_;
    std::unique_ptr<AudioRenderApi> render_;
    std::unique_ptr<AudioClockApi> clock_;

private:
    // A fresh IAudioClient, told to the guard; its HRESULT stays in lastError_.
    bool activate();
    // The exclusive attempt; kHresultOk when the stream is initialised.
    Hresult openExclusive(const NegotiatedFormat& mixFormat);
    bool fallBackToShared(Hresult attempt, const NegotiatedFormat& mixFormat);
    bool openShared();
    // The IAudioClient3 period for the configured block, or 0 when that route is closed.
    std::uint32_t lowLatencyPeriod();
    bool finishSetUp();
};

} // namespace velkaphon::rack
