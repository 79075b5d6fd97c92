#pragma once

#include "abi/clap/stream.hpp"

#include <cstdint>
#include <vector>

namespace velkaphon::rack {

// The stream a CLAP plug-in saves its state into: appends to a byte vector of at most 16 MiB.
// Used on the thread that saves state; it never moves, as its stream record points at it.
class ClapOutputStream {
public:
    static constexpr std::uint64_t kMaxBytes = 16777216;

    ClapOutputStream() noexcept;
    ClapOutputStream(const ClapOutputStream&) = delete;
    ClapOutputStream& operator=(const ClapOutputStream&) = delete;

    const clap_ostream* stream() const noexcept { return &stream_; }
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }

    // The byte count, or -1 with nothing appended when the total would pass kMaxBytes.
    std::int64_t write(const void* buffer, std::uint64_t size) noexcept;

private:
    std::vector<std::uint8_t> bytes_;
    clap_ostream stream_;
};

// The stream a CLAP plug-in loads its state from: reads the caller's bytes, which must outlive
// it, from the start.
class ClapInputStream {
public:
    explicit ClapInputStream(const std::vector<std::uint8_t>& bytes) noexcept;
    ClapInputStream(const ClapInputStream&) = delete;
    ClapInputStream& operator=(const ClapInputStream&) = delete;

    const clap_istream* stream() const noexcept { return &stream_; }

    // The smaller of the request and what remains, 0 at the end.
    std::int64_t read(void* buffer, std::uint64_t size) noexcept;

private:
    const std::vector<std::uint8_t>& bytes_;
    std::uint64_t position_ = 0;
    clap_istream stream_;
};

} // namespace velkaphon::rack
