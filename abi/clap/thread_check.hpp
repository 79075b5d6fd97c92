#pragma once

// "clap.thread-check": lets a plug-in ask on which of the host's threads it runs.

#include "abi/clap/host.hpp"

#include <cstddef>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_THREAD_CHECK = "clap.thread-check";

struct clap_host_thread_check {
    bool (*is_main_thread)(const clap_host* host);
    bool (*is_audio_thread)(const clap_host* host);
};

static_assert(sizeof(clap_host_thread_check) == 16 &&
              offsetof(clap_host_thread_check, is_audio_thread) == 8);

} // namespace velkaphon::rack
