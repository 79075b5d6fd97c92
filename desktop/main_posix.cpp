// This machine's shell: the standalone rack with its stand-ins. The page is served on loopback;
// SIGINT or SIGTERM is the window's confirmed close: the rack stops and is saved.

#include "app/rack_application.hpp"
#include "desktop/last_rack.hpp"
#include "view/loopback_rack_view.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace {

using namespace velkaphon::rack;

// A browser is opened only for a person at a terminal with a display, never under CI.
void openBrowserWhenInteractive(const std::string& address) {
    const bool display =
        std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (!isatty(STDIN_FILENO) || !display || std::getenv("CI") != nullptr ||
        std::system("command -v xdg-open >/dev/null 2>&1") != 0) {
        return;
    }
    const std::string command = "xdg-open '" + address + "' >/dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) {
        std::cerr << "The browser could not be opened; open the address above.\n";
    }
}

int runShell() {
    catchCloseSignals();

    RackApplication rack(false);
    const auto path = lastRackPath();
    if (const auto warning = restoreLastRack(rack, path)) {
        std::cerr << *warning << "\n";
    }

    NativeViewHandle view = createNativeRackView(nullptr, &rack);
    std::cout << kMainWindowTitle << "\n" << rackViewAddress(view) << std::endl;
    openBrowserWhenInteractive(rackViewAddress(view));

    runRackViewLoop(view, rack, [&] {
        const auto error = stopAndSaveLastRack(rack, path);
        if (error) {
            // As with the window, a failed save leaves the rack open and stopped.
            std::cerr << kSaveFailedCaption << ": " << *error << "\n";
        }
        return !error;
    });
    destroyNativeRackView(view);
    return 0;
}

} // namespace

int main() {
    try {
        return runShell();
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}
