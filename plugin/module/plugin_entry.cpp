// The module's exports. Nothing may escape into the host.

#include "abi/vst3/factory.hpp"
#include "plugin/plugin_factory.hpp"

#ifdef _WIN32
#define VELKAPHON_PLUGIN_EXPORT extern "C"
#else
#define VELKAPHON_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

bool moduleEntryOrExit() {
    return true;
}

} // namespace

#ifdef _WIN32
VELKAPHON_PLUGIN_EXPORT bool VELKAPHON_VST3_CALL InitDll() {
    return moduleEntryOrExit();
}

VELKAPHON_PLUGIN_EXPORT bool VELKAPHON_VST3_CALL ExitDll() {
    return moduleEntryOrExit();
}
#else
// The names Linux hosts call.
VELKAPHON_PLUGIN_EXPORT bool ModuleEntry(void* /*libraryHandle*/) {
    return moduleEntryOrExit();
}

VELKAPHON_PLUGIN_EXPORT bool ModuleExit() {
    return moduleEntryOrExit();
}
#endif

VELKAPHON_PLUGIN_EXPORT velkaphon::rack::vst3::IPluginFactory* VELKAPHON_VST3_CALL
GetPluginFactory() {
    try {
        return velkaphon::rack::rackPluginFactory();
    } catch (...) {
        return nullptr;
    }
}
