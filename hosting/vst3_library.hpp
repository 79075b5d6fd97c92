#pragma once

// Loaded VST3 module files, shared process-wide: one load, one "InitDll" and one "ExitDll" (and on
// Linux one "ModuleEntry" and one "ModuleExit") per file however many modules and scans use it at
// once.

#include "abi/vst3/factory.hpp"
#include "hosting/shared_library.hpp"

#include <filesystem>
#include <memory>
#include <string>

namespace velkaphon::rack {

// One loaded module file. Its destructor undoes the load (releaseVstLibrary).
struct LoadedModule {
    SharedLibraryHandle library = nullptr;
    vst3::IPluginFactory* factory = nullptr;
    vst3::ExitModuleFunction exitDll = nullptr;
    // "InitDll" returned true, or the module has none: "ExitDll" is owed.
    bool initDllRan = false;
    // The platform's "ModuleExit", owed once its "ModuleEntry" returned true (Linux only).
    vst3::ExitModuleFunction moduleExit = nullptr;
    bool moduleEntryRan = false;
    // The first class of category "Audio Module Class" in factory order.
    vst3::Uid defaultClass{};

    LoadedModule() = default;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule();
};

// The module file of a bundle directory or the module file itself, weakly canonical.
// Raises "VST3 module file does not exist." and the file system's own errors.
std::filesystem::path resolveVstModulePath(const std::filesystem::path& path);

// Loads, initializes and checks the module; whatever fails leaves nothing of it loaded.
void loadVstLibrary(LoadedModule& module, const std::filesystem::path& path);

// Releases the factory, calls "ExitDll" and "ModuleExit" when owed, frees the library. Never
// throws: a module that throws on the way out is still freed.
void releaseVstLibrary(LoadedModule& module) noexcept;

// [any] The loaded module for the path, loading it unless some holder already keeps it.
// The process-wide cache keeps only weak references, so the last holder's release unloads it.
std::shared_ptr<LoadedModule> acquireVstLibrary(const std::u16string& path);

} // namespace velkaphon::rack
