#include "hosting/clap_thread_id.hpp"

#include <windows.h>

namespace velkaphon::rack {

std::uint32_t currentThreadId() noexcept {
    return GetCurrentThreadId();
}

} // namespace velkaphon::rack
