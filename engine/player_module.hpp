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

// Where playback stands. The players that rebuilds make in turn for the same file share one,
// so playback runs on across the switch of graphs: only one of them runs a block at a time.
struct PlaybackPosition {
    std::atomic<bool> playing{false};
    std::atomic<std::int64_t> startSample{0};
    std::atomic<std::uint64_t> sourceOffset{0};
    std::atomic<std::int64_t> endSample{-1};
    // The transport's playing flag seen by the previous block.
    std::atomic<bool> lastTransportPlaying{false};
    // The end for which an ended event was already sent; -1 for none.
    std::atomic<std::int64_t> lastEndNotified{-1};
};

// Playback state shared by the UI thread and the audio thread. published points at the clip
// handed over last; clips owns it, so it is freed once.
struct PlayerState {
    static constexpr std::uint32_t kRetiredSlots = 32;

    // The UI thread offers clips and frees the retired ones; the audio thread takes them.
    HandOver<AudioClip, kRetiredSlots> clips{std::make_unique<AudioClip>()};
    std::atomic<AudioClip*> published{nullptr};
    std::atomic<std::uint64_t> sourceFrames{0};
    // Replaced only before the audio thread sees the player; freed on the control thread
    // with the last player that holds it.
    std::shared_ptr<PlaybackPosition> position = std::make_shared<PlaybackPosition>();
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

    // [control] Before this player is published in place of previous: for the same file,
    // channel count and rate, playback goes on where previous is when the graphs switch.
    void continueFrom(const PlayerModule& previous);

private:
    void computeWaveform();

    nlohmann::json configuration_;
    nlohmann::json waveform_ = nlohmann::json::array();
    PlayerState playback_;
    ProcessSpec spec_{48000.0, 512};
    std::uint32_t channels_ = 2;
    bool followTransport_ = true;
    std::atomic<std::uint32_t> commandMailbox_{0};
};

} // namespace velkaphon::rack
