#pragma once

#include "engine/hand_over.hpp"
#include "engine/module.hpp"
#include "engine/wav_file.hpp"

#include <atomic>
#include <filesystem>
#include <memory>

namespace velkaphon::rack {

// Immutable once handed to the audio thread.
struct AudioClip {
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;
    SampleVector samples;

    std::uint64_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Playback state shared by the UI thread and the audio thread. published points at the clip
// handed over last; clips owns it, so it is freed once.
struct PlayerState {
    static constexpr std::uint32_t kRetiredSlots = 32;

    // The UI thread offers clips and frees the retired ones; the audio thread takes them.
    HandOver<AudioClip, kRetiredSlots> clips{std::make_unique<AudioClip>()};
    std::atomic<AudioClip*> published{nullptr};
    std::atomic<std::uint64_t> sourceFrames{0};
    std::atomic<bool> playing{false};
    std::atomic<std::int64_t> startSample{0};
    std::atomic<std::uint64_t> sourceOffset{0};
    std::atomic<std::int64_t> endSample{-1};
};

// [control, audio]
void startPlayback(PlayerState& state, std::int64_t startSample, std::uint64_t sourceOffset);
void stopPlayback(PlayerState& state);

// [audio] Takes a pending clip when the retired ring has room, then renders frames from
// timeline position on, linearly resampled to hostRate.
void renderPlayer(PlayerState& state, float* const* outputs, std::uint32_t outputCount,
                  std::uint32_t frames, double hostRate, std::int64_t position) noexcept;

// The module of type "player": one WAV file loaded whole at creation, played once on its output.
class PlayerModule final : public Module {
public:
    // [control] Throws the configuration's and the reader's messages.
    explicit PlayerModule(nlohmann::json configuration);

    // [control] Replaces the clip; the audio thread takes it at its next block.
    void loadFile(const std::filesystem::path& path);
    void setLoadedAudio(WavAudio audio);

    std::vector<PortSpec> inputs() const override { return {}; }
    std::vector<PortSpec> outputs() const override;
    void prepare(const ProcessSpec& spec) override;
    // [audio]
    void process(BlockContext& context) override;
    std::uint32_t latencySamples() const override { return 0; }
    float level() const override { return 0.0f; }
    // [control, audio]
    void setControl(std::uint32_t index, double value) override;
    // [control]
    nlohmann::json status() const override;

    // [control] With the rack stopped.
    void stop();

private:
    void computeWaveform();

    nlohmann::json configuration_;
    nlohmann::json waveform_ = nlohmann::json::array();
    PlayerState playback_;
    ProcessSpec spec_{48000.0, 512};
    std::uint32_t channels_ = 2;
    bool lastTransportPlaying_ = false;
    bool followTransport_ = true;
    std::int64_t lastEndNotified_ = -1;
    std::atomic<std::uint32_t> commandMailbox_{0};
};

} // namespace velkaphon::rack
