#pragma once

#include "engine/utf8_text.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// Strict, and without NUL bytes (which would name another file): anything else raises
// "Invalid UTF-8 path.".
std::filesystem::path utf8ToWidePath(std::string_view text);

// [any] A plug-in id that the patch can name it by: anything but UTF-8 text raises "A CLAP plugin
// in this file has an id that is not UTF-8.".
void requireUtf8PluginId(const char* id);

// The path as UTF-8 text, as a CLAP plug-in is given it.
std::string pathToUtf8(const std::filesystem::path& path);

} // namespace velkaphon::rack
