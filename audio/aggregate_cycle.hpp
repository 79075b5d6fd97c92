#pragma once

#include "audio/audio_backend.hpp"

#include <cstdint>

namespace velkaphon::rack {

// [audio] (the master endpoint's worker) One chunk of 1..blockFrames frames: gathers every
// running capture endpoint through its resampler, calls the callback once, and hands the rows
// of every secondary render endpoint to its ring. Missing input becomes silence and is counted;
// a secondary ring that is full faults that endpoint only.
void runAggregateCycle(AudioBackend& backend, std::int32_t frames) noexcept;

// [audio] (the master endpoint's worker) Before the chunks of one device period of frames
// frames, at time (100-ns units, the time base of the devices' clocks; not finite when the
// master's clock did not answer): every capture ring is read then, and every secondary render
// ring is stamped with the write of the period's frames.
void beginAggregatePeriod(AudioBackend& backend, double time, std::uint32_t frames) noexcept;

} // namespace velkaphon::rack
