#pragma once

#include <cstdint>

namespace velkaphon::rack {

// What one compiled graph may hold; every buffer the audio thread touches is sized within these.
inline constexpr std::uint64_t kMaxNodeIdBytes = 128;
inline constexpr std::uint64_t kMaxPortsPerList = 128;
inline constexpr std::uint64_t kMaxPortIdBytes = 128;
inline constexpr std::uint32_t kMaxPortChannels = 64;
inline constexpr std::uint64_t kMaxGraphChannels = 8192;
inline constexpr std::uint64_t kMaxLatencyFrames = 1048576;
inline constexpr std::uint64_t kGraphMemoryBudget = 268435456;
inline constexpr std::uint64_t kEventCableBytes = 10256;
inline constexpr double kMinSampleRate = 8000.0;
inline constexpr double kMaxSampleRate = 384000.0;
inline constexpr std::uint32_t kMaxBlockFrames = 4096;

} // namespace velkaphon::rack
