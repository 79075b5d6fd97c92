#pragma once

#include <cstdint>

namespace velkaphon::rack {

// What a hosted plug-in may declare, in either format; one beyond any of these fails its set-up.
inline constexpr std::uint32_t kMaxPluginBuses = 64;
inline constexpr std::uint32_t kMaxPluginBusChannels = 64;
inline constexpr std::uint32_t kMaxPluginSideChannels = 512;
inline constexpr std::uint32_t kMaxPluginParameters = 4096;
// Ten seconds at the highest sample rate.
inline constexpr std::uint32_t kMaxPluginLatency = 3840000;

} // namespace velkaphon::rack
