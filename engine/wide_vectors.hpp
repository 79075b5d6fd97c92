#pragma once

#include <cstdint>

namespace velkaphon::rack {

// [any] The processor and the system both support 256-bit vectors; fixed before main runs,
// so kernels that have a wide form choose it with one predictable test.
extern const bool kWideVectors;

// [audio] Frames zeros, eight at a time. Only when kWideVectors holds.
void wideZero(float* channel, std::uint32_t frames) noexcept;

} // namespace velkaphon::rack
