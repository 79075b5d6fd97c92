#pragma once

// "clap.note-ports": a plug-in's note ports and the dialects they speak.

#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_NOTE_PORTS = "clap.note-ports";

inline constexpr std::uint32_t CLAP_NOTE_DIALECT_CLAP = 1u << 0;
inline constexpr std::uint32_t CLAP_NOTE_DIALECT_MIDI = 1u << 1;
inline constexpr std::uint32_t CLAP_NOTE_DIALECT_MIDI_MPE = 1u << 2;
inline constexpr std::uint32_t CLAP_NOTE_DIALECT_MIDI2 = 1u << 3;

struct clap_note_port_info {
    clap_id id;
    std::uint32_t supported_dialects;
    std::uint32_t preferred_dialect;
    char name[CLAP_NAME_SIZE];
};

struct clap_plugin_note_ports {
    std::uint32_t (*count)(const clap_plugin* plugin, bool is_input);
    bool (*get)(const clap_plugin* plugin, std::uint32_t index, bool is_input,
                clap_note_port_info* info);
};

struct clap_host_note_ports {
    std::uint32_t (*supported_dialects)(const clap_host* host);
    void (*rescan)(const clap_host* host, std::uint32_t flags);
};

static_assert(sizeof(clap_note_port_info) == 268);
static_assert(offsetof(clap_note_port_info, supported_dialects) == 4 &&
              offsetof(clap_note_port_info, preferred_dialect) == 8 &&
              offsetof(clap_note_port_info, name) == 12);
static_assert(sizeof(clap_plugin_note_ports) == 16 && offsetof(clap_plugin_note_ports, get) == 8);
static_assert(sizeof(clap_host_note_ports) == 16 && offsetof(clap_host_note_ports, rescan) == 8);

} // namespace velkaphon::rack
