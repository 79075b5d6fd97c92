#pragma once

#include "abi/clap/params.hpp"

namespace velkaphon::rack {

// What the rack knows of one CLAP parameter; its value is kept apart, in the block's values.
struct ClapParameterSlot {
    clap_param_info info{};

    bool readOnly() const noexcept { return (info.flags & CLAP_PARAM_IS_READONLY) != 0; }
    bool hidden() const noexcept { return (info.flags & CLAP_PARAM_IS_HIDDEN) != 0; }
};

} // namespace velkaphon::rack
