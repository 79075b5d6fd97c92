#include "audio/hresult.hpp"

#include <cstdio>

namespace velkaphon::rack {

std::string formatHresult(std::uint32_t result) {
    char text[32];
    // Through unsigned long so that the text is the same where long has 64 bits.
    std::snprintf(text, sizeof text, "HRESULT 0x%08lx", static_cast<unsigned long>(result));
    return text;
}

} // namespace velkaphon::rack
