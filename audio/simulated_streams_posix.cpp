#include "audio/simulated_state.hpp"

#include <cmath>
#include <functional>

namespace velkaphon::rack {

using namespace SimulatedImpl;

namespace {

constexpr Hresult kInvalidSize = hresultFromBits(0x88890009u);
constexpr Hresult kBufferEmpty = hresultFromBits(0x08890001u);

using State = SimulatedAudioSystem::State;

class SimulatedClock : public AudioClockApi {
public:
    SimulatedClock(std::shared_ptr<State> state, std::shared_ptr<Stream> stream)
        : state_(std::move(state)), stream_(std::move(stream)), endpoint_(stream_->endpoint) {}

    Hresult getFrequency(std::uint64_t& frequency) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result =
            state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetFrequency);
        frequency = stream_->format.sampleRate;
        return result;
    }

    Hresult getPosition(std::uint64_t& position, std::uint64_t& qpcPosition) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result =
            state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetPosition);
        const Ticks now = state_->now();
        position = stream_->framesAt(now, endpoint_->clockScale);
        qpcPosition = static_cast<std::uint64_t>(now);
        return result;
    }

private:
    std::shared_ptr<State> state_;
    std::shared_ptr<Stream> stream_;
    Endpoint* endpoint_;
};

class SimulatedRender : public AudioRenderApi {
public:
    SimulatedRender(std::shared_ptr<State> state, std::shared_ptr<Stream> stream)
        : state_(std::move(state)), stream_(std::move(stream)), endpoint_(stream_->endpoint) {}

    Hresult getBuffer(std::uint32_t frames, std::uint8_t*& data) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetBuffer);
        if (hresultFailed(result)) {
            return result;
        }
        Stream& stream = *stream_;
        stream.drain(state_->now(), endpoint_->clockScale);
        if (frames > stream.bufferFrames ||
            (!stream.exclusive && frames > stream.bufferFrames - stream.queued)) {
            return kAudclntBufferTooLarge;
        }
        stream.pendingFrames = frames;
        stream.bytes.assign(std::size_t{frames} * stream.format.blockAlign(), 0xCD);
        data = stream.bytes.data();
        return result;
    }

    Hresult releaseBuffer(std::uint32_t frames, std::uint32_t flags) override {
        std::function<void(const float*, std::uint32_t, std::uint32_t)> observer;
        const float* decoded = nullptr;
        std::uint32_t channels = 0;
        {
            std::unique_lock lock(state_->mutex);
            const Hresult result =
                state_->planned(lock, endpoint_->setup.id, SimulatedCall::ReleaseBuffer);
            if (hresultFailed(result)) {
                return result;
            }
            Stream& stream = *stream_;
            if (frames > stream.pendingFrames) {
                return kInvalidSize;
            }
            stream.pendingFrames = 0;
            if (!stream.exclusive) {
                stream.queued += frames;
            }
            channels = stream.format.channels;
            stream.decoded.assign(std::size_t{frames} * channels, 0.0f);
            if ((flags & kBufferFlagsSilent) == 0) {
                for (std::size_t i = 0; i < stream.decoded.size(); ++i) {
                    stream.decoded[i] = decodeSamples(
                        stream.format, stream.bytes.data() + i * stream.format.bytesPerSample);
                }
            }
            observer = endpoint_->setup.renderObserver;
            decoded = stream.decoded.data();
        }
        // The worker is the only one to touch its stream meanwhile.
        if (observer) {
            observer(decoded, frames, channels);
        }
        return kHresultOk;
    }

private:
    std::shared_ptr<State> state_;
    std::shared_ptr<Stream> stream_;
    Endpoint* endpoint_;
};

class SimulatedCapture : public AudioCaptureApi {
public:
    SimulatedCapture(std::shared_ptr<State> state, std::shared_ptr<Stream> stream)
        : state_(std::move(state)), stream_(std::move(stream)), endpoint_(stream_->endpoint) {}

    Hresult getBuffer(std::uint8_t*& data, std::uint32_t& frames, std::uint32_t& flags,
                      std::uint64_t& devicePosition, std::uint64_t& qpcPosition) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result = state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetBuffer);
        if (hresultFailed(result)) {
            return result;
        }
        Stream& stream = *stream_;
        if (available(stream) == 0) {
            frames = 0;
            data = nullptr;
            return kBufferEmpty;
        }
        const std::uint64_t packet = stream.packetsRead;
        const std::uint32_t period = stream.periodFrames;
        frames = period;
        flags = stream.overflowed ? kBufferFlagsDataDiscontinuity : 0;
        stream.overflowed = false;
        if (endpoint_->setup.packetFlags) {
            flags |= endpoint_->setup.packetFlags(packet);
        }
        devicePosition = packet * period;
        qpcPosition = static_cast<std::uint64_t>(
            stream.startTime +
            std::llround(devicePosition * kTicksPerSecond / stream.rate(endpoint_->clockScale)));
        if ((flags & kBufferFlagsSilent) != 0) {
            data = nullptr;
            return result;
        }
        const std::uint32_t channels = stream.format.channels;
        stream.bytes.assign(std::size_t{period} * stream.format.blockAlign(), 0);
        for (std::uint32_t i = 0; i < period; ++i) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const float value = endpoint_->setup.captureSignal
                                        ? endpoint_->setup.captureSignal(devicePosition + i, c)
                                        : 0.0f;
                encodeSamples(stream.format,
                              stream.bytes.data() +
                                  (std::size_t{i} * channels + c) * stream.format.bytesPerSample,
                              value);
            }
        }
        data = stream.bytes.data();
        return result;
    }

    Hresult releaseBuffer(std::uint32_t frames) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result =
            state_->planned(lock, endpoint_->setup.id, SimulatedCall::ReleaseBuffer);
        if (!hresultFailed(result) && frames != 0) {
            ++stream_->packetsRead;
        }
        return result;
    }

    Hresult getNextPacketSize(std::uint32_t& frames) override {
        std::unique_lock lock(state_->mutex);
        const Hresult result =
            state_->planned(lock, endpoint_->setup.id, SimulatedCall::GetNextPacketSize);
        frames = available(*stream_) > 0 ? stream_->periodFrames : 0;
        return result;
    }

private:
    // Whole packets waiting; the oldest are lost when they no longer fit the buffer.
    std::uint64_t available(Stream& stream) {
        if (stream.periodFrames == 0) {
            return 0;
        }
        const std::uint64_t captured =
            stream.framesAt(state_->now(), endpoint_->clockScale) / stream.periodFrames;
        const std::uint64_t room = std::max(1u, stream.bufferFrames / stream.periodFrames);
        if (captured - stream.packetsRead > room) {
            stream.packetsRead = captured - room;
            stream.overflowed = true;
        }
        return captured - stream.packetsRead;
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<Stream> stream_;
    Endpoint* endpoint_;
};

} // namespace

namespace SimulatedImpl {

std::unique_ptr<AudioClockApi> newSimulatedClock(std::shared_ptr<State> state,
                                                 std::shared_ptr<Stream> stream) {
    return std::make_unique<SimulatedClock>(std::move(state), std::move(stream));
}

std::unique_ptr<AudioRenderApi> newSimulatedRender(std::shared_ptr<State> state,
                                                   std::shared_ptr<Stream> stream) {
    return std::make_unique<SimulatedRender>(std::move(state), std::move(stream));
}

std::unique_ptr<AudioCaptureApi> newSimulatedCapture(std::shared_ptr<State> state,
                                                     std::shared_ptr<Stream> stream) {
    return std::make_unique<SimulatedCapture>(std::move(state), std::move(stream));
}

} // namespace SimulatedImpl

} // namespace velkaphon::rack
