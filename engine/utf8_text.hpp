#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequence.
bool isValidUtf8(std::string_view text);

// UTF-8 text as a file-system path, or nothing when the text is not valid UTF-8. Never goes
// through the host's code page.
std::optional<std::filesystem::path> pathFromUtf8(std::string_view text);

// Text from outside (a plug-in, a file) made safe to keep and to write as JSON: every ill-formed
// sequence becomes U+FFFD, one for each maximal part that could begin a valid sequence.
std::string replaceInvalidUtf8(std::string_view text);

} // namespace velkaphon::rack
