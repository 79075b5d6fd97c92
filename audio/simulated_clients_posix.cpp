#include "audio/simulated_state.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velkaphon::rack {

using namespace SimulatedImpl;

namespace {

constexpr Hresult kNotFound = hresultFromBits(0x80070490u);
constexpr Hresult kNoInterface = hresultFromBits(0x80004002u);
constexpr Hresult kNotInitialized = hresultFromBits(0x88890001u);
constexpr Hresult kAlreadyInitialized = hresultFromBits(0x88890002u);

using State = SimulatedAudioSystem::State;

bool sameLayout(const NegotiatedFormat& a, const NegotiatedFormat& b) {
    return a.isFloat == b.isFloat && a.bytesPerSample == b.bytesPerSample &&
           a.validBits == b.validBits && a.channels == b.channels && a.sampleRate == b.sampleRate;
}

// The stream lives as long as its client or any service taken from it; its event, if any,
// falls silent with it.
std::shared_ptr<Stream> newStream(const std::shared_ptr<State>& state, Endpoint* endpoint) {
    auto* stream = new Stream;
    stream->endpoint = endpoint;
    return std::shared_ptr<Stream>(stream, [state](Stream* ended) {
        {
            std::lock_guard lock(state->mutex);
            unbindEvent(*ended);
        }
        delete ended;
    });
}

NegotiatedFormat mixOf(const Endpoint& endpoint) {
    NegotiatedFormat mix;
    checkWaveFormat(mix, &endpoint.setup.mixFormat.format);
    return mix;
}

class SimulatedClient : public AudioClientApi {
public:
    SimulatedClient(std::shared_ptr<State> state, std::shared_ptr<Stream> stream)
        : state_(std::move(state)), stream_(std::move(stream)), endpoint_(stream_->endpoint) {}

    Hresult getMixFormat(WaveFormatBytes& format) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::GetMixFormat);
        if (!hresultFailed(result)) {
            const auto& mix = endpoint_->setup.mixFormat;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&mix);
            format.assign(bytes, bytes + sizeof(WaveFormatEx) + mix.format.extraSize);
        }
        return result;
    }

    Hresult isFormatSupported(ShareMode mode, const WaveFormatEx* format) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::IsFormatSupported);
        if (hresultFailed(result) || result == kHresultFalse) {
            return result;
        }
        return supports(mode, format);
    }

    Hresult getDevicePeriod(std::int64_t& defaultPeriod, std::int64_t& minimumPeriod) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::GetDevicePeriod);
        const double rate = mixOf(*endpoint_).sampleRate;
        defaultPeriod = std::llround(endpoint_->setup.periodFrames * kTicksPerSecond / rate);
        minimumPeriod = std::llround(endpoint_->setup.minimumPeriodFrames * kTicksPerSecond / rate);
        return result;
    }

    Hresult initialize(ShareMode mode, std::uint32_t, std::int64_t bufferDuration, std::int64_t,
                       const WaveFormatEx* format) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::Initialize);
        if (hresultFailed(result)) {
            return result;
        }
        Stream& stream = *stream_;
        if (stream.initialized) {
            return kAlreadyInitialized;
        }
        const Hresult supported = supports(mode, format);
        if (supported != kHresultOk) {
            return hresultFailed(supported) ? supported : kAudclntUnsupportedFormat;
        }
        checkWaveFormat(stream.format, format);
        if (mode == ShareMode::Exclusive) {
            const auto frames = static_cast<std::uint32_t>(
                std::llround(bufferDuration * stream.format.sampleRate / kTicksPerSecond));
            const std::uint32_t alignment = endpoint_->setup.exclusiveAlignmentFrames;
            if (alignment != 0 && frames % alignment != 0) {
                stream.bufferFrames = (frames + alignment - 1) / alignment * alignment;
                return kAudclntBufferSizeNotAligned;
            }
            stream.bufferFrames = frames;
            stream.periodFrames = frames;
            stream.exclusive = true;
        } else {
            stream.bufferFrames = endpoint_->setup.sharedBufferFrames;
            stream.periodFrames = endpoint_->setup.periodFrames;
        }
        stream.initialized = true;
        return kHresultOk;
    }

    Hresult getBufferSize(std::uint32_t& frames) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::GetBufferSize);
        frames = stream_->bufferFrames;
        if (hresultFailed(result)) {
            return result;
        }
        return frames == 0 ? kNotInitialized : kHresultOk;
    }

    Hresult getStreamLatency(std::int64_t& latency) override {
        std::unique_lock lock(state_->mutex);
        latency = endpoint_->setup.streamLatency;
        return call(lock, SimulatedCall::GetStreamLatency);
    }

    Hresult getCurrentPadding(std::uint32_t& frames) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::GetCurrentPadding);
        Stream& stream = *stream_;
        stream.drain(state_->now(), endpoint_->clockScale);
        frames = static_cast<std::uint32_t>(stream.queued);
        return result;
    }

    Hresult setEventHandle(SystemEvent event) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::SetEventHandle);
        if (!hresultFailed(result)) {
            bindEvent(*stream_, *static_cast<EventRecord*>(event));
        }
        return result;
    }

    Hresult getRenderClient(std::unique_ptr<AudioRenderApi>& render) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = service(lock, DataFlow::Render);
        if (!hresultFailed(result)) {
            render = newSimulatedRender(state_, stream_);
        }
        return result;
    }

    Hresult getCaptureClient(std::unique_ptr<AudioCaptureApi>& capture) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = service(lock, DataFlow::Capture);
        if (!hresultFailed(result)) {
            capture = newSimulatedCapture(state_, stream_);
        }
        return result;
    }

    Hresult getClock(std::unique_ptr<AudioClockApi>& clock) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = service(lock, endpoint_->setup.flow);
        if (!hresultFailed(result)) {
            clock = newSimulatedClock(state_, stream_);
        }
        return result;
    }

    Hresult start() override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::Start);
        if (hresultFailed(result)) {
            return result;
        }
        Stream& stream = *stream_;
        if (!stream.initialized) {
            return kNotInitialized;
        }
        stream.started = true;
        stream.startTime = state_->now();
        stream.eventsFired = 0;
        stream.consumedAtUpdate = 0;
        return kHresultOk;
    }

    Hresult stop() override {
        std::unique_lock lock(state_->mutex);
        stream_->started = false;
        return kHresultOk;
    }

    Hresult queryLowLatency() override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::QueryLowLatency);
        if (hresultFailed(result)) {
            return result;
        }
        return endpoint_->setup.lowLatencyFundamental == 0 ? kNoInterface : kHresultOk;
    }

    Hresult getSharedModeEnginePeriod(const WaveFormatEx*, std::uint32_t& defaultPeriod,
                                      std::uint32_t& fundamentalPeriod,
                                      std::uint32_t& minimumPeriod,
                                      std::uint32_t& maximumPeriod) override {
        std::unique_lock lock(state_->mutex);
        const SimulatedEndpoint& setup = endpoint_->setup;
        defaultPeriod = setup.periodFrames;
        fundamentalPeriod = setup.lowLatencyFundamental;
        minimumPeriod = setup.lowLatencyMinimum;
        maximumPeriod = setup.lowLatencyMaximum;
        return call(lock, SimulatedCall::GetSharedModeEnginePeriod);
    }

    Hresult initializeSharedAudioStream(std::uint32_t, std::uint32_t periodFrames,
                                        const WaveFormatEx* format) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = call(lock, SimulatedCall::InitializeSharedAudioStream);
        if (hresultFailed(result)) {
            return result;
        }
        Stream& stream = *stream_;
        if (supports(ShareMode::Shared, format) != kHresultOk) {
            return kAudclntUnsupportedFormat;
        }
        checkWaveFormat(stream.format, format);
        stream.periodFrames = periodFrames;
        stream.bufferFrames = std::max(endpoint_->setup.sharedBufferFrames, 2 * periodFrames);
        stream.initialized = true;
        return kHresultOk;
    }

    Hresult getCurrentSharedModeEnginePeriod(WaveFormatBytes& format,
                                             std::uint32_t& periodFrames) override {
        std::unique_lock lock(state_->mutex);
        const auto& mix = endpoint_->setup.mixFormat;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&mix);
        format.assign(bytes, bytes + sizeof mix);
        periodFrames = stream_->periodFrames;
        return endpoint_->setup.lowLatencyFundamental == 0 ? kNoInterface : kHresultOk;
    }

private:
    Hresult call(std::unique_lock<std::mutex>& lock, SimulatedCall which) {
        return state_->planned(lock, endpoint_->setup.id, which);
    }

    Hresult service(std::unique_lock<std::mutex>& lock, DataFlow flow) {
        const Hresult result = call(lock, SimulatedCall::GetService);
        if (hresultFailed(result)) {
            return result;
        }
        if (!stream_->initialized) {
            return kNotInitialized;
        }
        return flow == endpoint_->setup.flow ? kHresultOk : hresultFromBits(0x88890003u);
    }

    Hresult supports(ShareMode mode, const WaveFormatEx* format) const {
        NegotiatedFormat asked;
        if (!checkWaveFormat(asked, format)) {
            return kAudclntUnsupportedFormat;
        }
        if (mode == ShareMode::Shared) {
            return sameLayout(asked, mixOf(*endpoint_)) ? kHresultOk : kHresultFalse;
        }
        if (endpoint_->setup.exclusiveInUse) {
            return kAudclntDeviceInUse;
        }
        for (const ExclusiveLayout& layout : endpoint_->setup.exclusiveLayouts) {
            if (asked.isFloat == layout.isFloat &&
                asked.bytesPerSample * 8 == layout.containerBits &&
                asked.validBits == layout.validBits &&
                asked.channels == mixOf(*endpoint_).channels) {
                return kHresultOk;
            }
        }
        return kAudclntUnsupportedFormat;
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<Stream> stream_;
    Endpoint* endpoint_;
};

class SimulatedDevice : public AudioDeviceApi {
public:
    SimulatedDevice(std::shared_ptr<State> state, Endpoint* endpoint)
        : state_(std::move(state)), endpoint_(endpoint) {}

    Hresult getId(std::u16string& id) override {
        std::unique_lock lock(state_->mutex);
        id = utf8ToWide(endpoint_->setup.id);
        return state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetId);
    }

    Hresult getDataFlow(DataFlow& flow) override {
        std::unique_lock lock(state_->mutex);
        flow = endpoint_->setup.flow;
        return state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetDataFlow);
    }

    Hresult readProperty(DeviceProperty property, PropertyValue& value) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result =
            state_->planned(lock, endpoint_->setup.id, SimulatedCall::ReadProperty);
        if (property == DeviceProperty::FriendlyName) {
            value.kind = PropertyValue::Kind::Text;
            value.text = utf8ToWide(endpoint_->setup.name);
        } else {
            value = endpoint_->setup.container;
        }
        return result;
    }

    Hresult activateClient(std::unique_ptr<AudioClientApi>& client) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = state_->planned(lock, endpoint_->setup.id, SimulatedCall::Activate);
        if (!hresultFailed(result)) {
            // Each client has a stream of its own; other clients' streams run on.
            client = std::make_unique<SimulatedClient>(state_, newStream(state_, endpoint_));
        }
        return result;
    }

private:
    std::shared_ptr<State> state_;
    Endpoint* endpoint_;
};

class SimulatedEnumerator : public AudioEnumeratorApi {
public:
    explicit SimulatedEnumerator(std::shared_ptr<State> state) : state_(std::move(state)) {}

    Hresult enumerateActive(DataFlow flow,
                            std::vector<std::unique_ptr<AudioDeviceApi>>& devices) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = state_->planned(lock, "", SimulatedCall::EnumerateActive);
        if (hresultFailed(result)) {
            return result;
        }
        for (auto& endpoint : state_->endpoints) {
            if (endpoint->setup.flow == flow) {
                devices.push_back(std::make_unique<SimulatedDevice>(state_, endpoint.get()));
            }
        }
        return result;
    }

    Hresult getDevice(const std::u16string& id, std::unique_ptr<AudioDeviceApi>& device) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = state_->planned(lock, "", SimulatedCall::GetDevice);
        if (hresultFailed(result)) {
            return result;
        }
        Endpoint* endpoint = state_->find(id);
        if (endpoint == nullptr) {
            return kNotFound;
        }
        device = std::make_unique<SimulatedDevice>(state_, endpoint);
        return kHresultOk;
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace

WaveFormatExtensible simulatedMixFormat(std::uint16_t channels, std::uint32_t rate, bool isFloat,
                                        std::uint16_t containerBits, std::uint16_t validBits) {
    return extensibleFormat(isFloat ? kSubtypeIeeeFloat : kSubtypePcm, channels, rate,
                            containerBits, validBits, channels == 2 ? 3 : 0);
}

Hresult SimulatedAudioSystem::createEnumerator(std::unique_ptr<AudioEnumeratorApi>& enumerator) {
    std::unique_lock lock(state_->mutex);
    const Hresult result = state_->planned(lock, "", SimulatedCall::CreateEnumerator);
    if (!hresultFailed(result)) {
        enumerator = std::make_unique<SimulatedEnumerator>(state_);
    }
    return result;
}

namespace {

constexpr Guid kSimulatedInterface{
    0x5E1A7ED0, 0x0A0D, 0x4C1E, {0x9A, 0x0B, 0x51, 0x3D, 0xA7, 0x0E, 0xD0, 0x01}};

} // namespace

AudioSystem& platformAudioSystem() {
    static SimulatedAudioSystem* system = [] {
        auto* simulated = new SimulatedAudioSystem(true);
        SimulatedEndpoint output;
        output.id = "{0.0.0.00000000}.{simulated-output}";
        output.name = "Speakers (Simulated Audio)";
        output.flow = DataFlow::Render;
        output.mixFormat = simulatedMixFormat(2, 48000);
        // One interface with both directions, as a user's audio interface would be.
        output.container = {PropertyValue::Kind::Guid, {}, kSimulatedInterface};
        simulated->addEndpoint(output);
        SimulatedEndpoint input = output;
        input.id = "{0.0.1.00000000}.{simulated-input}";
        input.name = "Microphone (Simulated Audio)";
        input.flow = DataFlow::Capture;
        simulated->addEndpoint(input);
        return simulated;
    }();
    return *system;
}

} // namespace velkaphon::rack
