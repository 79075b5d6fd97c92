#pragma once

#include <filesystem>
#include <optional>

namespace velkaphon::rack {

// Moves a complete file over the target, replacing it, once its bytes are on the disk.
// False when the move fails; the source is then removed and the target left as it was.
bool replaceFileDurably(const std::filesystem::path& source, const std::filesystem::path& target);

// The folder under which per-user application data lives, or nothing when the system names none.
std::optional<std::filesystem::path> localApplicationDataFolder();

} // namespace velkaphon::rack
