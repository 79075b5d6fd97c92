#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace velkaphon::rack {

// When the producer of a ring last wrote, published beside the ring. Read at the consumer's
// moments, the fill is a staircase that rises a whole write at a time; as two clocks drift, the
// consumer samples it at a slowly sliding phase and its mean wanders by up to a write. With the
// time of each write, the consumer follows the producer's steady flow instead.
struct RingWriteStamp {
    // [control] Set-up only, before the ring is shared: the ring's nominal rate in frames per
    // second.
    void reset(double ringRate) noexcept;

    // [producer] With a write of frames that leaves the write index at writeIndex, at time
    // (100-ns units, the consumer's time base), published before or after the write.
    void publish(std::uint64_t writeIndex, double frames, double time) noexcept;

    // [consumer] Where the producer's steady flow stands at time: the write index plus
    // the frames it has delivered since the latest write at the nominal rate, at most that
    // write, less half a write, so that it averages to the staircase's own level over time.
    // The write index itself while nothing is published or time is not finite.
    double steadyLevel(std::uint64_t writeIndex, double time) const noexcept;

private:
    // When the steady flow stood at ring frame 0, in 100-ns units; the latest write's time less
    // its write index at the nominal rate. One value, so a write index of either side of a
    // concurrent write still clamps to a level near the truth.
    std::atomic<double> origin_{std::numeric_limits<double>::quiet_NaN()};
    std::atomic<double> frames_{0.0};
    double framesPerTick_ = 0.0;
};

} // namespace velkaphon::rack
