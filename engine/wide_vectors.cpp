#include "engine/wide_vectors.hpp"

namespace velkaphon::rack {

namespace {

// Before main: checks the processor and that the system saves the wide registers.
bool detectWideVectors() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}

} // namespace

const bool kWideVectors = detectWideVectors();

} // namespace velkaphon::rack
