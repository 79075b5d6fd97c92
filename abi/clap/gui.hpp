#pragma once

// "clap.gui": a plug-in's editor, embedded in a host window or floating, and the host's side.

#include "abi/clap/host.hpp"
#include "abi/clap/plugin.hpp"

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

inline constexpr const char* CLAP_EXT_GUI = "clap.gui";

inline constexpr const char* CLAP_WINDOW_API_WIN32 = "win32";
inline constexpr const char* CLAP_WINDOW_API_COCOA = "cocoa";
inline constexpr const char* CLAP_WINDOW_API_X11 = "x11";
inline constexpr const char* CLAP_WINDOW_API_WAYLAND = "wayland";

struct clap_window {
    const char* api;
    union {
        void* cocoa;
        unsigned long x11; // 4 bytes on Windows, 8 on Linux: the pointers fix the size
        void* win32;
        void* ptr;
    };
};

struct clap_gui_resize_hints {
    bool can_resize_horizontally;
    bool can_resize_vertically;
    bool preserve_aspect_ratio;
    std::uint32_t aspect_ratio_width;
    std::uint32_t aspect_ratio_height;
};

struct clap_plugin_gui {
    bool (*is_api_supported)(const clap_plugin* plugin, const char* api, bool is_floating);
    bool (*get_preferred_api)(const clap_plugin* plugin, const char** api, bool* is_floating);
    bool (*create)(const clap_plugin* plugin, const char* api, bool is_floating);
    void (*destroy)(const clap_plugin* plugin);
    bool (*set_scale)(const clap_plugin* plugin, double scale);
    bool (*get_size)(const clap_plugin* plugin, std::uint32_t* width, std::uint32_t* height);
    bool (*can_resize)(const clap_plugin* plugin);
    bool (*get_resize_hints)(const clap_plugin* plugin, clap_gui_resize_hints* hints);
    bool (*adjust_size)(const clap_plugin* plugin, std::uint32_t* width, std::uint32_t* height);
    bool (*set_size)(const clap_plugin* plugin, std::uint32_t width, std::uint32_t height);
    bool (*set_parent)(const clap_plugin* plugin, const clap_window* window);
    bool (*set_transient)(const clap_plugin* plugin, const clap_window* window);
    void (*suggest_title)(const clap_plugin* plugin, const char* title);
    bool (*show)(const clap_plugin* plugin);
    bool (*hide)(const clap_plugin* plugin);
};

struct clap_host_gui {
    void (*resize_hints_changed)(const clap_host* host);
    bool (*request_resize)(const clap_host* host, std::uint32_t width, std::uint32_t height);
    bool (*request_show)(const clap_host* host);
    bool (*request_hide)(const clap_host* host);
    void (*closed)(const clap_host* host, bool was_destroyed);
};

static_assert(sizeof(clap_window) == 16 && offsetof(clap_window, win32) == 8);
static_assert(sizeof(clap_gui_resize_hints) == 12 &&
              offsetof(clap_gui_resize_hints, preserve_aspect_ratio) == 2 &&
              offsetof(clap_gui_resize_hints, aspect_ratio_width) == 4 &&
              offsetof(clap_gui_resize_hints, aspect_ratio_height) == 8);
static_assert(sizeof(clap_plugin_gui) == 120);
static_assert(offsetof(clap_plugin_gui, create) == 16 && offsetof(clap_plugin_gui, destroy) == 24 &&
              offsetof(clap_plugin_gui, get_size) == 40 &&
              offsetof(clap_plugin_gui, set_parent) == 80 &&
              offsetof(clap_plugin_gui, suggest_title) == 96 &&
              offsetof(clap_plugin_gui, show) == 104 && offsetof(clap_plugin_gui, hide) == 112);
static_assert(sizeof(clap_host_gui) == 40 && offsetof(clap_host_gui, request_resize) == 8 &&
              offsetof(clap_host_gui, request_show) == 16 &&
              offsetof(clap_host_gui, request_hide) == 24 && offsetof(clap_host_gui, closed) == 32);

} // namespace velkaphon::rack
