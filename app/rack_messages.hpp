#pragma once

// Refusals and notices that more than one of the rack's operations give.

namespace velkaphon::rack {

inline constexpr const char* kRateOrBlockMessage =
    "Rack supports 8..384 kHz and blocks up to 4096 frames.";

// A hosted plug-in asks for a restart that the rack does not make for it.
inline constexpr const char* kRestartRequested =
    "A plugin requested new ports or latency. Rebuild the patch before continuing.";

} // namespace velkaphon::rack
