#include "audio/endpoint_setup.hpp"

#include "audio/endpoint_catalogue.hpp"
#include "audio/endpoint_worker.hpp"
#include "audio/performance_counter.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kMaximumBufferFrames = 4096;

bool bufferSizeIsValid(std::uint32_t frames) {
    return frames >= 1 && frames <= kMaximumBufferFrames;
}

const WaveFormatEx* waveOf(const NegotiatedFormat& format) {
    return reinterpret_cast<const WaveFormatEx*>(format.wave.data());
}

} // namespace

EndpointSetUp::~EndpointSetUp() {
    if (!hresultFailed(apartment_)) {
        system_.leaveApartment();
    }
}

bool EndpointSetUp::fail(Hresult result) {
    failEndpoint(backend_, worker_, result);
    return false;
}

void EndpointSetUp::release() {
    clock_.reset();
    render_.reset();
    capture_.reset();
    client_.reset();
    device_.reset();
    enumerator_.reset();
}

bool EndpointSetUp::activate() {
    guard_->client = nullptr;
    client_.reset();
    lastError_ = device_->activateClient(client_);
    guard_->client = client_.get();
    return !hresultFailed(lastError_);
}

bool EndpointSetUp::setUp() {
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
    const DataFlow wanted = worker_.isCapture ? DataFlow::Capture : DataFlow::Render;
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
    if (worker_.requireExclusive || backend_.preferExclusive) {
        const Hresult attempt = openExclusive(mixFormat);
        if (!hresultFailed(attempt) && attempt != kHresultFalse) {
            worker_.exclusiveActive = true;
        } else if (!fallBackToShared(attempt, mixFormat)) {
            return false;
        }
    }
    if (!worker_.exclusiveActive && !openShared()) {
        return false;
    }
    return finishSetUp();
}

Hresult EndpointSetUp::openExclusive(const NegotiatedFormat& mixFormat) {
    NegotiatedFormat candidate = mixFormat;
    auto* wave = reinterpret_cast<WaveFormatEx*>(candidate.wave.data());
    if (worker_.isMaster) {
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
                           backend_.blockFrames * kHundredNanosecondUnitsPerSecond / rate())));
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
        period = std::llround(alignedFrames * kHundredNanosecondUnitsPerSecond / rate());
        if (!activate()) {
            return lastError_;
        }
        initialised = client_->initialize(ShareMode::Exclusive, kStreamFlagsEventCallback, period,
                                          period, waveOf(worker_.format));
    }
    return initialised;
}

bool EndpointSetUp::fallBackToShared(Hresult attempt, const NegotiatedFormat& mixFormat) {
    if (worker_.requireExclusive) {
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

bool EndpointSetUp::openShared() {
    if (worker_.isMaster && worker_.format.sampleRate != backend_.sampleRate) {
        return fail(kAudclntUnsupportedFormat);
    }
    std::int64_t defaultPeriod = 0;
    std::int64_t minimumPeriod = 0;
    client_->getDevicePeriod(defaultPeriod, minimumPeriod);
    worker_.periodFrames = static_cast<std::uint32_t>(std::llround(
        rate() * static_cast<double>(defaultPeriod) / kHundredNanosecondUnitsPerSecond));
    if (backend_.lowLatencyShared) {
        const std::uint32_t period = lowLatencyPeriod();
        if (period != 0) {
            if (!hresultFailed(client_->initializeSharedAudioStream(
                    kStreamFlagsEventCallback, period, waveOf(worker_.format)))) {
                worker_.lowLatencyActive = true;
                worker_.periodFrames = period;
                return true;
            }
            if (!activate()) {
                return fail(lastError_);
            }
        }
    }
    const Hresult supported = client_->isFormatSupported(ShareMode::Shared, waveOf(worker_.format));
    if (supported != kHresultOk) {
        return fail(hresultFailed(supported) ? supported : kAudclntUnsupportedFormat);
    }
    return check(client_->initialize(ShareMode::Shared, kStreamFlagsEventCallback, 0, 0,
                                     waveOf(worker_.format)));
}

std::uint32_t EndpointSetUp::lowLatencyPeriod() {
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

bool EndpointSetUp::finishSetUp() {
    if (!check(client_->getBufferSize(worker_.bufferFrames))) {
        return false;
    }
    if (!bufferSizeIsValid(worker_.bufferFrames)) {
        return fail(kHresultInvalidArgument);
    }
    if (worker_.exclusiveActive) {
        worker_.periodFrames = worker_.bufferFrames;
    } else {
        WaveFormatBytes engineFormat;
        std::uint32_t enginePeriod = 0;
        const WaveFormatEx* wave = nullptr;
        if (!hresultFailed(client_->queryLowLatency()) &&
            !hresultFailed(client_->getCurrentSharedModeEnginePeriod(engineFormat, enginePeriod)) &&
            (wave = asWaveFormat(engineFormat)) != nullptr &&
            wave->samplesPerSec == worker_.format.sampleRate && enginePeriod >= 1 &&
            enginePeriod <= worker_.bufferFrames) {
            worker_.periodFrames = enginePeriod;
        }
    }
    if (worker_.periodFrames == 0) {
        worker_.periodFrames = worker_.bufferFrames;
    }
    if (!worker_.isCapture) {
        worker_.renderTargetFrames =
            worker_.exclusiveActive
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
        !check(worker_.isCapture ? client_->getCaptureClient(capture_)
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

} // namespace velkaphon::rack
