#pragma once

#include "engine/module.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velkaphon::rack {

enum class BrowseKind : std::int32_t {
    AudioFile = 0,
    RecordingDestination = 1,
    PluginFile = 2,
    PluginBundleFolder = 3,
    Folder = 4,
    OpenProject = 5,
    SaveProject = 6,
};

struct BrowseResult {
    std::string path; // UTF-8; empty when cancelled
    bool cancelled = false;
};

// [control] Asks the user for a path of the kind, starting at "current" (UTF-8), and answers the
// checked choice. On Windows this is the shell's modal dialog over the owner's root window; on
// this machine's stand-in the starting path itself is the choice. Throws std::runtime_error
// with one sentence; cancelling is no failure.
BrowseResult browseForPath(NativeWindowHandle owner, BrowseKind kind, const std::string& current);

// Where a dialog opens: a folder that exists, and a file name to pre-fill.
struct BrowserStart {
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> fileName;
};

// From the starting path (already converted from UTF-8). An empty path opens the plug-in kinds in
// the common VST3 folder when commonProgramFolder is given, and every other kind at the dialog's
// own default.
BrowserStart browserStart(BrowseKind kind, const std::filesystem::path& current,
                          const std::optional<std::filesystem::path>& commonProgramFolder);

// Checks and normalizes what the user chose; for a recording destination that exists, answers
// the first free take name beside it. Throws std::runtime_error with one sentence.
std::filesystem::path validateSelection(BrowseKind kind, const std::filesystem::path& chosen);

// The extension with its dot, lower-cased unit by unit.
std::filesystem::path::string_type lowercaseExtension(const std::filesystem::path& path);

} // namespace velkaphon::rack
