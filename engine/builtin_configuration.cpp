#include "engine/builtin_configuration.hpp"

#include "engine/json_number.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

// A boolean is refused with the key's own message rather than taken for 0 or 1.
std::optional<std::int64_t> integerWithin(const json& value, std::int64_t minimum,
                                          std::int64_t maximum) {
    if (value.is_boolean()) {
        return std::nullopt;
    }
    return jsonInteger(value, minimum, maximum);
}

void requireArray(const json& value) {
    if (!value.is_array()) {
        throw json::type_error::create(
            302, std::string("type must be array, but is ") + value.type_name(), &value);
    }
}

} // namespace

PortSpec makePort(const std::string& text, std::uint32_t channels) {
    return PortSpec{text, text, channels};
}

PortSpec makeIndexedPort(const std::string& prefix, std::uint32_t index, std::uint32_t channels) {
    return makePort(prefix + std::to_string(index), channels);
}

std::uint32_t readCount(const json& configuration, const char* key, std::uint32_t defaultValue,
                        std::uint32_t maximum) {
    const auto found = configuration.find(key);
    if (found == configuration.end()) {
        return defaultValue;
    }
    const auto count = integerWithin(*found, 1, maximum);
    if (!count) {
        throw std::invalid_argument(std::string(key) + " is outside supported capacity");
    }
    return static_cast<std::uint32_t>(*count);
}

std::uint32_t readHostChannelOffset(const json& configuration) {
    const auto found = configuration.find("offset");
    if (found == configuration.end()) {
        return 0;
    }
    const auto offset = integerWithin(*found, 0, kMaxHostChannelOffset);
    if (!offset) {
        throw std::invalid_argument("Host channel offset exceeds capacity");
    }
    return static_cast<std::uint32_t>(*offset);
}

std::vector<std::int32_t> readMatrixMapping(const json& configuration, std::uint32_t inputChannels,
                                            std::uint32_t outputChannels) {
    std::vector<std::int32_t> mapping;
    const auto found = configuration.find("mapping");
    if (found == configuration.end()) {
        for (std::uint32_t output = 0; output < outputChannels; ++output) {
            mapping.push_back(output < inputChannels ? static_cast<std::int32_t>(output) : -1);
        }
        return mapping;
    }
    requireArray(*found);
    // Every entry is read first, so a wrong JSON type is reported before the size.
    bool withinInputBus = true;
    for (const json& entry : *found) {
        const auto source = integerWithin(entry, -1, static_cast<std::int64_t>(inputChannels) - 1);
        withinInputBus = withinInputBus && source.has_value();
        mapping.push_back(static_cast<std::int32_t>(source.value_or(-1)));
    }
    if (mapping.size() != outputChannels) {
        throw std::invalid_argument("Matrix mapping must contain one index per output channel");
    }
    if (!withinInputBus) {
        throw std::invalid_argument("Matrix source channel is outside input bus");
    }
    return mapping;
}

float checkFaderGain(double gainDb) {
    if (!std::isfinite(gainDb) || gainDb < kMinFaderGainDb || gainDb > kMaxFaderGainDb) {
        throw std::invalid_argument("Fader gain outside -80..12 dB");
    }
    return static_cast<float>(gainDb);
}

float readFaderGain(const json& entry) {
    constexpr double kNotAGain = std::numeric_limits<double>::quiet_NaN();
    if (entry.is_boolean()) {
        return checkFaderGain(kNotAGain);
    }
    const double unbounded = std::numeric_limits<double>::infinity();
    return checkFaderGain(jsonReal(entry, -unbounded, unbounded).value_or(kNotAGain));
}

std::uint32_t readStripChannels(const json& entry) {
    const auto channels = integerWithin(entry, 1, 2);
    if (!channels) {
        throw std::invalid_argument("Each fader strip must be mono or stereo");
    }
    return static_cast<std::uint32_t>(*channels);
}

} // namespace velkaphon::rack
