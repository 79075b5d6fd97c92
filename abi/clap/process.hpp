#pragma once

// The audio buffers and the record of one CLAP process call.

#include "abi/clap/events.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

// One port's channels; a plug-in uses data32 or data64.
struct clap_audio_buffer {
    float** data32;
    double** data64;
    std::uint32_t channel_count;
    std::uint32_t latency;
    std::uint64_t constant_mask; // bit i: channel i holds one value throughout
};

struct clap_process {
    std::int64_t steady_time; // -1 when not available
    std::uint32_t frames_count;
    const clap_event_transport* transport;
    const clap_audio_buffer* audio_inputs;
    clap_audio_buffer* audio_outputs;
    std::uint32_t audio_inputs_count;
    std::uint32_t audio_outputs_count;
    const clap_input_events* in_events;
    const clap_output_events* out_events;
};

using clap_process_status = std::int32_t;
inline constexpr clap_process_status CLAP_PROCESS_ERROR = 0;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE = 1;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2;
inline constexpr clap_process_status CLAP_PROCESS_TAIL = 3;
inline constexpr clap_process_status CLAP_PROCESS_SLEEP = 4;

static_assert(sizeof(clap_audio_buffer) == 32);
static_assert(offsetof(clap_audio_buffer, data64) == 8 &&
              offsetof(clap_audio_buffer, channel_count) == 16 &&
              offsetof(clap_audio_buffer, latency) == 20 &&
              offsetof(clap_audio_buffer, constant_mask) == 24);

static_assert(sizeof(clap_process) == 64);
static_assert(offsetof(clap_process, frames_count) == 8 &&
              offsetof(clap_process, transport) == 16 &&
              offsetof(clap_process, audio_inputs) == 24 &&
              offsetof(clap_process, audio_outputs) == 32 &&
              offsetof(clap_process, audio_inputs_count) == 40 &&
              offsetof(clap_process, audio_outputs_count) == 44 &&
              offsetof(clap_process, in_events) == 48 && offsetof(clap_process, out_events) == 56);

} // namespace velkaphon::rack
