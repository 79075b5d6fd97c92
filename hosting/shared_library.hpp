#pragma once

#include <cstdint>
#include <filesystem>

namespace velkaphon::rack {

// An opaque handle to a loaded plug-in library: an HMODULE on Windows, a dlopen handle elsewhere.
using SharedLibraryHandle = void*;

// Loads the library, searching its own folder before the default folders for what it depends on.
// Returns null and sets systemError (the Windows error code; 126, "module not found", on Linux)
// when it cannot.
SharedLibraryHandle loadSharedLibrary(const std::filesystem::path& path,
                                      std::uint32_t& systemError);

// Null when the library has no such export.
void* findLibraryExport(SharedLibraryHandle library, const char* name);

void freeSharedLibrary(SharedLibraryHandle library);

} // namespace velkaphon::rack
