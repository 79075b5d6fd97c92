#pragma once

#include "audio/ring_write_stamp.hpp"
#include "audio/sinc_kernel.hpp"
#include "audio/spsc_ring.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace velkaphon::rack {

// A device's real rate from its clock against the performance counter. Local to one worker.
struct RateEstimator {
    double lastPosition = 0.0;
    double lastTime = 0.0;
    double estimate = 0.0;
    bool first = true;
};

// [worker] position in frames, time in 100-ns units; returns the estimate in Hz.
// Measurements outside nominal +-0.5 % or not finite are ignored; readings less than 0.25 s
// apart leave everything as it was.
double estimateDeviceRate(RateEstimator& state, double position, double time,
                          double nominal) noexcept;

// The sinc filter's cutoff, a fraction of the ring's Nyquist rate, with room for the 0.5 % the
// step may deviate.
double resamplerCutoff(double baseRatio) noexcept;

// The controller's correction for a fill framesAhead of the read position against the target.
double fillError(double framesAhead, double target) noexcept;

// Reads a ring at the consumer's rate through a 64-tap windowed-sinc interpolator whose step
// follows the measured rate ratio, steered slowly to hold the ring's fill at a target.
struct DriftResampler {
    static constexpr int kTaps = kSincTaps;
    static constexpr int kPhases = 1024;
    // Taps behind and ahead of the interpolation point.
    static constexpr int kTapsBehind = 31;
    static constexpr int kTapsAhead = 32;

    SpscRing* ring = nullptr;
    // The producer's writes, when it publishes them: the controller then steers on its steady
    // flow rather than on the fill's staircase.
    const RingWriteStamp* writes = nullptr;
    // The consumer's time of its current run of reads, in the time base of the writes' stamps,
    // and the consumer frames of that run.
    double readTime = std::numeric_limits<double>::quiet_NaN();
    double runFrames = 0.0;
    std::vector<float> table; // (kPhases + 1) rows of kTaps
    double position = 0.0;
    double baseRatio = 1.0;
    double step = 1.0;
    double target = 0.0;
    // Ring fill at which a fresh read position is taken.
    double lockFill = 0.0;
    // The fill ahead of the read position after each of two low-passes, and their weight per
    // frame.
    std::array<double, 2> smoothedAhead{};
    double fillSmoothing = 0.0;
    bool primed = false;
    bool everPrimed = false;

    // Set-up only, while the workers are parked. Rates in Hz; target and reserve in ring frames.
    // The resampler locks once the ring holds the target, a 64-frame margin and the reserve.
    // A stamp, when given, is reset to the ring's rate and followed.
    void configure(SpscRing* source, double ringRate, double consumerRate, double fillTarget,
                   double lockReserve = 0.0, RingWriteStamp* stamp = nullptr);

    // [consumer] Before each run of reads: when the run happens (100-ns units) and how
    // many frames it will read.
    void beginReads(double time, double frames) noexcept {
        readTime = time;
        runFrames = frames;
    }

    // [consumer] Writes one frame of ring channels into out and the step's
    // deviation from the base ratio into ppm; false (out untouched) when no frame is ready.
    bool readFrame(float* out, double ratio, double* ppm) noexcept;

    // [consumer] readFrame without the controller: the step stays where it is.
    bool readFrameAtFixedStep(float* out) noexcept;

    const float* row(int phase) const noexcept { return table.data() + phase * kTaps; }

private:
    // [consumer] Frames ahead of the read position: from the producer's steady flow when
    // it publishes its writes, else from the write index.
    double framesAhead(std::uint64_t write) const noexcept;
    // [consumer] Takes a fresh read position once the fill reaches lockFill, and when the
    // producer stamps its writes, where the fill averaged over the run of reads is the target
    // once the ring holds that much; false while it does not.
    bool lock(std::uint64_t write, std::uint64_t read) noexcept;
    // [consumer] One frame at the read position, then one step on; false (and the waiting
    // frames dropped) when the window is not wholly inside the ring.
    bool readAtStep(float* out, std::uint64_t write, std::uint64_t read) noexcept;
};

} // namespace velkaphon::rack
