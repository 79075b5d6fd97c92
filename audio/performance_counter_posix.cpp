#include "audio/performance_counter.hpp"

#include <time.h>

namespace velkaphon::rack {

std::int64_t performanceCounter() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t performanceFrequency() noexcept {
    return 1000000000;
}

} // namespace velkaphon::rack
