#pragma once

#include "audio/audio_backend.hpp"

#include <cstdint>

namespace velkaphon::rack {

// [audio] (the master endpoint's worker) One chunk of 1..blockFrames frames: gathers every
// running capture endpoint through its resampler, calls the callback once, and hands the rows
// of every secondary render endpoint to its ring. Missing input becomes silence and is counted;
// a secondary ring that is full faults that endpoint only.
void runAggregateCycle(AudioBackend& backend, std::int32_t frames) noexcept;

} // namespace velkaphon::rack
