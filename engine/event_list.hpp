#pragma once

#include <array>
#include <cstdint>

namespace velkaphon::rack {

enum class RackEventKind : std::uint8_t {
    Midi = 0,
    NoteOn = 1,
    NoteOff = 2,
    // Crosses event cables without the latency delay.
    Start = 3,
    Stop = 4,
    Ended = 5,
};

// Trivially copyable so that lists and queues move whole records without allocating.
struct RackEvent {
    RackEventKind kind = RackEventKind::Midi;
    std::uint32_t sampleOffset = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    bool operator==(const RackEvent&) const = default;
};

// A fixed list of events in ascending offset order; equal offsets keep the order they were added.
// Belongs to one thread at a time; the engine's lists live on the audio thread.
struct EventList {
    static constexpr std::uint32_t kCapacity = 256;

    std::array<RackEvent, kCapacity> events{};
    std::uint32_t count = 0;
    std::uint32_t dropped = 0;

    // [audio] Returns false and counts the event as dropped when the list is full.
    bool push(const RackEvent& event) noexcept;

    // [audio] Leaves the slots as they are.
    void clear() noexcept {
        count = 0;
        dropped = 0;
    }
};

} // namespace velkaphon::rack
