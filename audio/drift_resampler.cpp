#include "audio/drift_resampler.hpp"

#include "audio/performance_counter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace velkaphon::rack {

namespace {

constexpr double kLargestFloat = 3.4028234663852886e+38;
constexpr double kEstimateGain = 0.05;
constexpr double kMinimumInterval = 0.25; // seconds
constexpr double kPlausibleDeviation = 0.005;
constexpr double kFillGain = 0.0002;
constexpr double kErrorLimit = 0.0005;
constexpr double kStepLimit = 0.005;
constexpr double kSlewPerFrame = 5e-7;
// The fill rises by a whole packet at each arrival and falls as frames are read; the controller
// steers on its mean through two low-passes. On the bare write index they last two seconds each,
// short enough to take up where the lock left the fill. On the producer's steady flow, where
// the lock starts at the target, they last sixteen, to average the wake-up times out as well.
constexpr double kFillSmoothingSeconds = 2.0;
constexpr double kSteadyFlowSmoothingSeconds = 16.0;
// Frames beyond the target before a fresh read position is taken.
constexpr double kPrimeMargin = 64.0;

void buildTable(std::vector<float>& table, double baseRatio) {
    using std::numbers::pi;
    const int taps = DriftResampler::kTaps;
    const int phases = DriftResampler::kPhases;
    const double cutoff = resamplerCutoff(baseRatio);
    table.assign(static_cast<std::size_t>((phases + 1) * taps), 0.0f);
    for (int phase = 0; phase <= phases; ++phase) {
        float* row = table.data() + phase * taps;
        double sum = 0.0;
        for (int k = 0; k < taps; ++k) {
            const double x =
                ((k - DriftResampler::kTapsBehind) - static_cast<double>(phase) / phases) * cutoff *
                pi;
            const double window = 0.42 - 0.5 * std::cos(2.0 * pi * k / (taps - 1)) +
                                  0.08 * std::cos(4.0 * pi * k / (taps - 1));
            const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
            const double h = sinc * cutoff * window;
            row[k] = static_cast<float>(h);
            sum += h;
        }
        for (int k = 0; k < taps; ++k) {
            row[k] = static_cast<float>(row[k] / sum);
        }
    }
}

} // namespace

double resamplerCutoff(double baseRatio) noexcept {
    return std::min(1.0, 1.0 / (baseRatio * (1.0 + kStepLimit))) * 0.94;
}

double fillError(double framesAhead, double target) noexcept {
    return std::clamp((framesAhead - target) / std::max(1.0, target) * kFillGain, -kErrorLimit,
                      kErrorLimit);
}

double estimateDeviceRate(RateEstimator& state, double position, double time,
                          double nominal) noexcept {
    if (state.first) {
        state.lastPosition = position;
        state.lastTime = time;
        state.estimate = nominal;
        state.first = false;
        return nominal;
    }
    const double seconds = (time - state.lastTime) / kHundredNanosecondUnitsPerSecond;
    if (seconds < kMinimumInterval) {
        return state.estimate;
    }
    const double measured = (position - state.lastPosition) / seconds;
    if (std::isfinite(measured) && measured >= nominal * (1.0 - kPlausibleDeviation) &&
        measured <= nominal * (1.0 + kPlausibleDeviation)) {
        state.estimate += kEstimateGain * (measured - state.estimate);
    }
    state.lastPosition = position;
    state.lastTime = time;
    return state.estimate;
}

void DriftResampler::configure(SpscRing* source, double ringRate, double consumerRate,
                               double fillTarget, double lockReserve, RingWriteStamp* stamp) {
    ring = source;
    writes = stamp;
    if (stamp != nullptr) {
        stamp->reset(ringRate);
    }
    readTime = std::numeric_limits<double>::quiet_NaN();
    runFrames = 0.0;
    baseRatio = ringRate / consumerRate;
    step = baseRatio;
    target = fillTarget;
    lockFill = fillTarget + kPrimeMargin + lockReserve;
    fillSmoothing = 1.0 / (consumerRate * (stamp != nullptr ? kSteadyFlowSmoothingSeconds
                                                            : kFillSmoothingSeconds));
    smoothedAhead.fill(fillTarget);
    position = 0.0;
    primed = false;
    everPrimed = false;
    buildTable(table, baseRatio);
}

bool DriftResampler::lock(std::uint64_t write, std::uint64_t read) noexcept {
    if (primed) {
        return true;
    }
    if (lockFill > static_cast<double>(write - read)) {
        return false;
    }
    position = static_cast<double>(read + SpscRing::kInitialFrames);
    if (writes != nullptr && std::isfinite(readTime)) {
        // Nothing has been heard yet: start where the fill, averaged over the run of reads,
        // stands at the target instead of steering there for minutes, once the ring holds
        // that much and the first run's window.
        const double run = runFrames * step;
        const double placed = std::min(writes->steadyLevel(write, readTime) - target - run / 2.0,
                                       static_cast<double>(write) - run - 2.0 * kTapsAhead);
        if (placed < position) {
            return false;
        }
        position = placed;
    }
    // The fill falls by the run as it is read: its mean over the run is half a run lower.
    smoothedAhead.fill(framesAhead(write) - runFrames * step / 2.0);
    primed = true;
    everPrimed = true;
    return true;
}

bool DriftResampler::readFrame(float* out, double ratio, double* ppm) noexcept {
    const auto [read, write] = ring->consumerView();
    if (!lock(write, read)) {
        return false;
    }
    double ahead = framesAhead(write);
    for (double& stage : smoothedAhead) {
        stage += (ahead - stage) * fillSmoothing;
        ahead = stage;
    }
    const double error = fillError(ahead, target);
    const double desired = std::clamp((1.0 + error) * ratio, baseRatio * (1.0 - kStepLimit),
                                      baseRatio * (1.0 + kStepLimit));
    const double slew = baseRatio * kSlewPerFrame;
    step += std::clamp(desired - step, -slew, slew);
    *ppm = (step / baseRatio - 1.0) * 1e6;
    return readAtStep(out, write, read);
}

double DriftResampler::framesAhead(std::uint64_t write) const noexcept {
    const double level =
        writes != nullptr ? writes->steadyLevel(write, readTime) : static_cast<double>(write);
    return level - position;
}

bool DriftResampler::readFrameAtFixedStep(float* out) noexcept {
    const auto [read, write] = ring->consumerView();
    return lock(write, read) && readAtStep(out, write, read);
}

bool DriftResampler::readAtStep(float* out, std::uint64_t write, std::uint64_t read) noexcept {
    const auto index = static_cast<std::uint64_t>(position);
    if (index < read + kTapsBehind || index + kTapsAhead >= write) {
        primed = false;
        ring->release(write);
        return false;
    }

    const double scaled = (position - static_cast<double>(index)) * kPhases;
    const int phase = std::min(static_cast<int>(scaled), kPhases - 1);
    std::array<float, kTaps> coefficients;
    interpolateCoefficients(row(phase), row(phase + 1), static_cast<float>(scaled - phase),
                            coefficients.data());
    std::array<double, 64> sums;
    sumTaps(*ring, index - kTapsBehind, coefficients.data(), sums.data());
    for (int c = 0; c < ring->channels; ++c) {
        const double sum = sums[c];
        out[c] =
            std::isfinite(sum) && std::fabs(sum) <= kLargestFloat ? static_cast<float>(sum) : 0.0f;
    }

    position += step;
    ring->release(static_cast<std::uint64_t>(position) - kTapsBehind);
    return true;
}

} // namespace velkaphon::rack
