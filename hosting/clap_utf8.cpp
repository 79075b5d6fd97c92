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

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace velkaphon::rack
