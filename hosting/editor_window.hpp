#pragma once

// The window side of hosted plug-in editors: the few Win32 calls the modules make. On Linux a
// stand-in keeps windows as records and logs every call, so that the editor logic is tested.

#include "engine/module.hpp"

#include <cstdint>

namespace velkaphon::rack {

// [control] A visible child of `parent` (class "STATIC", no title, clipping its children) at
// 0,0 with the given size, for a VST3 view to attach to; null when it cannot be made.
NativeWindowHandle createEditorChildWindow(NativeWindowHandle parent, std::int32_t width,
                                           std::int32_t height);

// [control]
void destroyEditorChildWindow(NativeWindowHandle child);

// [control] Sizes the window's client area to width x height, but only when it is one of the
// rack's plug-in editor windows (class "VelkaphonVstEditor"); any other window is left alone.
void resizeVstEditorWindow(NativeWindowHandle window, std::int32_t width, std::int32_t height);

// [control] Sizes the child window that holds a plug-in's view, then its editor window.
void resizeVstEditorChild(NativeWindowHandle child, std::int32_t width, std::int32_t height);

// [control] Sizes any window so that its client area is width x height under its own style,
// without moving it or changing its place in the z-order.
void resizeWindowClientArea(NativeWindowHandle window, std::int32_t width, std::int32_t height);

} // namespace velkaphon::rack
