#include "audio/performance_counter.hpp"

namespace velkaphon::rack {

double preciseTime100ns() noexcept {
    return static_cast<double>(performanceCounter()) * kHundredNanosecondUnitsPerSecond /
           static_cast<double>(performanceFrequency());
}

double counterMilliseconds(std::int64_t from, std::int64_t to) noexcept {
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(performanceFrequency());
}

} // namespace velkaphon::rack
