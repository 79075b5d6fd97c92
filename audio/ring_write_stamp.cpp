#include "audio/ring_write_stamp.hpp"

#include "audio/performance_counter.hpp"

#include <algorithm>
#include <cmath>

namespace velkaphon::rack {

void RingWriteStamp::reset(double ringRate) noexcept {
    framesPerTick_ = ringRate / kHundredNanosecondUnitsPerSecond;
    origin_.store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
    frames_.store(0.0, std::memory_order_relaxed);
}

void RingWriteStamp::publish(std::uint64_t writeIndex, double frames, double time) noexcept {
    frames_.store(frames, std::memory_order_relaxed);
    origin_.store(time - static_cast<double>(writeIndex) / framesPerTick_,
                  std::memory_order_release);
}

double RingWriteStamp::steadyLevel(std::uint64_t writeIndex, double time) const noexcept {
    const double origin = origin_.load(std::memory_order_acquire);
    const double frames = frames_.load(std::memory_order_relaxed);
    const auto written = static_cast<double>(writeIndex);
    if (!std::isfinite(origin) || !std::isfinite(time)) {
        return written;
    }
    const double delivered = std::clamp((time - origin) * framesPerTick_ - written, 0.0, frames);
    return written + delivered - frames / 2.0;
}

} // namespace velkaphon::rack
