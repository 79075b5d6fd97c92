#pragma once

#include <string>

namespace velkaphon::rack {

class RackApplication;

// The rack's message-only window and the class registered for it alone. On Windows its 50 ms
// timer runs the rack's control timer; elsewhere the shell's loop does, and window stays null.
struct ControlWindow {
    // HWND.
    void* window = nullptr;
    std::wstring className;
    // HMODULE under which the class is registered.
    void* instance = nullptr;
};

// "VelkaphonRackControlService-" and the owner's address as an unsigned decimal number, so two
// racks in one process never share a class.
std::wstring controlWindowClassName(const void* owner);

// [control] Registers the owner's class and creates the window with its timer; a window that
// cannot be created leaves the rack without the timer and is no failure.
void openControlWindow(ControlWindow& control, RackApplication& owner);

// [control] Stops the timer, destroys the window and unregisters the class.
void closeControlWindow(ControlWindow& control);

} // namespace velkaphon::rack
