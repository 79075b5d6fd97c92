#pragma once

#include <cstdint>

namespace velkaphon::rack {

// [any] The system's id of the calling thread, never 0 (0 means "no thread").
std::uint32_t currentThreadId() noexcept;

} // namespace velkaphon::rack
