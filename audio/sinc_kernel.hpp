#pragma once

#include "audio/spsc_ring.hpp"

#include <cstdint>

namespace velkaphon::rack {

// The 64-tap sum of the drift resampler in SSE2, the baseline of every x86-64 target.
inline constexpr int kSincTaps = 64;

// [consumer] Blends two coefficient rows in single precision: lower + (upper - lower) x mu.
void interpolateCoefficients(const float* lower, const float* upper, float mu,
                             float* coefficients) noexcept;

// [consumer] sums[c] := the double-precision sum over the 64 frames from ring frame first
// of sample c times its coefficient, for every channel of the ring.
void sumTaps(const SpscRing& ring, std::uint64_t first, const float* coefficients,
             double* sums) noexcept;

} // namespace velkaphon::rack
