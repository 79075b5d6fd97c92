#include "engine/utf8_text.hpp"

#include <cstdint>

namespace velkaphon::rack {

namespace {

// Length of the sequence that starts at text[index], or 0 when it is not well formed.
std::size_t sequenceLength(std::string_view text, std::size_t index) {
    const auto lead = static_cast<std::uint8_t>(text[index]);
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // overlong
        high = lead == 0xED ? 0x9F : 0xBF; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;  // overlong
        high = lead == 0xF4 ? 0x8F : 0xBF; // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - index < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[index + i]);
        const std::uint8_t minimum = i == 1 ? low : 0x80;
        const std::uint8_t maximum = i == 1 ? high : 0xBF;
        if (next < minimum || next > maximum) {
            return 0;
        }
    }
    return length;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size()) {
        const std::size_t length = sequenceLength(text, index);
        if (length == 0) {
            return false;
        }
        index += length;
    }
    return true;
}

std::optional<std::filesystem::path> pathFromUtf8(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

} // namespace velkaphon::rack
