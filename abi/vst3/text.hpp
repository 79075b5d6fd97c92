#pragma once

// Our conversions between the interfaces' fixed text fields and the rack's UTF-8 strings.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace velkaphon::rack::vst3 {

// Copies text into a fixed field of `capacity` units and fills the rest with zeros; text that
// does not fit is cut so that the field still ends in a NUL.
inline void copyText(char* field, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::fill(std::copy_n(text.data(), length, field), field + capacity, '\0');
}

// The same for a UTF-16 field, each byte of the text widened to one unit (ASCII text).
inline void copyText(char16_t* field, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    for (std::size_t i = 0; i < length; ++i) {
        field[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    }
    std::fill(field + length, field + capacity, u'\0');
}

template <class Unit, std::size_t N>
void copyText(Unit (&field)[N], std::string_view text) {
    copyText(static_cast<Unit*>(field), N, text);
}

// The bytes of a fixed field up to its first NUL, or all of them when it has none.
inline std::string textOf(const char* field, std::size_t capacity) {
    return std::string(field, std::find(field, field + capacity, '\0'));
}

// The units of a fixed UTF-16 field up to its first NUL, as UTF-8; an unpaired surrogate
// becomes U+FFFD so that the result is always valid UTF-8.
std::string utf8FromField(const char16_t* field, std::size_t capacity);

} // namespace velkaphon::rack::vst3
