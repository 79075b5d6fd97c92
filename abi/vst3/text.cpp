#include "abi/vst3/text.hpp"

#include "abi/utf16_text.hpp"

namespace velkaphon::rack::vst3 {

std::string utf8FromField(const char16_t* field, std::size_t capacity) {
    const char16_t* end = std::find(field, field + capacity, u'\0');
    return utf8FromUtf16(std::u16string_view(field, static_cast<std::size_t>(end - field)));
}

} // namespace velkaphon::rack::vst3
