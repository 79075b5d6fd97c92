#include "audio/spsc_ring.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velkaphon::rack {

void SpscRing::reset(std::int32_t frameChannels, std::uint64_t minimumFrames) {
    // A capacity at or below the initial silence would start the ring full or overfull.
    capacity = std::bit_ceil(std::max(minimumFrames, kMinimumCapacity));
    channels = frameChannels;
    data.assign(capacity * static_cast<std::uint64_t>(frameChannels), 0.0f);
    resetIndices(0, kInitialFrames);
}

bool SpscRing::push(const float* frames, std::int32_t count) noexcept {
    if (count <= 0) {
        return count == 0;
    }
    const auto [read, write] = producerView();
    const auto frameCount = static_cast<std::uint64_t>(count);
    if (frameCount + (write - read) > capacity) {
        return false;
    }
    const auto width = static_cast<std::uint64_t>(channels);
    const std::uint64_t first = write & (capacity - 1);
    const std::uint64_t beforeWrap = std::min(frameCount, capacity - first);
    std::memcpy(data.data() + first * width, frames, beforeWrap * width * sizeof(float));
    std::memcpy(data.data(), frames + beforeWrap * width,
                (frameCount - beforeWrap) * width * sizeof(float));
    publish(write + frameCount);
    return true;
}

} // namespace velkaphon::rack
