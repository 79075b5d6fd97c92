#pragma once

// What this machine's shell needs of the view stand-in beyond the three view functions.

#include "view/native_rack_view.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace velkaphon::rack {

// The page's address, token included.
std::string rackViewAddress(NativeViewHandle view);

// [control] Waits up to the timeout for page messages and answers every one that waits; one turn
// of the message loop below.
void pumpRackView(NativeViewHandle view, std::chrono::milliseconds timeout);

// [control] From here on SIGINT and SIGTERM ask the shell to close, as a window's close would.
void catchCloseSignals();

// [control] The shell's message loop. Answers the page and runs the rack's control timer every
// 50 ms until a close is asked for and `close` agrees; when it answers false the loop goes on.
void runRackViewLoop(NativeViewHandle view, RackApplication& rack,
                     const std::function<bool()>& close);

} // namespace velkaphon::rack
