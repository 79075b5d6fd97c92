#pragma once

// The window side of a hosted plug-in's editor. The Linux stand-in has no windows: both do
// nothing there.

#include "engine/module.hpp"

#include <cstdint>

namespace velkaphon::rack {

// UI thread. Sizes the window's client area to width x height, but only when it is one of the
// rack's plug-in editor windows (class "VelkaphonVstEditor"); any other window is left alone.
void resizeVstEditorWindow(NativeWindowHandle window, std::int32_t width, std::int32_t height);

// UI thread. Sizes the child window that holds a plug-in's view, then its editor window.
void resizeVstEditorChild(NativeWindowHandle child, std::int32_t width, std::int32_t height);

} // namespace velkaphon::rack
