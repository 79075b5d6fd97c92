#include "engine/event_list.hpp"

namespace velkaphon::rack {

bool EventList::push(const RackEvent& event) noexcept {
    if (count == kCapacity) {
        ++dropped;
        return false;
    }
    std::uint32_t slot = count;
    ++count;
    // Strictly greater: a new event goes after those of the same offset.
    while (slot > 0 && events[slot - 1].sampleOffset > event.sampleOffset) {
        events[slot] = events[slot - 1];
        --slot;
    }
    events[slot] = event;
    return true;
}

} // namespace velkaphon::rack
