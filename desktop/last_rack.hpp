#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velkaphon::rack {

class RackApplication;

inline constexpr const char* kMainWindowTitle = "VELKAPHON RACK \u2014 Beta 0.1.0-beta.3";
inline constexpr const char* kRestoreWarning =
    "Last rack could not be restored. A clean patch is open.";
inline constexpr const char* kCloseQuestion =
    "Close VELKAPHON RACK? Audio and recording will stop. Your patch will be saved.";
inline constexpr const char* kSaveFailedCaption = "Rack could not be saved";

// [control] "last-rack.vkrack" in the per-user storage folder.
std::filesystem::path lastRackPath();

// [any] "last-rack.broken.vkrack" beside the last rack.
std::filesystem::path brokenLastRackPath(const std::filesystem::path& path);

// [control] Restores the last rack when its file exists. Answers the warning to show when it
// could not be restored; the rack then keeps the patch it had, and the file is moved aside to
// the broken-rack path first, so the save at close cannot overwrite it.
std::optional<std::string> restoreLastRack(RackApplication& rack,
                                           const std::filesystem::path& path);

// [control] Stops the rack and saves it; answers the error to show when the save failed.
std::optional<std::string> stopAndSaveLastRack(RackApplication& rack,
                                               const std::filesystem::path& path);

} // namespace velkaphon::rack
