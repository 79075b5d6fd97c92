#include "hosting/clap_library.hpp"

#include "engine/file_system_failure.hpp"
#include "hosting/clap_utf8.hpp"

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velkaphon::rack {

namespace {

struct CachedFile {
    std::weak_ptr<ClapLibrary> library;
    // Libraries of the file loaded and not yet destroyed. The count falls only after deinit and
    // unload, which run outside the mutex wherever the last user lets go.
    std::atomic<std::uint32_t> undestroyed{0};
};

struct ClapLibraryCache {
    std::mutex mutex;
    std::map<std::filesystem::path::string_type, CachedFile> files;
};

// Lives until the process ends: a library may be let go during static destruction.
ClapLibraryCache& clapLibraryCache() {
    static auto* cache = new ClapLibraryCache;
    return *cache;
}

void waitUntilDestroyed(const std::atomic<std::uint32_t>& undestroyed) {
    for (auto count = undestroyed.load(); count != 0; count = undestroyed.load()) {
        undestroyed.wait(count);
    }
}

bool isCompatible(const clap_plugin_entry* entry) {
    return entry != nullptr && entry->clap_version.major != 0 && entry->init != nullptr &&
           entry->deinit != nullptr && entry->get_factory != nullptr;
}

bool isComplete(const clap_plugin_factory* factory) {
    return factory != nullptr && factory->get_plugin_count != nullptr &&
           factory->get_plugin_descriptor != nullptr && factory->create_plugin != nullptr;
}

} // namespace

void destroyClapLibrary(ClapLibrary& library) noexcept {
    if (library.initialised) {
        library.entry->deinit();
    }
    if (library.module != nullptr) {
        freeSharedLibrary(library.module);
    }
    library.module = nullptr;
    library.entry = nullptr;
    library.factory = nullptr;
    library.initialised = false;
}

std::unique_ptr<ClapLibrary> loadClapLibrary(std::string_view utf8Path) {
    const std::filesystem::path path = std::filesystem::absolute(utf8ToWidePath(utf8Path));

    // From here on the record's destructor undoes whatever has been done.
    auto library = std::make_unique<ClapLibrary>();
    std::uint32_t systemError = 0;
    library->module = loadSharedLibrary(path, systemError);
    if (library->module == nullptr) {
        throw std::runtime_error("Cannot load CLAP module; Windows error " +
                                 std::to_string(systemError));
    }

    const auto* entry =
        static_cast<const clap_plugin_entry*>(findLibraryExport(library->module, kClapEntrySymbol));
    if (!isCompatible(entry)) {
        throw std::runtime_error("Incompatible CLAP entry.");
    }
    library->entry = entry;

    // The path the file was loaded by, not the caller's text, which may be relative.
    if (!entry->init(pathToUtf8(path).c_str())) {
        throw std::runtime_error("CLAP initialization failed.");
    }
    library->initialised = true;

    const auto* factory =
        static_cast<const clap_plugin_factory*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!isComplete(factory)) {
        throw std::runtime_error("CLAP plugin factory missing.");
    }
    library->factory = factory;
    return library;
}

std::shared_ptr<ClapLibrary> acquireClapLibrary(std::string_view utf8Path) {
    ClapLibraryCache& cache = clapLibraryCache();
    const std::lock_guard lock(cache.mutex);

    std::error_code error;
    const auto key = std::filesystem::weakly_canonical(utf8ToWidePath(utf8Path), error).native();
    if (error) {
        throwFileSystemFailure("Cannot read the CLAP plugin path", error);
    }
    CachedFile& file = cache.files[key];
    if (auto existing = file.library.lock()) {
        return existing;
    }

    // init must never run while a deinit of the same file is owed or under way.
    waitUntilDestroyed(file.undestroyed);
    std::unique_ptr<ClapLibrary> loaded = loadClapLibrary(utf8Path);
    file.undestroyed.fetch_add(1);
    std::shared_ptr<ClapLibrary> library(loaded.release(),
                                         [&undestroyed = file.undestroyed](ClapLibrary* gone) {
                                             delete gone;
                                             undestroyed.fetch_sub(1);
                                             undestroyed.notify_all();
                                         });
    file.library = library;
    return library;
}

} // namespace velkaphon::rack
