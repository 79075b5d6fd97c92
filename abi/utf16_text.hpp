#pragma once

// UTF-16 is what the binary interfaces speak (plug-in text fields, the system's wide strings);
// the rack keeps UTF-8. One portable codec serves every such boundary.

#include <optional>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// An unpaired surrogate becomes U+FFFD, so the result is always valid UTF-8.
std::string utf8FromUtf16(std::u16string_view text);

// Strict: nullopt for any malformed, overlong or surrogate sequence.
std::optional<std::u16string> utf16FromUtf8(std::string_view text);

} // namespace velkaphon::rack
