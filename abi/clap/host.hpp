#pragma once

// The record a host gives every CLAP plug-in instance.

#include "abi/clap/version.hpp"

#include <cstddef>

namespace velkaphon::rack {

struct clap_host {
    struct clap_version clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void* (*get_extension)(const clap_host* host, const char* extension_id);
    void (*request_restart)(const clap_host* host);
    void (*request_process)(const clap_host* host);
    void (*request_callback)(const clap_host* host);
};

static_assert(sizeof(clap_host) == 88);
static_assert(offsetof(clap_host, host_data) == 16 && offsetof(clap_host, name) == 24 &&
              offsetof(clap_host, vendor) == 32 && offsetof(clap_host, url) == 40 &&
              offsetof(clap_host, version) == 48 && offsetof(clap_host, get_extension) == 56 &&
              offsetof(clap_host, request_restart) == 64 &&
              offsetof(clap_host, request_process) == 72 &&
              offsetof(clap_host, request_callback) == 80);

} // namespace velkaphon::rack
