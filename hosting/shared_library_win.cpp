#include "hosting/shared_library.hpp"

#include <windows.h>

namespace velkaphon::rack {

namespace {

// LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
constexpr DWORD kSearchOwnFolderThenDefaults = 0x1100;

} // namespace

SharedLibraryHandle loadSharedLibrary(const std::filesystem::path& path,
                                      std::uint32_t& systemError) {
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, kSearchOwnFolderThenDefaults);
    systemError = library == nullptr ? GetLastError() : 0;
    return library;
}

void* findLibraryExport(SharedLibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeSharedLibrary(SharedLibraryHandle library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace velkaphon::rack
