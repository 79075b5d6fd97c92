#include "hosting/shared_library.hpp"

#include <dlfcn.h>

namespace velkaphon::rack {

namespace {

// What Windows reports for a module that cannot be found or loaded.
constexpr std::uint32_t kModuleNotFound = 126;

} // namespace

SharedLibraryHandle loadSharedLibrary(const std::filesystem::path& path,
                                      std::uint32_t& systemError) {
    // RTLD_LOCAL keeps one plug-in's symbols from resolving another's.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    systemError = library == nullptr ? kModuleNotFound : 0;
    return library;
}

void* findLibraryExport(SharedLibraryHandle library, const char* name) {
    return dlsym(library, name);
}

void freeSharedLibrary(SharedLibraryHandle library) {
    dlclose(library);
}

} // namespace velkaphon::rack
