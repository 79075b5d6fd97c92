#include "audio/endpoint_worker.hpp"

#include "audio/aggregate_cycle.hpp"
#include "audio/endpoint_setup.hpp"
#include "audio/performance_counter.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kDeviceWaitMs = 2000;

void raiseMaximum(std::atomic<double>& maximum, double value) {
    double current = maximum.load(std::memory_order_relaxed);
    while (value > current && !maximum.compare_exchange_weak(current, value)) {
    }
}

void raiseMaximum(std::atomic<std::int32_t>& maximum, std::int32_t value) {
    std::int32_t current = maximum.load(std::memory_order_relaxed);
    while (value > current && !maximum.compare_exchange_weak(current, value)) {
    }
}

// One endpoint's life on its thread: set-up, the wait for activation, then streaming. Every step
// that fails calls fail() and returns false.
class EndpointRun : private EndpointSetUp {
public:
    EndpointRun(AudioBackend& backend, EndpointWorker& worker) : EndpointSetUp(backend, worker) {}

    void run() {
        {
            EndpointExitGuard guard(system_, worker_);
            guard_ = &guard;
            bool streamed = false;
            try {
                if (setUp() && awaitActivation() && startStreaming()) {
                    streamed = true;
                    stream();
                }
            } catch (...) {
                failEndpoint(backend_, worker_, kHresultOutOfMemory);
            }
            if (streamed && worker_.isMaster && backend_.ended != nullptr) {
                backend_.ended(backend_.context);
            }
            guard_ = nullptr;
        }
        // After the guard has stopped the stream.
        release();
    }

private:
    bool awaitActivation() {
        system_.waitForEvent(backend_.activationEvent, kWaitForever);
        if (stopRequested()) {
            return false;
        }
        ProAudioTask task = nullptr;
        const Hresult entered = system_.enterProAudioTask(task);
        if (hresultFailed(entered)) {
            return fail(entered);
        }
        guard_->task = task;
        return true;
    }

    bool startStreaming() {
        if (isSecondaryRender()) {
            const double lockFill = worker_.resampler.lockFill;
            while (!stopRequested() && !faulted() &&
                   static_cast<double>(worker_.ring.fill()) < lockFill) {
                system_.sleepOneMillisecond();
            }
            if (stopRequested() || faulted()) {
                return false;
            }
        }
        if (!worker_.isCapture) {
            const std::uint32_t frames = worker_.renderTargetFrames;
            std::uint8_t* data = nullptr;
            if (!check(render_->getBuffer(frames, data))) {
                return false;
            }
            std::memset(data, 0, std::size_t{worker_.format.blockAlign()} * frames);
            if (!check(render_->releaseBuffer(frames, kBufferFlagsSilent))) {
                return false;
            }
            worker_.deviceQueueMs = frames * 1000.0 / rate();
        }
        if (!check(client_->start())) {
            return false;
        }
        guard_->started = true;
        std::int32_t prepared = kEndpointPrepared;
        if (!worker_.state.compare_exchange_strong(prepared, kEndpointRunning)) {
            return false;
        }
        if (worker_.isMaster) {
            worker_.resamplerLocked = true;
        }
        const Hresult frequency = clock_->getFrequency(clockFrequency_);
        if (hresultFailed(frequency) || clockFrequency_ == 0) {
            return fail(hresultFailed(frequency) ? frequency : kHresultFail);
        }
        return true;
    }

    void stream() {
        while (!stopRequested() && !faulted()) {
            const WaitResult waited = system_.waitForEvent(worker_.audioEvent, kDeviceWaitMs);
            if (stopRequested()) {
                return;
            }
            if (waited == WaitResult::TimedOut) {
                fail(kHresultTimeout);
                return;
            }
            if (waited != WaitResult::Signalled) {
                fail(kHresultFail);
                return;
            }
            if (!(worker_.isCapture ? capturePackets() : renderPeriod())) {
                return;
            }
        }
    }

    bool capturePackets() {
        std::uint64_t position = 0;
        std::uint64_t qpc = 0;
        writeTime_ = hresultFailed(clock_->getPosition(position, qpc))
                         ? std::numeric_limits<double>::quiet_NaN()
                         : static_cast<double>(qpc);
        std::uint32_t packetFrames = 0;
        if (!check(capture_->getNextPacketSize(packetFrames))) {
            return false;
        }
        while (packetFrames != 0 && !stopRequested()) {
            if (!capturePacket()) {
                return false;
            }
            if (!check(capture_->getNextPacketSize(packetFrames))) {
                return false;
            }
        }
        return true;
    }

    bool capturePacket() {
        std::uint8_t* data = nullptr;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
        std::uint64_t devicePosition = 0;
        std::uint64_t qpcPosition = 0;
        if (!check(capture_->getBuffer(data, frames, flags, devicePosition, qpcPosition))) {
            return false;
        }
        const bool silent = (flags & kBufferFlagsSilent) != 0;
        if (frames > worker_.bufferFrames || (frames >= 1 && data == nullptr && !silent)) {
            capture_->releaseBuffer(frames);
            return fail(kHresultFail);
        }
        raiseMaximum(worker_.maxPacketFrames, static_cast<std::int32_t>(frames));
        std::atomic<std::uint64_t>& glitches =
            firstPacket_ ? worker_.startupGlitches : worker_.captureGlitches;
        if ((flags & kBufferFlagsDataDiscontinuity) != 0) {
            glitches.fetch_add(1);
            if (!firstPacket_) {
                backend_.xruns.fetch_add(1);
            }
        }
        if ((flags & kBufferFlagsTimestampError) != 0) {
            glitches.fetch_add(1);
        } else {
            worker_.measuredRate =
                estimateDeviceRate(estimator_, static_cast<double>(devicePosition),
                                   static_cast<double>(qpcPosition), rate());
        }
        const std::uint32_t samples = frames * worker_.format.channels;
        const std::uint32_t bytesPerSample = worker_.format.bytesPerSample;
        float* out = worker_.interleavedScratch.data();
        for (std::uint32_t i = 0; i < samples; ++i) {
            out[i] = silent ? 0.0f : decodeSamples(worker_.format, data + i * bytesPerSample);
        }
        const bool pushed = worker_.ring.push(out, static_cast<std::int32_t>(frames));
        if (pushed && std::isfinite(writeTime_)) {
            worker_.writeStamp.publish(worker_.ring.writeIndex.load(std::memory_order_relaxed),
                                       frames, writeTime_);
        }
        const Hresult released = capture_->releaseBuffer(frames);
        firstPacket_ = false;
        if (!pushed) {
            worker_.ringXrunFrames.fetch_add(frames);
            return fail(kAudclntBufferTooLarge);
        }
        return check(released);
    }

    bool renderPeriod() {
        const double start = preciseTime100ns();
        std::uint64_t position = 0;
        std::uint64_t qpc = 0;
        double now = std::numeric_limits<double>::quiet_NaN();
        if (!hresultFailed(clock_->getPosition(position, qpc))) {
            now = static_cast<double>(qpc);
            const double measured = estimateDeviceRate(estimator_,
                                                       static_cast<double>(position) * rate() /
                                                           static_cast<double>(clockFrequency_),
                                                       static_cast<double>(qpc), rate());
            worker_.measuredRate = measured;
            if (worker_.isMaster) {
                backend_.currentRate = measured;
            }
        }
        std::uint32_t padding = 0;
        if (!worker_.exclusiveActive) {
            if (!check(client_->getCurrentPadding(padding))) {
                return false;
            }
            if (padding > worker_.bufferFrames) {
                return fail(kHresultFail);
            }
            if (padding == 0) {
                if (firstWake_) {
                    worker_.startupUnderruns.fetch_add(1);
                } else {
                    worker_.underruns.fetch_add(1);
                    backend_.xruns.fetch_add(1);
                }
            }
        }
        firstWake_ = false;
        worker_.deviceQueueMs = padding * 1000.0 / rate();
        std::uint32_t frames = worker_.bufferFrames;
        if (!worker_.exclusiveActive) {
            if (padding >= worker_.renderTargetFrames) {
                return true;
            }
            frames = worker_.renderTargetFrames - padding;
        }
        std::uint8_t* data = nullptr;
        if (!check(render_->getBuffer(frames, data))) {
            return false;
        }
        if (worker_.isMaster) {
            beginAggregatePeriod(backend_, now, frames);
        } else {
            worker_.resampler.beginReads(now, frames);
        }
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t chunk = std::min(frames - done, backend_.blockFrames);
            std::uint8_t* chunkData = data + std::size_t{done} * worker_.format.blockAlign();
            if (worker_.isMaster) {
                renderMasterChunk(chunkData, chunk);
            } else {
                renderSecondaryChunk(chunkData, chunk);
            }
            done += chunk;
        }
        if (!check(render_->releaseBuffer(frames, 0))) {
            return false;
        }
        worker_.deviceQueueMs = (padding + frames) * 1000.0 / rate();
        const double elapsedMs = (preciseTime100ns() - start) * 0.0001;
        raiseMaximum(backend_.maxCycleMs, elapsedMs);
        if (worker_.periodFrames != 0 && elapsedMs > worker_.periodFrames * 1000.0 / rate()) {
            backend_.lateCycles.fetch_add(1);
        }
        return true;
    }

    void renderMasterChunk(std::uint8_t* data, std::uint32_t frames) {
        runAggregateCycle(backend_, static_cast<std::int32_t>(frames));
        const std::uint32_t channels = worker_.format.channels;
        const std::uint32_t bytesPerSample = worker_.format.bytesPerSample;
        float* const* rows = backend_.outputRowPointers.data() + worker_.channelOffset;
        for (std::uint32_t i = 0; i < frames; ++i) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                encodeSamples(worker_.format, data + (i * channels + c) * bytesPerSample,
                              rows[c][i]);
            }
        }
    }

    void renderSecondaryChunk(std::uint8_t* data, std::uint32_t frames) {
        const std::uint32_t channels = worker_.format.channels;
        const std::uint32_t bytesPerSample = worker_.format.bytesPerSample;
        const double ratio = backend_.currentRate.load() / worker_.measuredRate.load();
        double ppm = 0.0;
        bool lost = false;
        for (std::uint32_t i = 0; i < frames; ++i) {
            const bool produced =
                worker_.resampler.readFrame(worker_.frameScratch.data(), ratio, &ppm);
            if (!produced) {
                if (!worker_.resampler.everPrimed) {
                    worker_.startupRingFrames.fetch_add(1);
                } else {
                    worker_.ringXrunFrames.fetch_add(1);
                    lost = true;
                }
            }
            for (std::uint32_t c = 0; c < channels; ++c) {
                encodeSamples(worker_.format, data + (i * channels + c) * bytesPerSample,
                              produced ? worker_.frameScratch[c] : 0.0f);
            }
        }
        if (lost) {
            backend_.xruns.fetch_add(1);
        }
        worker_.resamplerLocked = worker_.resampler.primed;
        worker_.driftPpm = ppm;
        worker_.ringMs = static_cast<double>(worker_.ring.fill()) * 1000.0 / backend_.sampleRate;
    }

    std::uint64_t clockFrequency_ = 0;
    RateEstimator estimator_;
    // When this wake's packets reach the ring: the clock's performance-counter time.
    double writeTime_ = 0.0;
    bool firstPacket_ = true;
    bool firstWake_ = true;
};

} // namespace

void failEndpoint(AudioBackend& backend, EndpointWorker& worker, Hresult result) noexcept {
    worker.hresult = hresultFailed(result) ? result : kHresultFail;
    worker.state = kEndpointFault;
    backend.xruns.fetch_add(1);
    if (worker.isMaster) {
        backend.running = false;
        backend.stop = true;
        backend.system->setEvent(backend.activationEvent);
    }
    backend.system->setEvent(worker.preparedEvent);
}

void runEndpointWorker(AudioBackend& backend, EndpointWorker& worker) noexcept {
    EndpointRun run(backend, worker);
    run.run();
}

} // namespace velkaphon::rack
