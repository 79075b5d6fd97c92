#pragma once

// The CLAP interface version the rack speaks and reports in its host record.

#include <cstdint>

namespace velkaphon::rack {

struct clap_version {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t revision;
};

inline constexpr clap_version kClapVersion{1, 2, 10};

// Text sizes of the fixed character arrays in CLAP records.
inline constexpr std::uint32_t CLAP_NAME_SIZE = 256;
inline constexpr std::uint32_t CLAP_PATH_SIZE = 1024;

using clap_id = std::uint32_t;
inline constexpr clap_id CLAP_INVALID_ID = 0xFFFFFFFFu;

static_assert(sizeof(clap_version) == 12);

} // namespace velkaphon::rack
