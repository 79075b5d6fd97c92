#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace velkaphon::rack {

// Every number the system reads from JSON goes through these, so that a boolean is never taken
// for 1 and a large or negative value never wraps when narrowed.
//
// A value that is not a number (a boolean included) raises the JSON library's type error.
// A number outside [minimum, maximum], or one with a fractional part for the integer read,
// gives std::nullopt so that the caller can throw its own message.
std::optional<std::int64_t> jsonInteger(const nlohmann::json& value, std::int64_t minimum,
                                        std::int64_t maximum);

std::optional<double> jsonReal(const nlohmann::json& value, double minimum, double maximum);

} // namespace velkaphon::rack
