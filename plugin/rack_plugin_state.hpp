#pragma once

// The blob the host keeps in its project for the plug-in: a little-endian 32-bit length, then a
// compact JSON object {"bypass", "project", "schema": 1}.

#include "abi/vst3/base.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace velkaphon::rack {

inline constexpr std::uint32_t kRackStateSchema = 1;
inline constexpr std::int32_t kRackStateLimit = 8 * 1024 * 1024;

struct RackPluginState {
    nlohmann::json project;
    bool bypass = false;

    bool operator==(const RackPluginState&) const = default;
};

// kResultOk when both writes were complete, kResultFalse otherwise (a text over the limit writes
// nothing). Throws what serialising throws.
vst3::tresult writeRackPluginState(vst3::IBStream& stream, const RackPluginState& state);

// Nullopt for a blob the stream cannot give whole, a length out of 1..limit, a schema other
// than 1, a missing or non-boolean "bypass", or a missing "project". Throws the JSON library's
// errors for text that does not parse or a root that is not an object.
std::optional<RackPluginState> readRackPluginState(vst3::IBStream& stream);

} // namespace velkaphon::rack
