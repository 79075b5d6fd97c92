#include "view/message_box.hpp"

namespace velkaphon::rack {

int showSystemMessageBox(void* owner, const std::string& text, const std::string& caption,
                         std::uint32_t style);

namespace {

MessageBoxHandler& replacement() {
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

int showMessageBox(void* owner, const std::string& text, const std::string& caption,
                   std::uint32_t style) {
    if (replacement()) {
        return replacement()(owner, text, caption, style);
    }
    return showSystemMessageBox(owner, text, caption, style);
}

void replaceMessageBox(MessageBoxHandler handler) {
    replacement() = std::move(handler);
}

} // namespace velkaphon::rack
