#include "engine/recorder_meters.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velkaphon::rack {

namespace {

constexpr double kLargestFloat = 3.4028234663852886e38;
constexpr int kSnapshotTries = 4;

// The generation brackets every change of the published fields: odd while they change. The
// fields are stored with release and loaded with acquire (free on x86) instead of fences, which
// ThreadSanitizer cannot follow: a reader that sees any new value then sees the odd generation.
void beginChange(RecorderMeters& meters) noexcept {
    meters.generation.fetch_add(1, std::memory_order_acq_rel);
}

void endChange(RecorderMeters& meters) noexcept {
    meters.generation.fetch_add(1, std::memory_order_release);
}

void copyPublished(const RecorderMeters& meters, MeterSnapshot& snapshot) noexcept {
    for (std::uint32_t c = 0; c < snapshot.channels; ++c) {
        snapshot.peaks[c] = meters.peakOut[c].load(std::memory_order_acquire);
        snapshot.rms[c] = meters.rmsOut[c].load(std::memory_order_acquire);
        snapshot.clips[c] = meters.clip[c].load(std::memory_order_acquire);
    }
    snapshot.invalidSamples = meters.invalidSamples.load(std::memory_order_acquire);
}

} // namespace

void updateMeters(RecorderMeters& meters, const float* const* inputs, std::uint32_t inputChannels,
                  std::uint32_t frames) noexcept {
    if (frames == 0) {
        return;
    }
    beginChange(meters);
    const double decay = std::exp(-static_cast<double>(frames) / (meters.sampleRate * 0.35));
    std::uint64_t invalid = 0;
    const std::uint32_t channels = std::min(meters.channels, kMeterChannels);
    for (std::uint32_t c = 0; c < channels; ++c) {
        const float* data = inputs != nullptr && c < inputChannels ? inputs[c] : nullptr;
        double sum = 0.0;
        double blockPeak = 0.0;
        bool clipped = false;
        std::uint32_t lastClip = 0;
        if (data != nullptr) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                const double x = data[i];
                if (!std::isfinite(x)) {
                    ++invalid;
                    continue;
                }
                sum += x * x;
                blockPeak = std::max(blockPeak, std::abs(x));
                if (std::abs(x) >= 1.0) {
                    clipped = true;
                    lastClip = i;
                }
            }
        }
        const double blockRms = std::sqrt(sum / frames);
        meters.peak[c] = std::max(decay * meters.peak[c], blockPeak);
        meters.rms[c] = std::max(decay * meters.rms[c], blockRms);
        if (clipped) {
            const std::uint64_t since = frames - 1 - lastClip;
            meters.clipHold[c] =
                since < meters.clipHoldSamples ? meters.clipHoldSamples - since : 0;
        } else {
            meters.clipHold[c] = meters.clipHold[c] > frames ? meters.clipHold[c] - frames : 0;
        }
        meters.peakOut[c].store(static_cast<float>(std::min(meters.peak[c], kLargestFloat)),
                                std::memory_order_release);
        meters.rmsOut[c].store(static_cast<float>(std::min(meters.rms[c], kLargestFloat)),
                               std::memory_order_release);
        meters.clip[c].store(meters.clipHold[c] != 0, std::memory_order_release);
    }
    if (invalid != 0) {
        meters.invalidSamples.fetch_add(invalid, std::memory_order_release);
    }
    endChange(meters);
}

void resetMeters(RecorderMeters& meters) noexcept {
    beginChange(meters);
    meters.peak.fill(0.0);
    meters.rms.fill(0.0);
    meters.clipHold.fill(0);
    for (std::uint32_t c = 0; c < kMeterChannels; ++c) {
        meters.peakOut[c].store(0.0f, std::memory_order_release);
        meters.rmsOut[c].store(0.0f, std::memory_order_release);
        meters.clip[c].store(false, std::memory_order_release);
    }
    meters.invalidSamples.store(0, std::memory_order_release);
    endChange(meters);
}

void configureMeters(RecorderMeters& meters, std::uint32_t channels, double sampleRate) noexcept {
    meters.channels = std::min(channels, kMeterChannels);
    meters.sampleRate = std::isfinite(sampleRate) && sampleRate > 0.0 ? sampleRate : 48000.0;
    meters.clipHoldSamples = static_cast<std::uint64_t>(std::ceil(2.0 * meters.sampleRate));
    resetMeters(meters);
}

MeterSnapshot snapshotMeters(const RecorderMeters& meters) noexcept {
    MeterSnapshot snapshot;
    snapshot.channels = std::min(meters.channels, kMeterChannels);
    for (int attempt = 0; attempt < kSnapshotTries; ++attempt) {
        const std::uint64_t before = meters.generation.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            continue;
        }
        copyPublished(meters, snapshot);
        if (meters.generation.load(std::memory_order_relaxed) == before) {
            snapshot.generation = static_cast<std::uint32_t>(before);
            return snapshot;
        }
    }
    copyPublished(meters, snapshot);
    snapshot.generation =
        static_cast<std::uint32_t>(meters.generation.load(std::memory_order_acquire));
    snapshot.coherent = false;
    return snapshot;
}

} // namespace velkaphon::rack
