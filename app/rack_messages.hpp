#pragma once

// Refusals that more than one of the rack's operations give.

namespace velkaphon::rack {

inline constexpr const char* kRateOrBlockMessage =
    "Rack supports 8..384 kHz and blocks up to 4096 frames.";

} // namespace velkaphon::rack
