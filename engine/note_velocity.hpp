#pragma once

#include <cstdint>
#include <optional>

namespace velkaphon::rack {

// Every conversion of a plug-in's or host's normalised note velocity to a MIDI data byte goes
// through these, so that NaN and negative values never reach an unsigned cast. Values truncate
// (0.5 gives 63) and clamp at 127.

// [any] A note-off's velocity: NaN and anything below 0 count as 0.
constexpr std::uint8_t noteOffVelocity(double normalised) noexcept {
    if (!(normalised > 0.0)) {
        return 0;
    }
    return normalised >= 1.0 ? 127 : static_cast<std::uint8_t>(normalised * 127.0);
}

// [any] A note-on's velocity, or nothing for NaN: the note is dropped, since a note-on at 0
// would be played as a note-off.
constexpr std::optional<std::uint8_t> noteOnVelocity(double normalised) noexcept {
    if (normalised != normalised) {
        return std::nullopt;
    }
    return noteOffVelocity(normalised);
}

} // namespace velkaphon::rack
