#include "engine/utf8_text.hpp"

#include <cstddef>

namespace velkaphon::rack {

namespace {

struct Utf8Step {
    std::size_t length; // of the sequence, or of the maximal invalid part
    bool valid;
};

// The well-formed byte sequences of Unicode's table 3-7.
Utf8Step nextUtf8Step(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t total = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        total = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        total = 3;
        low = lead == 0xE0 ? 0xA0 : low;   // no overlong forms
        high = lead == 0xED ? 0x9F : high; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        total = 4;
        low = lead == 0xF0 ? 0x90 : low;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : high; // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < total; ++i) {
        if (at + i >= text.size()) {
            return {i, false};
        }
        const auto next = static_cast<unsigned char>(text[at + i]);
        if (next < low || next > high) {
            return {i, false};
        }
        low = 0x80;
        high = 0xBF;
    }
    return {total, true};
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = nextUtf8Step(text, at);
        if (!step.valid) {
            return false;
        }
        at += step.length;
    }
    return true;
}

std::optional<std::filesystem::path> pathFromUtf8(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string replaceInvalidUtf8(std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = nextUtf8Step(text, at);
        result.append(step.valid ? text.substr(at, step.length) : kReplacement);
        at += step.length;
    }
    return result;
}

} // namespace velkaphon::rack
