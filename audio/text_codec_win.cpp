#include "audio/text_codec.hpp"

#include <windows.h>

namespace velkaphon::rack {

std::string wideToUtf8(const char16_t* text) {
    if (text == nullptr) {
        return {};
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    // The size includes the terminating NUL, so one byte or less is an empty text.
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

std::u16string utf8ToWide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::u16string result(static_cast<std::size_t>(size), u'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length,
                        reinterpret_cast<wchar_t*>(result.data()), size);
    return result;
}

} // namespace velkaphon::rack
