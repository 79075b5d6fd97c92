#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace velkaphon::rack {

inline constexpr std::uint32_t kMeterChannels = 64;

// The input levels of a recorder: decaying peak and RMS, a clip indicator held for two seconds
// and a count of non-finite samples. One writer at a time (the audio thread, or the UI thread
// while audio is stopped); readers take a copy through the generation counter.
struct RecorderMeters {
    std::uint32_t channels = 0;
    double sampleRate = 48000.0;
    std::uint64_t clipHoldSamples = 96000;
    std::array<double, kMeterChannels> peak{};
    std::array<double, kMeterChannels> rms{};
    std::array<std::uint64_t, kMeterChannels> clipHold{};
    std::array<std::atomic<float>, kMeterChannels> peakOut{};
    std::array<std::atomic<float>, kMeterChannels> rmsOut{};
    std::array<std::atomic<bool>, kMeterChannels> clip{};
    std::atomic<std::uint64_t> invalidSamples{0};
    // Odd while an update or reset is in progress.
    std::atomic<std::uint64_t> generation{0};
};

struct MeterSnapshot {
    std::array<float, kMeterChannels> peaks{};
    std::array<float, kMeterChannels> rms{};
    std::array<bool, kMeterChannels> clips{};
    std::uint64_t invalidSamples = 0;
    std::uint32_t channels = 0;
    std::uint32_t generation = 0;
    bool coherent = true;
};

// [audio] Once per block; inputs may be null (every channel silent).
void updateMeters(RecorderMeters& meters, const float* const* inputs, std::uint32_t inputChannels,
                  std::uint32_t frames) noexcept;

// [control] While no update runs.
void resetMeters(RecorderMeters& meters) noexcept;

// [control] (prepare) Channels, rate and clip hold for a prepared recorder, then a reset.
void configureMeters(RecorderMeters& meters, std::uint32_t channels, double sampleRate) noexcept;

// [control] Never waits: four tries, then one copy marked incoherent.
MeterSnapshot snapshotMeters(const RecorderMeters& meters) noexcept;

} // namespace velkaphon::rack
