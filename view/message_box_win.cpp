#include "audio/text_codec.hpp"
#include "view/message_box.hpp"

#include <windows.h>

namespace velkaphon::rack {

int showSystemMessageBox(void* owner, const std::string& text, const std::string& caption,
                         std::uint32_t style) {
    const std::u16string wideText = utf8ToWide(text);
    const std::u16string wideCaption = utf8ToWide(caption);
    return MessageBoxW(static_cast<HWND>(owner), reinterpret_cast<const wchar_t*>(wideText.c_str()),
                       reinterpret_cast<const wchar_t*>(wideCaption.c_str()), style);
}

} // namespace velkaphon::rack
