#pragma once

#include "engine/index_ring.hpp"

#include <cstdint>
#include <vector>

namespace velkaphon::rack {

// Interleaved float frames handed from one producer thread to one consumer thread.
// Its indices count frames; frame n lives in slot n & (capacity - 1).
// The consumer side is DriftResampler::readFrame.
struct SpscRing : IndexRing<std::uint64_t> {
    // Frames of silence a fresh ring holds, so the reader has history behind its first frame.
    static constexpr std::uint64_t kInitialFrames = 32;
    // Smallest capacity: room for the initial silence and as much again.
    static constexpr std::uint64_t kMinimumCapacity = 64;

    std::vector<float> data;
    std::int32_t channels = 0;
    std::uint64_t capacity = 0;

    // [control] Set-up only, before the ring is shared: capacity is the smallest power of two of at
    // least minimumFrames (and at least kMinimumCapacity); the ring then holds kInitialFrames of
    // silence.
    void reset(std::int32_t frameChannels, std::uint64_t minimumFrames);

    // [producer] Copies all count frames or, when they do not fit, nothing.
    bool push(const float* frames, std::int32_t count) noexcept;

    // [producer, consumer] The frame in index's slot.
    const float* frameAt(std::uint64_t index) const noexcept {
        return data.data() + (index & (capacity - 1)) * static_cast<std::uint64_t>(channels);
    }
};

} // namespace velkaphon::rack
