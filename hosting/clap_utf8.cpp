#include "hosting/clap_utf8.hpp"

#include <stdexcept>

namespace velkaphon::rack {

std::filesystem::path utf8ToWidePath(std::string_view text) {
    std::optional<std::filesystem::path> path;
    if (text.find('\0') == std::string_view::npos) {
        path = pathFromUtf8(text);
    }
    if (!path) {
        throw std::runtime_error("Invalid UTF-8 path.");
    }
    return *path;
}

void requireUtf8PluginId(const char* id) {
    if (!isValidUtf8(id)) {
        throw std::runtime_error("A CLAP plugin in this file has an id that is not UTF-8.");
    }
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace velkaphon::rack
