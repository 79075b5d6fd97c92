#include "abi/utf16_text.hpp"
#include "audio/text_codec.hpp"

namespace velkaphon::rack {

std::string wideToUtf8(const char16_t* text) {
    return text == nullptr ? std::string() : utf8FromUtf16(text);
}

std::u16string utf8ToWide(const std::string& text) {
    return utf16FromUtf8(text).value_or(std::u16string());
}

} // namespace velkaphon::rack
