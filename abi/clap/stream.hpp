#pragma once

// Byte streams through which a CLAP plug-in saves and loads its state.

#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

struct clap_istream {
    void* ctx;
    // Bytes read, 0 at the end, -1 on error.
    std::int64_t (*read)(const clap_istream* stream, void* buffer, std::uint64_t size);
};

struct clap_ostream {
    void* ctx;
    // Bytes written, -1 on error.
    std::int64_t (*write)(const clap_ostream* stream, const void* buffer, std::uint64_t size);
};

static_assert(sizeof(clap_istream) == 16 && offsetof(clap_istream, read) == 8);
static_assert(sizeof(clap_ostream) == 16 && offsetof(clap_ostream, write) == 8);

} // namespace velkaphon::rack
