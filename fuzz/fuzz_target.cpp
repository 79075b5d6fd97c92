#include "fuzz/doors.hpp"

#include <cstddef>
#include <cstdint>

// libFuzzer's entry: the door this program was built for takes every input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const velkaphon::rack::FuzzDoor* door =
        velkaphon::rack::findFuzzDoor(VELKAPHON_FUZZ_DOOR);
    door->enter({reinterpret_cast<const char*>(data), size});
    return 0;
}
