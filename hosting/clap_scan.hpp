#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace velkaphon::rack {

// [control] One entry {"name", "pluginId", "format": "CLAP", "path"} per plug-in of the
// file's factory, in factory order. Holds the file only for the scan, so a file no module uses
// is unloaded again when it returns.
nlohmann::json scanClapLibrary(std::string_view utf8Path);

} // namespace velkaphon::rack
