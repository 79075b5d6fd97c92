#pragma once

// What a CLAP file exports as "clap_entry", and the plug-in factory it hands out.

#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

inline constexpr const char* kClapEntrySymbol = "clap_entry";

struct clap_plugin_entry {
    struct clap_version clap_version;
    // Given the file's path; false refuses the file.
    bool (*init)(const char* plugin_path);
    void (*deinit)();
    const void* (*get_factory)(const char* factory_id);
};

inline constexpr const char* CLAP_PLUGIN_FACTORY_ID = "clap.plugin-factory";

struct clap_plugin_factory {
    std::uint32_t (*get_plugin_count)(const clap_plugin_factory* factory);
    const clap_plugin_descriptor* (*get_plugin_descriptor)(const clap_plugin_factory* factory,
                                                           std::uint32_t index);
    const clap_plugin* (*create_plugin)(const clap_plugin_factory* factory, const clap_host* host,
                                        const char* plugin_id);
};

static_assert(sizeof(clap_plugin_entry) == 40);
static_assert(offsetof(clap_plugin_entry, init) == 16 &&
              offsetof(clap_plugin_entry, deinit) == 24 &&
              offsetof(clap_plugin_entry, get_factory) == 32);

static_assert(sizeof(clap_plugin_factory) == 24);
static_assert(offsetof(clap_plugin_factory, get_plugin_descriptor) == 8 &&
              offsetof(clap_plugin_factory, create_plugin) == 16);

} // namespace velkaphon::rack
