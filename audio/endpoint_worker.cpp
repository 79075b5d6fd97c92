#include "audio/endpoint_worker.hpp"

#include "audio/aggregate_cycle.hpp"
#include "audio/endpoint_catalogue.hpp"
#include "audio/performance_counter.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kDeviceWaitMs = 2000;
constexpr std::uint32_t kMaximumBufferFrames = 4096;
constexpr double kHundredNanosecondsPerSecond = 10000000.0;

bool bufferSizeIsValid(std::uint32_t frames) {
    return frames >= 1 && frames <= kMaximumBufferFrames;
}

const WaveFormatEx* waveOf(const NegotiatedFormat& format) {
    return reinterpret_cast<const WaveFormatEx*>(format.wave.data());
}

// Stops the stream, leaves MMCSS and settles the state on every way out of the thread. The
// master may fault this endpoint from its own thread at any time, so "stopped" never replaces
// a fault.
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

// One endpoint's life on its thread. Every step that fails calls fail() and returns false; the
// objects are released by their owners on the way out.
class EndpointRun {
public:
    EndpointRun(AudioBackend& backend, EndpointWorker& worker)
        : backend_(backend), worker_(worker), system_(*backend.system) {}

    ~EndpointRun() {
        if (!hresultFailed(apartment_)) {
            system_.leaveApartment();
        }
    }

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
            if (streamed && worker_.isMaster != 0 && backend_.ended != nullptr) {
                backend_.ended(backend_.context);
            }
            guard_ = nullptr;
        }
        // After the guard has stopped the stream.
        release();
    }

private:
    bool fail(Hresult result) {
        failEndpoint(backend_, worker_, result);
        return false;
    }

    bool check(Hresult result) { return hresultFailed(result) ? fail(result) : true; }

    bool stopRequested() const { return backend_.stop.load() != 0; }

    bool faulted() const { return worker_.state.load() == kEndpointFault; }

    double rate() const { return worker_.format.sampleRate; }

    bool isSecondaryRender() const { return worker_.isCapture == 0 && worker_.isMaster == 0; }

    bool activate() {
        guard_->client = nullptr;
        client_.reset();
        lastError_ = device_->activateClient(client_);
        guard_->client = client_.get();
        return !hresultFailed(lastError_);
    }

    bool setUp() {
        apartment_ = system_.enterApartment();
        if (hresultFailed(apartment_) && apartment_ != kHresultChangedMode) {
            return fail(apartment_);
        }
        if (!check(system_.createEnumerator(enumerator_))) {
            return false;
        }
        const std::u16string wideId = utf8ToWide(worker_.id);
        if (wideId.empty()) {
            return fail(kHresultInvalidArgument);
        }
        if (!check(enumerator_->getDevice(wideId, device_))) {
            return false;
        }
        DataFlow flow = DataFlow::Render;
        const DataFlow wanted = worker_.isCapture != 0 ? DataFlow::Capture : DataFlow::Render;
        if (hresultFailed(device_->getDataFlow(flow)) || flow != wanted) {
            return fail(kHresultInvalidArgument);
        }
        worker_.name = readFriendlyName(*device_);
        if (!activate()) {
            return fail(lastError_);
        }
        WaveFormatBytes mix;
        if (!check(client_->getMixFormat(mix))) {
            return false;
        }
        if (!checkWaveFormat(worker_.format, asWaveFormat(mix))) {
            return fail(kAudclntUnsupportedFormat);
        }
        const NegotiatedFormat mixFormat = worker_.format;
        if (worker_.requireExclusive != 0 || backend_.preferExclusive != 0) {
            const Hresult attempt = openExclusive(mixFormat);
            if (!hresultFailed(attempt) && attempt != kHresultFalse) {
                worker_.exclusiveActive = 1;
            } else if (!fallBackToShared(attempt, mixFormat)) {
                return false;
            }
        }
        if (worker_.exclusiveActive == 0 && !openShared()) {
            return false;
        }
        return finishSetUp();
    }

    // The exclusive attempt; kHresultOk when the stream is initialised.
    Hresult openExclusive(const NegotiatedFormat& mixFormat) {
        NegotiatedFormat candidate = mixFormat;
        auto* wave = reinterpret_cast<WaveFormatEx*>(candidate.wave.data());
        if (worker_.isMaster != 0) {
            wave->samplesPerSec = backend_.sampleRate;
            wave->avgBytesPerSec = wave->blockAlign * wave->samplesPerSec;
        }
        NegotiatedFormat adopted;
        Hresult supported = client_->isFormatSupported(ShareMode::Exclusive, wave);
        if (supported == kHresultOk && checkWaveFormat(adopted, wave)) {
            worker_.format = adopted;
        } else {
            std::uint32_t channelMask = 0;
            if (wave->formatTag == kWaveFormatExtensible) {
                WaveFormatExtensible extensible;
                std::memcpy(static_cast<void*>(&extensible), wave, sizeof extensible);
                channelMask = extensible.channelMask;
            }
            const std::uint16_t layouts[][2] = {{32, 24}, {24, 24}, {16, 16}};
            bool found = false;
            for (const auto& layout : layouts) {
                const WaveFormatExtensible pcm =
                    extensibleFormat(kSubtypePcm, wave->channels, wave->samplesPerSec, layout[0],
                                     layout[1], channelMask);
                supported = client_->isFormatSupported(ShareMode::Exclusive, &pcm.format);
                if (supported == kHresultOk && checkWaveFormat(adopted, &pcm.format)) {
                    worker_.format = adopted;
                    found = true;
                    break;
                }
            }
            if (!found) {
                return supported;
            }
        }
        std::int64_t defaultPeriod = 0;
        std::int64_t minimumPeriod = 0;
        const Hresult periods = client_->getDevicePeriod(defaultPeriod, minimumPeriod);
        if (hresultFailed(periods)) {
            return periods;
        }
        std::int64_t period = std::max<std::int64_t>(
            minimumPeriod, static_cast<std::int64_t>(std::ceil(
                               backend_.blockFrames * kHundredNanosecondsPerSecond / rate())));
        Hresult initialised = client_->initialize(ShareMode::Exclusive, kStreamFlagsEventCallback,
                                                  period, period, waveOf(worker_.format));
        if (initialised == kAudclntBufferSizeNotAligned) {
            std::uint32_t alignedFrames = 0;
            const Hresult size = client_->getBufferSize(alignedFrames);
            if (hresultFailed(size)) {
                return size;
            }
            if (!bufferSizeIsValid(alignedFrames)) {
                return kHresultInvalidArgument;
            }
            period = std::llround(alignedFrames * kHundredNanosecondsPerSecond / rate());
            if (!activate()) {
                return lastError_;
            }
            initialised = client_->initialize(ShareMode::Exclusive, kStreamFlagsEventCallback,
                                              period, period, waveOf(worker_.format));
        }
        return initialised;
    }

    bool fallBackToShared(Hresult attempt, const NegotiatedFormat& mixFormat) {
        if (worker_.requireExclusive != 0) {
            return fail(hresultFailed(attempt) ? attempt : kAudclntUnsupportedFormat);
        }
        if (attempt == kAudclntDeviceInUse) {
            worker_.fallbackReason = "exclusive-device-in-use";
        } else if (attempt == kAudclntUnsupportedFormat || attempt == kHresultFalse) {
            worker_.fallbackReason = "exclusive-format-unsupported";
        } else {
            worker_.fallbackReason = "exclusive-unavailable";
        }
        worker_.format = mixFormat;
        return activate() || fail(lastError_);
    }

    bool openShared() {
        if (worker_.isMaster != 0 && worker_.format.sampleRate != backend_.sampleRate) {
            return fail(kAudclntUnsupportedFormat);
        }
        std::int64_t defaultPeriod = 0;
        std::int64_t minimumPeriod = 0;
        client_->getDevicePeriod(defaultPeriod, minimumPeriod);
        worker_.periodFrames = static_cast<std::uint32_t>(std::llround(
            rate() * static_cast<double>(defaultPeriod) / kHundredNanosecondsPerSecond));
        if (backend_.lowLatencyShared != 0) {
            const std::uint32_t period = lowLatencyPeriod();
            if (period != 0) {
                if (!hresultFailed(client_->initializeSharedAudioStream(
                        kStreamFlagsEventCallback, period, waveOf(worker_.format)))) {
                    worker_.lowLatencyActive = 1;
                    worker_.periodFrames = period;
                    return true;
                }
                if (!activate()) {
                    return fail(lastError_);
                }
            }
        }
        const Hresult supported =
            client_->isFormatSupported(ShareMode::Shared, waveOf(worker_.format));
        if (supported != kHresultOk) {
            return fail(hresultFailed(supported) ? supported : kAudclntUnsupportedFormat);
        }
        return check(client_->initialize(ShareMode::Shared, kStreamFlagsEventCallback, 0, 0,
                                         waveOf(worker_.format)));
    }

    // The IAudioClient3 period for the configured block, or 0 when that route is closed.
    std::uint32_t lowLatencyPeriod() {
        std::uint32_t defaultPeriod = 0;
        std::uint32_t fundamental = 0;
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 0;
        if (hresultFailed(client_->queryLowLatency()) ||
            hresultFailed(client_->getSharedModeEnginePeriod(waveOf(worker_.format), defaultPeriod,
                                                             fundamental, minimum, maximum)) ||
            fundamental == 0 || minimum > maximum) {
            return 0;
        }
        std::uint32_t period = std::clamp(backend_.blockFrames, minimum, maximum);
        period = (period + fundamental - 1) / fundamental * fundamental;
        return std::min(period, maximum);
    }

    bool finishSetUp() {
        if (!check(client_->getBufferSize(worker_.bufferFrames))) {
            return false;
        }
        if (!bufferSizeIsValid(worker_.bufferFrames)) {
            return fail(kHresultInvalidArgument);
        }
        if (worker_.exclusiveActive != 0) {
            worker_.periodFrames = worker_.bufferFrames;
        } else {
            WaveFormatBytes engineFormat;
            std::uint32_t enginePeriod = 0;
            const WaveFormatEx* wave = nullptr;
            if (!hresultFailed(client_->queryLowLatency()) &&
                !hresultFailed(
                    client_->getCurrentSharedModeEnginePeriod(engineFormat, enginePeriod)) &&
                (wave = asWaveFormat(engineFormat)) != nullptr &&
                wave->samplesPerSec == worker_.format.sampleRate && enginePeriod >= 1 &&
                enginePeriod <= worker_.bufferFrames) {
                worker_.periodFrames = enginePeriod;
            }
        }
        if (worker_.periodFrames == 0) {
            worker_.periodFrames = worker_.bufferFrames;
        }
        if (worker_.isCapture == 0) {
            worker_.renderTargetFrames =
                worker_.exclusiveActive != 0
                    ? worker_.bufferFrames
                    : std::min(worker_.bufferFrames,
                               std::max(worker_.periodFrames,
                                        static_cast<std::uint32_t>(std::ceil(
                                            rate() * backend_.blockFrames / backend_.sampleRate +
                                            1.5 * worker_.periodFrames))));
        }
        std::int64_t latency = 0;
        if (!hresultFailed(client_->getStreamLatency(latency))) {
            worker_.streamLatencyMs = static_cast<double>(latency) * 0.0001;
        }
        if (!check(client_->setEventHandle(worker_.audioEvent)) ||
            !check(worker_.isCapture != 0 ? client_->getCaptureClient(capture_)
                                          : client_->getRenderClient(render_)) ||
            !check(client_->getClock(clock_))) {
            return false;
        }
        const std::uint32_t channels = worker_.format.channels;
        worker_.ring.reset(static_cast<std::int32_t>(channels),
                           std::max<std::uint64_t>(8192, 4ull * worker_.bufferFrames + 16448));
        worker_.interleavedScratch.assign(
            std::size_t{std::max(worker_.bufferFrames, kMaximumBufferFrames)} * channels, 0.0f);
        worker_.measuredRate = rate();
        worker_.state = kEndpointPrepared;
        system_.setEvent(worker_.preparedEvent);
        return true;
    }

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
        if (worker_.isCapture == 0) {
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
        if (worker_.isMaster != 0) {
            worker_.resamplerLocked = 1;
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
            if (!(worker_.isCapture != 0 ? capturePackets() : renderPeriod())) {
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
            if (worker_.isMaster != 0) {
                backend_.currentRate = measured;
            }
        }
        std::uint32_t padding = 0;
        if (worker_.exclusiveActive == 0) {
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
        if (worker_.exclusiveActive == 0) {
            if (padding >= worker_.renderTargetFrames) {
                return true;
            }
            frames = worker_.renderTargetFrames - padding;
        }
        std::uint8_t* data = nullptr;
        if (!check(render_->getBuffer(frames, data))) {
            return false;
        }
        if (worker_.isMaster != 0) {
            beginAggregatePeriod(backend_, now, frames);
        } else {
            worker_.resampler.beginReads(now, frames);
        }
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t chunk = std::min(frames - done, backend_.blockFrames);
            std::uint8_t* chunkData = data + std::size_t{done} * worker_.format.blockAlign();
            if (worker_.isMaster != 0) {
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
                if (worker_.resampler.everPrimed == 0) {
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

    void release() {
        clock_.reset();
        render_.reset();
        capture_.reset();
        client_.reset();
        device_.reset();
        enumerator_.reset();
    }

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
    if (worker.isMaster != 0) {
        backend.running = 0;
        backend.stop = 1;
        backend.system->setEvent(backend.activationEvent);
    }
    backend.system->setEvent(worker.preparedEvent);
}

void runEndpointWorker(AudioBackend& backend, EndpointWorker& worker) noexcept {
    EndpointRun run(backend, worker);
    run.run();
}

} // namespace velkaphon::rack
