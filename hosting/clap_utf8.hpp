#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// Strict: text that is not valid UTF-8 raises "Invalid UTF-8 path.".
std::filesystem::path utf8ToWidePath(std::string_view text);

// The path as UTF-8 text, as a CLAP plug-in is given it.
std::string pathToUtf8(const std::filesystem::path& path);

// Text a plug-in hands over, made safe to keep and to write as JSON: every ill-formed sequence
// becomes U+FFFD, one for each maximal part that could begin a valid sequence.
std::string replaceInvalidUtf8(std::string_view text);

} // namespace velkaphon::rack
