#include "hosting/clap_thread_id.hpp"

#include <unistd.h>

namespace velkaphon::rack {

std::uint32_t currentThreadId() noexcept {
    return static_cast<std::uint32_t>(gettid());
}

} // namespace velkaphon::rack
