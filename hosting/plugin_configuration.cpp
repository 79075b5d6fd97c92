#include "hosting/plugin_configuration.hpp"

#include "engine/json_number.hpp"

#include <limits>
#include <stdexcept>

namespace velkaphon::rack {

const nlohmann::json& requireJsonArray(const nlohmann::json& value) {
    if (!value.is_array()) {
        // Raises the library's own error for the type at hand.
        value.get<nlohmann::json::array_t>();
    }
    return value;
}

std::vector<std::uint8_t> pluginStateBytes(const nlohmann::json& state, const char* tooLarge) {
    const nlohmann::json& numbers = requireJsonArray(state);
    if (numbers.size() > kMaximumPluginStateBytes) {
        throw std::runtime_error(tooLarge);
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(numbers.size());
    for (const nlohmann::json& number : numbers) {
        const std::optional<std::int64_t> byte = jsonInteger(number, 0, 255);
        if (!byte) {
            throw std::runtime_error("Plugin state holds a value that is not a byte.");
        }
        bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return bytes;
}

std::vector<ConfiguredParameter> configuredParameters(const nlohmann::json& configuration) {
    std::vector<ConfiguredParameter> parameters;
    if (!configuration.is_object() || !configuration.contains("parameters")) {
        return parameters;
    }
    constexpr double kLargest = std::numeric_limits<double>::max();
    for (const nlohmann::json& element : requireJsonArray(configuration.at("parameters"))) {
        ConfiguredParameter parameter;
        // A JSON number is always finite, so the whole range of doubles holds it.
        parameter.value = *jsonReal(element.at("value"), -kLargest, kLargest);
        if (const auto id =
                jsonInteger(element.at("id"), 0, std::numeric_limits<std::uint32_t>::max())) {
            parameter.id = static_cast<std::uint32_t>(*id);
        }
        parameters.push_back(parameter);
    }
    return parameters;
}

} // namespace velkaphon::rack
