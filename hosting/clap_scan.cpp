#include "hosting/clap_scan.hpp"

#include "hosting/clap_library.hpp"
#include "hosting/clap_utf8.hpp"

#include <stdexcept>
#include <string>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kMaxClapPlugins = 4096;

// Texts from the plug-in are checked here, so that writing a reply or a project cannot fail on
// them later.
std::string descriptorText(const char* text) {
    return text == nullptr ? std::string() : replaceInvalidUtf8(text);
}

} // namespace

nlohmann::json scanClapLibrary(std::string_view utf8Path) {
    const std::shared_ptr<ClapLibrary> library = acquireClapLibrary(utf8Path);
    const clap_plugin_factory* factory = library->factory;

    const std::uint32_t count = factory->get_plugin_count(factory);
    if (count > kMaxClapPlugins) {
        throw std::runtime_error("CLAP factory too large.");
    }
    nlohmann::json entries = nlohmann::json::array();
    for (std::uint32_t index = 0; index < count; ++index) {
        const clap_plugin_descriptor* descriptor = factory->get_plugin_descriptor(factory, index);
        if (descriptor == nullptr) {
            continue;
        }
        // A listed id must be one that creation can be given back.
        if (descriptor->id != nullptr) {
            requireUtf8PluginId(descriptor->id);
        }
        entries.push_back({{"name", descriptorText(descriptor->name)},
                           {"pluginId", descriptorText(descriptor->id)},
                           {"format", "CLAP"},
                           {"path", std::string(utf8Path)}});
    }
    return entries;
}

} // namespace velkaphon::rack
