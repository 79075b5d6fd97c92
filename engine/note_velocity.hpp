#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace velkaphon::rack {

// Every conversion between a MIDI velocity byte and a plug-in's or host's normalised note
// velocity goes through these. Plug-ins commonly encode a byte v as v / 127.0f, which lands just
// below or above v / 127, so the way back rounds to the nearest byte: truncating would turn
// most velocities into their neighbour and a 1 into 0. NaN and negative values never reach an
// unsigned cast, and a note-on never carries 0, which MIDI reads as a note-off.

// [any] The normalised velocity of a data byte (only its low seven bits count).
constexpr double normalisedVelocity(std::uint8_t data) noexcept {
    return static_cast<double>(data & 0x7F) / 127.0;
}

// [any] The same for a note-on: a 0 is sent as 1.
constexpr double normalisedNoteOnVelocity(std::uint8_t data) noexcept {
    return normalisedVelocity(std::max<std::uint8_t>(data & 0x7F, 1));
}

// [any] A note-off's velocity byte: NaN and anything below 0 count as 0, 1 and above as 127.
constexpr std::uint8_t noteOffVelocity(double normalised) noexcept {
    if (!(normalised > 0.0)) {
        return 0;
    }
    return normalised >= 1.0 ? 127 : static_cast<std::uint8_t>(normalised * 127.0 + 0.5);
}

// [any] A note-on's velocity byte, at least 1, or nothing for NaN: the note is dropped, since
// no velocity can be guessed for it.
constexpr std::optional<std::uint8_t> noteOnVelocity(double normalised) noexcept {
    if (normalised != normalised) {
        return std::nullopt;
    }
    return std::max<std::uint8_t>(noteOffVelocity(normalised), 1);
}

} // namespace velkaphon::rack
