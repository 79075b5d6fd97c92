#include "app/control_window.hpp"

namespace velkaphon::rack {

// No window system here: the shell's loop runs the rack's control timer itself.
void openControlWindow(ControlWindow& control, RackApplication& owner) {
    control.className = controlWindowClassName(&owner);
}

void closeControlWindow(ControlWindow& control) {
    control = ControlWindow{};
}

} // namespace velkaphon::rack
