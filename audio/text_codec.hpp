#pragma once

#include <string>

namespace velkaphon::rack {

// UTF-16 at the system's calls, UTF-8 everywhere else. Windows converts with its own calls;
// other platforms use a codec that gives the same results.

// Empty for a null pointer or an empty text. Lone surrogates become U+FFFD.
std::string wideToUtf8(const char16_t* text);

// Empty for an empty text or one that is not valid UTF-8.
std::u16string utf8ToWide(const std::string& text);

} // namespace velkaphon::rack
