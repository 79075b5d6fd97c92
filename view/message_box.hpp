#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velkaphon::rack {

inline constexpr std::uint32_t kMessageBoxError = 0x10;
inline constexpr std::uint32_t kMessageBoxQuestion = 0x24; // yes/no with a question mark
inline constexpr std::uint32_t kMessageBoxWarning = 0x30;  // OK with a warning sign
inline constexpr int kMessageBoxAnswerYes = 6;

// [control] A modal message box on Windows, a line on standard error elsewhere; answers the
// button pressed. Tests replace it, since a modal box would hang a run without a person.
int showMessageBox(void* owner, const std::string& text, const std::string& caption,
                   std::uint32_t style);

using MessageBoxHandler = std::function<int(void* owner, const std::string& text,
                                            const std::string& caption, std::uint32_t style)>;

// Replaces the message box for the process; an empty handler restores the system's.
void replaceMessageBox(MessageBoxHandler handler);

} // namespace velkaphon::rack
