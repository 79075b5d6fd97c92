#pragma once

#include <cstdint>

namespace velkaphon::rack {

class RackApplication;

// An open rack view, opaque to the shells that hold it.
struct NativeRackView;
using NativeViewHandle = NativeRackView*;

// [control] Shows the rack's page in a child of the parent window (an HWND on Windows; ignored
// by this machine's stand-in, which serves the page on loopback). Never null; throws only when
// the per-user storage folder fails, and then leaves nothing behind.
NativeViewHandle createNativeRackView(void* parent, RackApplication* rack);

// [control] A null handle does nothing.
void resizeNativeRackView(NativeViewHandle view, std::uint32_t width, std::uint32_t height);

// [control] A null handle does nothing; the handle is invalid afterwards.
void destroyNativeRackView(NativeViewHandle view);

} // namespace velkaphon::rack
