#pragma once

// Reading a built-in module's configuration: counts, offsets, the matrix mapping and fader
// entries, each with its own message.

#include "engine/graph_limits.hpp"
#include "engine/module.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace velkaphon::rack {

inline constexpr std::uint32_t kMaxHostChannelOffset = 4096;
inline constexpr float kMinFaderGainDb = -80.0F;
inline constexpr float kMaxFaderGainDb = 12.0F;

// A port whose id and display name are both the text.
PortSpec makePort(const std::string& text, std::uint32_t channels);

// "in" or "out" with the zero-based index appended: "in0", "out12".
PortSpec makeIndexedPort(const std::string& prefix, std::uint32_t index, std::uint32_t channels);

// The key's count in 1..maximum, or the default when absent; anything else, a boolean included,
// throws "<key> is outside supported capacity". A non-number keeps the JSON library's type error.
std::uint32_t readCount(const nlohmann::json& configuration, const char* key,
                        std::uint32_t defaultValue, std::uint32_t maximum);

// "offset" in 0..4096, default 0; else "Host channel offset exceeds capacity".
std::uint32_t readHostChannelOffset(const nlohmann::json& configuration);

// "mapping", one source channel (or -1) per output channel; the identity when absent.
std::vector<std::int32_t> readMatrixMapping(const nlohmann::json& configuration,
                                            std::uint32_t inputChannels,
                                            std::uint32_t outputChannels);

// Throws "Fader gain outside -80..12 dB" unless the gain is finite and within the range.
float checkFaderGain(double gainDb);

// One entry of "gainsDb"; a boolean gets the gain's message, a non-number the type error.
float readFaderGain(const nlohmann::json& entry);

// One entry of the fader bank's "channels": 1 or 2, else "Each fader strip must be mono or stereo".
std::uint32_t readStripChannels(const nlohmann::json& entry);

} // namespace velkaphon::rack
