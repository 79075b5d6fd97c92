#pragma once

// "clap.params": a plug-in's parameters, and the host's side for rescans and flushes.

#include "abi/clap/events.hpp"
#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_PARAMS = "clap.params";

inline constexpr std::uint32_t CLAP_PARAM_IS_STEPPED = 1u << 0;
inline constexpr std::uint32_t CLAP_PARAM_IS_PERIODIC = 1u << 1;
inline constexpr std::uint32_t CLAP_PARAM_IS_HIDDEN = 1u << 2;
inline constexpr std::uint32_t CLAP_PARAM_IS_READONLY = 1u << 3;
inline constexpr std::uint32_t CLAP_PARAM_IS_BYPASS = 1u << 4;
inline constexpr std::uint32_t CLAP_PARAM_IS_AUTOMATABLE = 1u << 5;
inline constexpr std::uint32_t CLAP_PARAM_REQUIRES_PROCESS = 1u << 15;
inline constexpr std::uint32_t CLAP_PARAM_IS_ENUM = 1u << 16;

struct clap_param_info {
    clap_id id;
    std::uint32_t flags;
    void* cookie;
    char name[CLAP_NAME_SIZE];
    char module[CLAP_PATH_SIZE];
    double min_value;
    double max_value;
    double default_value;
};

struct clap_plugin_params {
    std::uint32_t (*count)(const clap_plugin* plugin);
    bool (*get_info)(const clap_plugin* plugin, std::uint32_t param_index, clap_param_info* info);
    bool (*get_value)(const clap_plugin* plugin, clap_id param_id, double* out_value);
    bool (*value_to_text)(const clap_plugin* plugin, clap_id param_id, double value,
                          char* out_buffer, std::uint32_t out_buffer_capacity);
    bool (*text_to_value)(const clap_plugin* plugin, clap_id param_id, const char* text,
                          double* out_value);
    // Parameter events outside of process.
    void (*flush)(const clap_plugin* plugin, const clap_input_events* in,
                  const clap_output_events* out);
};

inline constexpr std::uint32_t CLAP_PARAM_RESCAN_VALUES = 1u << 0;
inline constexpr std::uint32_t CLAP_PARAM_RESCAN_TEXT = 1u << 1;
inline constexpr std::uint32_t CLAP_PARAM_RESCAN_INFO = 1u << 2;
inline constexpr std::uint32_t CLAP_PARAM_RESCAN_ALL = 1u << 3;

inline constexpr std::uint32_t CLAP_PARAM_CLEAR_ALL = 1u << 0;
inline constexpr std::uint32_t CLAP_PARAM_CLEAR_AUTOMATIONS = 1u << 1;
inline constexpr std::uint32_t CLAP_PARAM_CLEAR_MODULATIONS = 1u << 2;

struct clap_host_params {
    void (*rescan)(const clap_host* host, std::uint32_t flags);
    void (*clear)(const clap_host* host, clap_id param_id, std::uint32_t flags);
    void (*request_flush)(const clap_host* host);
};

static_assert(sizeof(clap_param_info) == 1320);
static_assert(offsetof(clap_param_info, flags) == 4 && offsetof(clap_param_info, cookie) == 8 &&
              offsetof(clap_param_info, name) == 16 && offsetof(clap_param_info, module) == 272 &&
              offsetof(clap_param_info, min_value) == 1296 &&
              offsetof(clap_param_info, max_value) == 1304 &&
              offsetof(clap_param_info, default_value) == 1312);
static_assert(sizeof(clap_plugin_params) == 48);
static_assert(offsetof(clap_plugin_params, get_info) == 8 &&
              offsetof(clap_plugin_params, get_value) == 16 &&
              offsetof(clap_plugin_params, value_to_text) == 24 &&
              offsetof(clap_plugin_params, text_to_value) == 32 &&
              offsetof(clap_plugin_params, flush) == 40);
static_assert(sizeof(clap_host_params) == 24 && offsetof(clap_host_params, clear) == 8 &&
              offsetof(clap_host_params, request_flush) == 16);

} // namespace velkaphon::rack
