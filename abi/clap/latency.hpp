#pragma once

// "clap.latency": a plug-in's latency in samples, and the host's side for changes.

#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"

#include <cstdint>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_LATENCY = "clap.latency";

struct clap_plugin_latency {
    std::uint32_t (*get)(const clap_plugin* plugin);
};

struct clap_host_latency {
    void (*changed)(const clap_host* host);
};

static_assert(sizeof(clap_plugin_latency) == 8);
static_assert(sizeof(clap_host_latency) == 8);

} // namespace velkaphon::rack
