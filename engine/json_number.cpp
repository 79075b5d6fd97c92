#include "engine/json_number.hpp"

#include <cmath>

namespace velkaphon::rack {

namespace {

void requireNumber(const nlohmann::json& value) {
    if (value.is_boolean()) {
        throw nlohmann::json::type_error::create(302, "type must be number, but is boolean",
                                                 &value);
    }
    if (!value.is_number()) {
        // The library's own conversion raises its own type error for every other kind.
        static_cast<void>(value.get<double>());
    }
}

} // namespace

std::optional<std::int64_t> jsonInteger(const nlohmann::json& value, std::int64_t minimum,
                                        std::int64_t maximum) {
    requireNumber(value);
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (maximum < 0 || number > static_cast<std::uint64_t>(maximum) ||
                (minimum > 0 && number < static_cast<std::uint64_t>(minimum))) {
                return std::nullopt;
            }
            return static_cast<std::int64_t>(number);
        }
        const auto number = value.get<std::int64_t>();
        if (number < minimum || number > maximum) {
            return std::nullopt;
        }
        return number;
    }
    // 2^63 and above cannot be converted to a 64-bit integer at all.
    constexpr double kBeyondInt64 = 9223372036854775808.0;
    const auto number = value.get<double>();
    if (std::trunc(number) != number || number >= kBeyondInt64 || number < -kBeyondInt64 ||
        number < static_cast<double>(minimum) || number > static_cast<double>(maximum)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
}

std::optional<double> jsonReal(const nlohmann::json& value, double minimum, double maximum) {
    requireNumber(value);
    const auto number = value.get<double>();
    if (!(number >= minimum && number <= maximum)) {
        return std::nullopt;
    }
    return number;
}

} // namespace velkaphon::rack
