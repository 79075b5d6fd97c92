#pragma once

#include "abi/clap/params.hpp"

#include <atomic>
#include <cstdint>

namespace velkaphon::rack {

// One CLAP parameter and its hand-over to the audio thread: control threads store the value and
// raise the pending flag; the audio thread clears the flag with an exchange, then reads the value.
struct ClapParameterSlot {
    clap_param_info info{};
    std::atomic<double> value{0.0};
    std::atomic<bool> pending{false};

    bool readOnly() const noexcept { return (info.flags & CLAP_PARAM_IS_READONLY) != 0; }
    bool hidden() const noexcept { return (info.flags & CLAP_PARAM_IS_HIDDEN) != 0; }
};

} // namespace velkaphon::rack
