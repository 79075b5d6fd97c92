#include "app/rack_application.hpp"
#include "view/loopback_rack_view.hpp"

#include <atomic>
#include <csignal>

namespace velkaphon::rack {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kControlPeriod = std::chrono::milliseconds(50);

std::atomic<bool> closeRequested{false};

void requestClose(int) {
    closeRequested = true;
}

} // namespace

void catchCloseSignals() {
    std::signal(SIGINT, requestClose);
    std::signal(SIGTERM, requestClose);
}

void runRackViewLoop(NativeViewHandle view, RackApplication& rack,
                     const std::function<bool()>& close) {
    auto nextTick = Clock::now() + kControlPeriod;
    for (;;) {
        if (closeRequested.exchange(false) && close()) {
            return;
        }
        const auto now = Clock::now();
        if (now >= nextTick) {
            rack.runControlTimer();
            nextTick = now + kControlPeriod;
        }
        pumpRackView(view, std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now));
    }
}

} // namespace velkaphon::rack
