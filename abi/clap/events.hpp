#pragma once

// CLAP events and the two event-list interfaces of a process call.

#include "abi/clap/version.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

struct clap_event_header {
    std::uint32_t size; // of the whole event, header included
    std::uint32_t time; // sample offset in the block
    std::uint16_t space_id;
    std::uint16_t type;
    std::uint32_t flags;
};

inline constexpr std::uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;

inline constexpr std::uint32_t CLAP_EVENT_IS_LIVE = 1u << 0;
inline constexpr std::uint32_t CLAP_EVENT_DONT_RECORD = 1u << 1;

inline constexpr std::uint16_t CLAP_EVENT_NOTE_ON = 0;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_OFF = 1;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_CHOKE = 2;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_END = 3;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_EXPRESSION = 4;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_VALUE = 5;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_MOD = 6;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_BEGIN = 7;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_END = 8;
inline constexpr std::uint16_t CLAP_EVENT_TRANSPORT = 9;
inline constexpr std::uint16_t CLAP_EVENT_MIDI = 10;
inline constexpr std::uint16_t CLAP_EVENT_MIDI_SYSEX = 11;
inline constexpr std::uint16_t CLAP_EVENT_MIDI2 = 12;

// NOTE_ON, NOTE_OFF, NOTE_CHOKE and NOTE_END.
struct clap_event_note {
    clap_event_header header;
    std::int32_t note_id; // -1 for any
    std::int16_t port_index;
    std::int16_t channel; // 0..15, -1 for any
    std::int16_t key;     // 0..127, -1 for any
    double velocity;      // 0..1
};

struct clap_event_param_value {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double value;
};

struct clap_event_midi {
    clap_event_header header;
    std::uint16_t port_index;
    std::uint8_t data[3];
};

// Fixed point with 31 fractional bits.
using clap_beattime = std::int64_t;
using clap_sectime = std::int64_t;
inline constexpr std::int64_t CLAP_BEATTIME_FACTOR = std::int64_t{1} << 31;
inline constexpr std::int64_t CLAP_SECTIME_FACTOR = std::int64_t{1} << 31;

inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TEMPO = 1u << 0;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 1u << 1;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 1u << 2;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 1u << 3;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_PLAYING = 1u << 4;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_RECORDING = 1u << 5;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_LOOP_ACTIVE = 1u << 6;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_WITHIN_PRE_ROLL = 1u << 7;

struct clap_event_transport {
    clap_event_header header;
    std::uint32_t flags;
    clap_beattime song_pos_beats;
    clap_sectime song_pos_seconds;
    double tempo; // beats per minute
    double tempo_inc;
    clap_beattime loop_start_beats;
    clap_beattime loop_end_beats;
    clap_sectime loop_start_seconds;
    clap_sectime loop_end_seconds;
    clap_beattime bar_start;
    std::int32_t bar_number;
    std::uint16_t tsig_num;
    std::uint16_t tsig_denom;
};

struct clap_input_events {
    void* ctx;
    std::uint32_t (*size)(const clap_input_events* list);
    // Null when index is not below size.
    const clap_event_header* (*get)(const clap_input_events* list, std::uint32_t index);
};

struct clap_output_events {
    void* ctx;
    // Copies the event; false when the list cannot take it.
    bool (*try_push)(const clap_output_events* list, const clap_event_header* event);
};

static_assert(sizeof(clap_event_header) == 16);
static_assert(offsetof(clap_event_header, time) == 4 &&
              offsetof(clap_event_header, space_id) == 8 &&
              offsetof(clap_event_header, type) == 10 && offsetof(clap_event_header, flags) == 12);

static_assert(sizeof(clap_event_note) == 40);
static_assert(offsetof(clap_event_note, note_id) == 16 &&
              offsetof(clap_event_note, port_index) == 20 &&
              offsetof(clap_event_note, channel) == 22 && offsetof(clap_event_note, key) == 24 &&
              offsetof(clap_event_note, velocity) == 32);

static_assert(sizeof(clap_event_param_value) == 56);
static_assert(offsetof(clap_event_param_value, param_id) == 16 &&
              offsetof(clap_event_param_value, cookie) == 24 &&
              offsetof(clap_event_param_value, note_id) == 32 &&
              offsetof(clap_event_param_value, port_index) == 36 &&
              offsetof(clap_event_param_value, channel) == 38 &&
              offsetof(clap_event_param_value, key) == 40 &&
              offsetof(clap_event_param_value, value) == 48);

static_assert(sizeof(clap_event_midi) == 24);
static_assert(offsetof(clap_event_midi, port_index) == 16 && offsetof(clap_event_midi, data) == 18);

static_assert(sizeof(clap_event_transport) == 104);
static_assert(offsetof(clap_event_transport, flags) == 16 &&
              offsetof(clap_event_transport, song_pos_beats) == 24 &&
              offsetof(clap_event_transport, song_pos_seconds) == 32 &&
              offsetof(clap_event_transport, tempo) == 40 &&
              offsetof(clap_event_transport, tempo_inc) == 48 &&
              offsetof(clap_event_transport, loop_start_beats) == 56 &&
              offsetof(clap_event_transport, loop_end_seconds) == 80 &&
              offsetof(clap_event_transport, bar_start) == 88 &&
              offsetof(clap_event_transport, bar_number) == 96 &&
              offsetof(clap_event_transport, tsig_num) == 100 &&
              offsetof(clap_event_transport, tsig_denom) == 102);

static_assert(sizeof(clap_input_events) == 24 && offsetof(clap_input_events, size) == 8 &&
              offsetof(clap_input_events, get) == 16);
static_assert(sizeof(clap_output_events) == 16 && offsetof(clap_output_events, try_push) == 8);

} // namespace velkaphon::rack
