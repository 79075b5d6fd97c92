#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>

namespace velkaphon::rack {

inline constexpr std::uintmax_t kMaxProjectFileBytes = 67'108'864;

// [control] Reads one project document (at most 64 MiB); throws std::runtime_error with one
// sentence, the file-system error of the size query, or the JSON library's parse error.
nlohmann::json readProjectFile(const std::filesystem::path& path);

// [control] Writes the document to "<target>.tmp" and moves that over the target, so the target
// is either left as it was or replaced whole; a failed save removes the temporary file.
void writeProjectFile(const std::filesystem::path& target, const nlohmann::json& document);

// [control] The existing per-user folder "VELKAPHON RACK", created when missing.
std::filesystem::path userStorageFolder();

} // namespace velkaphon::rack
