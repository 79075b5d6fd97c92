#pragma once

#include "engine/utf8_text.hpp"

#include <atomic>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace velkaphon::rack {

// Why a plug-in stopped working in process. The audio thread writes the text once into fixed
// storage and then raises the flag; the control side reads the text only after seeing the flag.
class PluginFault {
public:
    // [audio] The first fault is the one kept.
    void record(const char* text) noexcept {
        if (recorded_.load(std::memory_order_relaxed)) {
            return;
        }
        std::size_t length = 0;
        for (; text != nullptr && text[length] != '\0' && length + 1 < sizeof(text_); ++length) {
            text_[length] = text[length];
        }
        text_[length] = '\0';
        recorded_.store(true, std::memory_order_release);
    }

    // [any]
    bool recorded() const noexcept { return recorded_.load(std::memory_order_acquire); }

    // [control] The text without a closing full stop, nothing before a fault.
    std::optional<std::string> text() const {
        if (!recorded()) {
            return std::nullopt;
        }
        std::string_view view(text_);
        while (!view.empty() && view.back() == '.') {
            view.remove_suffix(1);
        }
        return replaceInvalidUtf8(view);
    }

private:
    char text_[256] = {};
    std::atomic<bool> recorded_{false};
};

// [audio] Runs body; false, with what it threw recorded, when it throws.
template <class Body>
bool runRecordingFault(PluginFault& fault, Body&& body) noexcept {
    try {
        body();
        return true;
    } catch (const std::exception& error) {
        fault.record(error.what());
    } catch (...) {
        fault.record("it threw an unknown exception");
    }
    return false;
}

} // namespace velkaphon::rack
