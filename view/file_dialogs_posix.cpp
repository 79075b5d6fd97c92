#include "engine/utf8_text.hpp"
#include "view/file_dialogs.hpp"

#include <stdexcept>

namespace velkaphon::rack {

// This machine has no shell dialogs: the starting path the page passes stands for the user's
// choice and is checked exactly as a chosen one. No starting path is a cancelled dialog.
BrowseResult browseForPath(NativeWindowHandle, BrowseKind kind, const std::string& current) {
    const auto chosen = pathFromUtf8(current);
    if (!chosen) {
        throw std::runtime_error("The current file path is not valid UTF-8.");
    }
    if (chosen->empty()) {
        return {"", true};
    }
    const auto accepted = validateSelection(kind, *chosen).u8string();
    return {std::string(accepted.begin(), accepted.end()), false};
}

} // namespace velkaphon::rack
