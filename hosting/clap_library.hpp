#pragma once

#include "abi/clap/entry.hpp"
#include "hosting/shared_library.hpp"

#include <cstdint>
#include <memory>
#include <string_view>

namespace velkaphon::rack {

struct ClapLibrary;

// [control] deinit through the entry when it is owed, then unload; never raises. Leaves the
// record empty, so a second call does nothing.
void destroyClapLibrary(ClapLibrary& library) noexcept;

// One loaded CLAP file, shared by every module and scan that uses it.
struct ClapLibrary {
    SharedLibraryHandle module = nullptr;
    const clap_plugin_entry* entry = nullptr;
    const clap_plugin_factory* factory = nullptr;
    bool initialised = false; // init returned true, so deinit is owed

    ClapLibrary() = default;
    ClapLibrary(const ClapLibrary&) = delete;
    ClapLibrary& operator=(const ClapLibrary&) = delete;
    ~ClapLibrary() { destroyClapLibrary(*this); }
};

// [control] Loads the file by its absolute path, checks its entry, initialises it with that
// path and takes its plug-in factory. A failure after the load deinitialises (when owed) and
// unloads again before the message is raised.
std::unique_ptr<ClapLibrary> loadClapLibrary(std::string_view utf8Path);

// [control] The process-wide cached library of the file (by its weakly canonical path),
// loaded on a miss. One mutex serialises every call, loading included; a file whose last user
// has just let go is deinitialised and unloaded before it is loaded again.
std::shared_ptr<ClapLibrary> acquireClapLibrary(std::string_view utf8Path);

} // namespace velkaphon::rack
