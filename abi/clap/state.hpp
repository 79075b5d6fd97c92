#pragma once

// "clap.state": a plug-in's state saved to and loaded from a byte stream.

#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"
#include "abi/clap/stream.hpp"

#include <cstddef>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_STATE = "clap.state";

struct clap_plugin_state {
    bool (*save)(const clap_plugin* plugin, const clap_ostream* stream);
    bool (*load)(const clap_plugin* plugin, const clap_istream* stream);
};

struct clap_host_state {
    void (*mark_dirty)(const clap_host* host);
};

static_assert(sizeof(clap_plugin_state) == 16 && offsetof(clap_plugin_state, load) == 8);
static_assert(sizeof(clap_host_state) == 8);

} // namespace velkaphon::rack
