#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>

namespace velkaphon::rack {

// [control] Readers of the keys that the player and the recorder share.

// "channels": 1..64, 2 when absent; else "Media channels must be 1..64".
std::uint32_t mediaChannels(const nlohmann::json& configuration);

// A boolean key, or its default when absent; another kind is the JSON library's type error.
bool mediaFlag(const nlohmann::json& configuration, const char* key, bool fallback);

// A number key, or its default when absent.
double mediaNumber(const nlohmann::json& configuration, const char* key, double fallback);

// "path" (the library's key error when absent) as a file-system path; text that is not UTF-8
// throws the given message.
std::filesystem::path mediaPath(const nlohmann::json& configuration, const char* invalidMessage);

// A path as UTF-8 text for the configuration, with slashes for separators on Windows.
std::string mediaPathText(const std::filesystem::path& path);

} // namespace velkaphon::rack
