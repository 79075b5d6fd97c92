#pragma once

// A CLAP plug-in's descriptor and instance.

#include "abi/clap/process.hpp"
#include "abi/clap/version.hpp"

#include <cstddef>

namespace velkaphon::rack {

struct clap_plugin_descriptor {
    struct clap_version clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features; // null-terminated
};

struct clap_plugin {
    const clap_plugin_descriptor* desc;
    void* plugin_data;
    bool (*init)(const clap_plugin* plugin);
    void (*destroy)(const clap_plugin* plugin);
    bool (*activate)(const clap_plugin* plugin, double sample_rate, std::uint32_t min_frames_count,
                     std::uint32_t max_frames_count);
    void (*deactivate)(const clap_plugin* plugin);
    bool (*start_processing)(const clap_plugin* plugin);
    void (*stop_processing)(const clap_plugin* plugin);
    void (*reset)(const clap_plugin* plugin);
    clap_process_status (*process)(const clap_plugin* plugin, const clap_process* process);
    const void* (*get_extension)(const clap_plugin* plugin, const char* id);
    void (*on_main_thread)(const clap_plugin* plugin);
};

static_assert(sizeof(clap_plugin_descriptor) == 88);
static_assert(offsetof(clap_plugin_descriptor, id) == 16 &&
              offsetof(clap_plugin_descriptor, name) == 24 &&
              offsetof(clap_plugin_descriptor, version) == 64 &&
              offsetof(clap_plugin_descriptor, description) == 72 &&
              offsetof(clap_plugin_descriptor, features) == 80);

static_assert(sizeof(clap_plugin) == 96);
static_assert(offsetof(clap_plugin, init) == 16 && offsetof(clap_plugin, destroy) == 24 &&
              offsetof(clap_plugin, activate) == 32 && offsetof(clap_plugin, deactivate) == 40 &&
              offsetof(clap_plugin, start_processing) == 48 &&
              offsetof(clap_plugin, stop_processing) == 56 && offsetof(clap_plugin, reset) == 64 &&
              offsetof(clap_plugin, process) == 72 && offsetof(clap_plugin, get_extension) == 80 &&
              offsetof(clap_plugin, on_main_thread) == 88);

} // namespace velkaphon::rack
