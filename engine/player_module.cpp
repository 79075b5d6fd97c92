#include "engine/player_module.hpp"

#include "engine/media_configuration.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace velkaphon::rack {

namespace {

constexpr std::uint64_t kWaveformBuckets = 512;

void pushEvent(EventList* list, RackEventKind kind, std::uint32_t offset) {
    if (list != nullptr) {
        list->push(RackEvent{kind, offset});
    }
}

} // namespace

void startPlayback(PlayerState& state, std::int64_t startSample, std::uint64_t sourceOffset) {
    const std::uint64_t frames = state.sourceFrames.load();
    const std::uint64_t offset = std::min(frames, sourceOffset);
    PlaybackPosition& position = *state.position;
    position.sourceOffset.exchange(offset);
    position.startSample.exchange(startSample);
    position.endSample.exchange(frames > offset ? -1 : startSample);
    position.playing.exchange(frames > offset);
}

void stopPlayback(PlayerState& state) {
    state.position->playing.exchange(false);
}

void renderPlayer(PlayerState& state, float* const* outputs, std::uint32_t outputCount,
                  std::uint32_t frames, double hostRate, std::int64_t position) noexcept {
    state.clips.take();
    for (std::uint32_t c = 0; outputs != nullptr && c < outputCount; ++c) {
        if (outputs[c] != nullptr) {
            std::fill_n(outputs[c], frames, 0.0f);
        }
    }
    const AudioClip& clip = *state.clips.current();
    const std::uint64_t clipFrames = clip.frames();
    PlaybackPosition& playback = *state.position;
    if (!playback.playing.load() || !(hostRate > 0.0) || clip.channels == 0 || clipFrames == 0 ||
        outputs == nullptr) {
        return;
    }
    const double ratio = clip.sampleRate / hostRate;
    const std::int64_t start = playback.startSample.load();
    const double offset = static_cast<double>(playback.sourceOffset.load());
    for (std::uint32_t j = 0; j < frames; ++j) {
        const std::int64_t t = position + j;
        if (t < start) {
            continue;
        }
        const double where = static_cast<double>(t - start) * ratio + offset;
        const auto k = static_cast<std::uint64_t>(where);
        if (k >= clipFrames) {
            playback.endSample.exchange(t);
            playback.playing.exchange(false);
            return;
        }
        const double frac = where - static_cast<double>(k);
        const std::uint64_t k1 = std::min(k + 1, clipFrames - 1);
        for (std::uint32_t c = 0; c < outputCount; ++c) {
            if (outputs[c] == nullptr) {
                continue;
            }
            const std::uint32_t source = std::min(c, clip.channels - 1);
            const double s0 = clip.samples[k * clip.channels + source];
            const double s1 = clip.samples[k1 * clip.channels + source];
            outputs[c][j] = static_cast<float>(s0 + (s1 - s0) * frac);
        }
    }
}

PlayerModule::PlayerModule(nlohmann::json configuration)
    : configuration_(std::move(configuration)) {
    channels_ = mediaChannels(configuration_);
    followTransport_ = mediaFlag(configuration_, "followTransport", true);
    loadFile(mediaPath(configuration_, "Cannot open WAV file"));
    computeWaveform();
}

void PlayerModule::loadFile(const std::filesystem::path& path) {
    setLoadedAudio(readWavFile(path, wavPreloadLimit));
}

void PlayerModule::setLoadedAudio(WavAudio audio) {
    if (audio.channels == 0 || audio.sampleRate == 0 ||
        audio.samples.size() % audio.channels != 0) {
        throw std::runtime_error("Invalid audio data");
    }
    playback_.clips.drainRetired();
    auto clip = std::make_unique<AudioClip>();
    clip->channels = audio.channels;
    clip->sampleRate = audio.sampleRate;
    clip->samples = std::move(audio.samples);
    playback_.position->playing.exchange(false);
    playback_.sourceFrames.exchange(clip->frames());
    playback_.published.exchange(clip.get());
    playback_.clips.offer(std::move(clip));
}

void PlayerModule::computeWaveform() {
    waveform_ = nlohmann::json::array();
    const AudioClip* clip = playback_.published.load();
    const std::uint64_t frames = clip == nullptr ? 0 : clip->frames();
    for (std::uint64_t b = 0; b < kWaveformBuckets; ++b) {
        const std::uint64_t start = frames * b / kWaveformBuckets;
        const std::uint64_t end =
            std::min(frames, std::max(start + 1, frames * (b + 1) / kWaveformBuckets));
        float peak = 0.0f;
        for (std::uint64_t i = start * (clip == nullptr ? 0 : clip->channels);
             clip != nullptr && i < end * clip->channels; ++i) {
            peak = std::max(peak, std::abs(clip->samples[i]));
        }
        waveform_.push_back(std::min(peak, 1.0f));
    }
}

std::vector<PortSpec> PlayerModule::outputs() const {
    return {{"out", "File audio", channels_}};
}

void PlayerModule::prepare(const ProcessSpec& spec) {
    spec_ = spec;
    playback_.position->lastTransportPlaying.store(false, std::memory_order_relaxed);
    playback_.position->lastEndNotified.store(-1, std::memory_order_relaxed);
}

void PlayerModule::process(BlockContext& context) {
    const std::int64_t position = std::max<std::int64_t>(0, context.transport.samplePosition);
    const std::uint32_t command = commandMailbox_.exchange(0);
    const bool playing = context.transport.playing;
    PlaybackPosition& carried = *playback_.position;
    const bool wasPlaying = carried.lastTransportPlaying.load(std::memory_order_relaxed);
    if ((followTransport_ && playing && !wasPlaying) || command == 1) {
        startPlayback(playback_, position, 0);
        carried.lastEndNotified.store(-1, std::memory_order_relaxed);
        pushEvent(context.outputEvents, RackEventKind::Start, 0);
    }
    if ((followTransport_ && !playing && wasPlaying) || command == 2) {
        stopPlayback(playback_);
        pushEvent(context.outputEvents, RackEventKind::Ended, 0);
    }
    carried.lastTransportPlaying.store(playing, std::memory_order_relaxed);
    if (context.outputs == nullptr || context.outputCount == 0) {
        return;
    }

    const PortBusSpan& output = context.outputs[0];
    const std::uint32_t width = std::min<std::uint32_t>(output.channelCount, 64);
    std::array<float*, 64> frame{};
    std::uint64_t next = 0;
    for (std::uint32_t i = 0; i < context.frames; ++i) {
        for (; next < context.eventCount && context.events[next].sampleOffset <= i; ++next) {
            const RackEvent& event = context.events[next];
            if (event.sampleOffset != i) {
                continue;
            }
            if (event.kind == RackEventKind::Start) {
                startPlayback(playback_, position + i, 0);
                carried.lastEndNotified.store(-1, std::memory_order_relaxed);
                pushEvent(context.outputEvents, RackEventKind::Start, i);
            } else if (event.kind == RackEventKind::Stop) {
                stopPlayback(playback_);
                pushEvent(context.outputEvents, RackEventKind::Ended, i);
            }
        }
        for (std::uint32_t c = 0; c < width; ++c) {
            frame[c] = output.channels != nullptr && output.channels[c] != nullptr
                           ? output.channels[c] + i
                           : nullptr;
        }
        renderPlayer(playback_, frame.data(), width, 1, spec_.sampleRate, position + i);
        const std::int64_t end = carried.endSample.load();
        if (end != -1 && end != carried.lastEndNotified.load(std::memory_order_relaxed) &&
            end == position + i) {
            pushEvent(context.outputEvents, RackEventKind::Ended, i);
            carried.lastEndNotified.store(end, std::memory_order_relaxed);
        }
    }
}

void PlayerModule::setControl(std::uint32_t index, double value) {
    if (index == 0) {
        commandMailbox_.exchange(value > 0.5 ? 1u : 2u);
    }
}

nlohmann::json PlayerModule::status() const {
    const AudioClip* clip = playback_.published.load();
    const std::uint64_t frames = playback_.sourceFrames.load();
    nlohmann::json result = configuration_;
    result["waveform"] = waveform_;
    result["sourceSampleRate"] = clip == nullptr ? 0 : clip->sampleRate;
    result["sourceChannels"] = clip == nullptr ? 0 : clip->channels;
    result["sourceFrames"] = frames;
    result["status"] = {{"playing", playback_.position->playing.load()},
                        {"frames", frames},
                        {"endSample", playback_.position->endSample.load()}};
    return result;
}

void PlayerModule::stop() {
    stopPlayback(playback_);
    playback_.position->lastTransportPlaying.store(false);
    commandMailbox_.store(0);
}

void PlayerModule::continueFrom(const PlayerModule& previous) {
    if (channels_ != previous.channels_ || spec_.sampleRate != previous.spec_.sampleRate ||
        configuration_.at("path") != previous.configuration_.at("path")) {
        return;
    }
    playback_.position = previous.playback_.position;
}

} // namespace velkaphon::rack
