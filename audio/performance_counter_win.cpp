#include "audio/performance_counter.hpp"

#include <windows.h>

namespace velkaphon::rack {

std::int64_t performanceCounter() noexcept {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

std::int64_t performanceFrequency() noexcept {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

} // namespace velkaphon::rack
