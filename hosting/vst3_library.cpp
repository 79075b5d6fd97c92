#include "hosting/vst3_library.hpp"

#include "engine/file_system_failure.hpp"
#include "hosting/plugin_failure.hpp"
#include "hosting/vst3_module_file.hpp"

#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace velkaphon::rack {

namespace {

constexpr vst3::int32 kMaximumClassCount = 4096;
constexpr const char* kUnreadablePath = "Cannot read the VST3 plugin path";

struct ModulePathLess {
    bool operator()(const std::u16string& left, const std::u16string& right) const {
        return compareVstModulePaths(left, right) < 0;
    }
};

struct LibraryCache {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<LoadedModule>, ModulePathLess> modules;
};

// Never destroyed: modules may still be released while the process ends.
LibraryCache& libraryCache() {
    static auto* cache = new LibraryCache();
    return *cache;
}

template <class Function>
Function libraryExport(SharedLibraryHandle library, const char* name) {
    return reinterpret_cast<Function>(findLibraryExport(library, name));
}

bool isAudioModuleClass(const vst3::PClassInfo& info) {
    return std::strncmp(info.category, vst3::kVstAudioEffectClass, sizeof(info.category)) == 0;
}

void checkFactory(LoadedModule& module) {
    const vst3::int32 count = module.factory->countClasses();
    if (count < 1 || count > kMaximumClassCount) {
        throw std::runtime_error("Invalid VST3 factory class count.");
    }
    for (vst3::int32 index = 0; index < count; ++index) {
        vst3::PClassInfo info{};
        if (module.factory->getClassInfo(index, &info) == vst3::kResultOk &&
            isAudioModuleClass(info)) {
            module.defaultClass = vst3::uidFrom(info.cid);
            return;
        }
    }
    throw std::runtime_error("No VST3 audio-effect class found.");
}

// A Linux module sets itself up in "ModuleEntry", given its own handle, before anything else.
void enterModule(LoadedModule& module) {
    if (kVstModuleEntryExport == nullptr) {
        return;
    }
    const auto entry =
        libraryExport<vst3::ModuleEntryFunction>(module.library, kVstModuleEntryExport);
    if (entry == nullptr) {
        return;
    }
    module.moduleExit =
        libraryExport<vst3::ExitModuleFunction>(module.library, kVstModuleExitExport);
    if (!entry(module.library)) {
        throw std::runtime_error("VST3 module entry failed.");
    }
    module.moduleEntryRan = true;
}

void initializeModule(LoadedModule& module) {
    enterModule(module);
    module.exitDll = libraryExport<vst3::ExitModuleFunction>(module.library, "ExitDll");
    const auto initDll = libraryExport<vst3::InitModuleFunction>(module.library, "InitDll");
    if (initDll != nullptr && !initDll()) {
        throw std::runtime_error("VST3 module initialization failed.");
    }
    module.initDllRan = true;

    const auto getFactory =
        libraryExport<vst3::GetFactoryFunction>(module.library, "GetPluginFactory");
    module.factory = getFactory != nullptr ? getFactory() : nullptr;
    if (module.factory == nullptr) {
        throw std::runtime_error("VST3 factory is missing.");
    }
    checkFactory(module);
}

} // namespace

LoadedModule::~LoadedModule() {
    releaseVstLibrary(*this);
}

std::filesystem::path resolveVstModulePath(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error && status.type() != std::filesystem::file_type::not_found) {
        throwFileSystemFailure(kUnreadablePath, error);
    }
    const std::filesystem::path module =
        std::filesystem::is_directory(status) ? vstBundleModuleFile(path) : path;
    if (!std::filesystem::is_regular_file(std::filesystem::status(module, error))) {
        throw std::runtime_error("VST3 module file does not exist.");
    }
    std::filesystem::path canonical = std::filesystem::weakly_canonical(module, error);
    if (error) {
        throwFileSystemFailure(kUnreadablePath, error);
    }
    return canonical;
}

void loadVstLibrary(LoadedModule& module, const std::filesystem::path& path) {
    const std::filesystem::path file = std::filesystem::absolute(resolveVstModulePath(path));
    std::uint32_t systemError = 0;
    module.library = loadSharedLibrary(file, systemError);
    if (module.library == nullptr) {
        throw std::runtime_error("Cannot load VST3 module (Windows error " +
                                 std::to_string(systemError) + ").");
    }
    runUndoingOnFailure([&module] { initializeModule(module); },
                        [&module] { releaseVstLibrary(module); },
                        "VST3 module failed while loading.");
}

void releaseVstLibrary(LoadedModule& module) noexcept {
    if (vst3::IPluginFactory* factory = std::exchange(module.factory, nullptr)) {
        callIgnoringFailure([factory] { factory->release(); });
    }
    if (module.initDllRan && module.exitDll != nullptr) {
        callIgnoringFailure([exitDll = module.exitDll] { exitDll(); });
    }
    module.initDllRan = false;
    module.exitDll = nullptr;
    if (module.moduleEntryRan && module.moduleExit != nullptr) {
        callIgnoringFailure([moduleExit = module.moduleExit] { moduleExit(); });
    }
    module.moduleEntryRan = false;
    module.moduleExit = nullptr;
    if (SharedLibraryHandle library = std::exchange(module.library, nullptr)) {
        freeSharedLibrary(library);
    }
}

std::shared_ptr<LoadedModule> acquireVstLibrary(const std::u16string& path) {
    const std::u16string key = resolveVstModulePath(std::filesystem::path(path)).u16string();

    LibraryCache& cache = libraryCache();
    const std::lock_guard lock(cache.mutex);
    std::erase_if(cache.modules, [](const auto& entry) { return entry.second.expired(); });
    if (const auto found = cache.modules.find(key); found != cache.modules.end()) {
        if (std::shared_ptr<LoadedModule> module = found->second.lock()) {
            return module;
        }
    }
    auto module = std::make_shared<LoadedModule>();
    loadVstLibrary(*module, key);
    cache.modules.insert_or_assign(key, module);
    return module;
}

} // namespace velkaphon::rack
