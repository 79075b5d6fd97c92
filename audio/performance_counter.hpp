#pragma once

#include <cstdint>

namespace velkaphon::rack {

// QueryPerformanceCounter and its frequency on Windows, the monotonic clock elsewhere.
// [any] Never blocks or allocates.
std::int64_t performanceCounter() noexcept;
std::int64_t performanceFrequency() noexcept;

// Core Audio's own time stamps count 100-ns units.
inline constexpr double kHundredNanosecondUnitsPerSecond = 10000000.0;

// The counter in 100-ns units, the unit of Core Audio's own time stamps.
double preciseTime100ns() noexcept;

// Milliseconds between two counter readings.
double counterMilliseconds(std::int64_t from, std::int64_t to) noexcept;

} // namespace velkaphon::rack
