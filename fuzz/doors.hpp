#pragma once

// Every door through which untrusted bytes reach the rack, one function each. The fuzz targets
// call them with what the fuzzer makes, and every preset's tests replay the kept inputs through
// them. A door may refuse its input with an exception of its own; it must never crash, hang or
// leak.

#include <span>
#include <string_view>

namespace velkaphon::rack {

struct FuzzDoor {
    const char* name;
    void (*enter)(std::string_view bytes);
};

// Any thread, one at a time. The doors this platform has.
std::span<const FuzzDoor> fuzzDoors();

// Any thread. The door of that name, or null.
const FuzzDoor* findFuzzDoor(std::string_view name);

} // namespace velkaphon::rack
