#pragma once

// What this machine's shell needs of the view stand-in beyond the three view functions.

#include "view/native_rack_view.hpp"

#include <chrono>
#include <string>

namespace velkaphon::rack {

// The page's address, token included.
std::string rackViewAddress(NativeViewHandle view);

// UI thread: waits up to the timeout for page messages and answers every one that waits. This is
// the stand-in's message loop; the shell runs the rack's timers beside it.
void pumpRackView(NativeViewHandle view, std::chrono::milliseconds timeout);

} // namespace velkaphon::rack
