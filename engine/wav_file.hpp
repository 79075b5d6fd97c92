#pragma once

#include "engine/sample_vector.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace velkaphon::rack {

// The most raw data bytes the player loads from one file.
inline constexpr std::uint64_t wavPreloadLimit = 536870912;

// The largest data byte count of a recording, so that its RIFF size (count + 36) fits in 32 bits.
inline constexpr std::uint64_t wavMaxDataBytes = 4294967259;

inline constexpr std::uint32_t wavHeaderBytes = 44;

struct WavAudio {
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;
    // Interleaved, frame after frame; a whole multiple of channels.
    SampleVector samples;
};

// [control] Reads a whole PCM 16/24/32-bit or float 32-bit file into floats. Throws
// std::runtime_error with a user-facing sentence; never returns a partial result.
WavAudio readWavFile(const std::filesystem::path& path, std::uint64_t preloadLimit);

// [control, writer] Writes the 44-byte header of a 32-bit float file at the start
// of the stream and leaves it at offset 44. The caller checks the stream's error flag. While more
// samples follow the counted ones (a running take), the RIFF size says it is unknown, so that no
// finished file reads like a cut take.
void writeWavHeader(std::FILE* stream, std::uint32_t channels, std::uint32_t sampleRate,
                    std::uint32_t dataBytes, bool moreFollows = false);

} // namespace velkaphon::rack
