#include "engine/media_configuration.hpp"

#include "engine/json_number.hpp"
#include "engine/utf8_text.hpp"

#include <limits>
#include <stdexcept>

namespace velkaphon::rack {

std::uint32_t mediaChannels(const nlohmann::json& configuration) {
    if (!configuration.contains("channels")) {
        return 2;
    }
    const auto channels = jsonInteger(configuration.at("channels"), 1, 64);
    if (!channels) {
        throw std::runtime_error("Media channels must be 1..64");
    }
    return static_cast<std::uint32_t>(*channels);
}

bool mediaFlag(const nlohmann::json& configuration, const char* key, bool fallback) {
    return configuration.contains(key) ? configuration.at(key).get<bool>() : fallback;
}

double mediaNumber(const nlohmann::json& configuration, const char* key, double fallback) {
    if (!configuration.contains(key)) {
        return fallback;
    }
    // Every finite number is allowed; the users limit what they take.
    return jsonReal(configuration.at(key), std::numeric_limits<double>::lowest(),
                    std::numeric_limits<double>::max())
        .value();
}

std::filesystem::path mediaPath(const nlohmann::json& configuration, const char* invalidMessage) {
    const auto text = configuration.at("path").get<std::string>();
    auto path = pathFromUtf8(text);
    if (!path) {
        throw std::runtime_error(invalidMessage);
    }
    return *path;
}

std::string mediaPathText(const std::filesystem::path& path) {
    const auto utf8 = path.u8string();
    std::string text(utf8.begin(), utf8.end());
    if constexpr (std::filesystem::path::preferred_separator == '\\') {
        for (char& c : text) {
            if (c == '\\') {
                c = '/';
            }
        }
    }
    return text;
}

} // namespace velkaphon::rack
