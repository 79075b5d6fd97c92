#pragma once

// Reading the parts of a hosted module's node configuration that both plug-in formats share:
// the saved state as bytes and the parameter values to apply. Every function is [control].

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace velkaphon::rack {

inline constexpr std::size_t kMaximumPluginStateBytes = 16777216;

// The value itself when it is an array; otherwise the JSON library's own type error
// ("type must be array, but is " and the type's name).
const nlohmann::json& requireJsonArray(const nlohmann::json& value);

// The bytes of a state array, one number 0..255 each. More than 16 MiB of them raises
// `tooLarge`; an element that is not a number raises the JSON library's type error, and one
// that is not a whole number 0..255 raises "Plugin state holds a value that is not a byte.".
std::vector<std::uint8_t> pluginStateBytes(const nlohmann::json& state, const char* tooLarge);

struct ConfiguredParameter {
    // Nothing when the number cannot be a parameter id, so that no parameter takes the value.
    std::optional<std::uint32_t> id;
    double value = 0.0;
};

// The "parameters" of a configuration object in array order ("value" read before "id"), or
// none. The JSON library's key and type errors for anything that is not {"id", "value"}.
std::vector<ConfiguredParameter> configuredParameters(const nlohmann::json& configuration);

} // namespace velkaphon::rack
