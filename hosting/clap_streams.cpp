#include "hosting/clap_streams.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace velkaphon::rack {

namespace {

std::int64_t writeTo(const clap_ostream* stream, const void* buffer, std::uint64_t size) {
    return static_cast<ClapOutputStream*>(stream->ctx)->write(buffer, size);
}

std::int64_t readFrom(const clap_istream* stream, void* buffer, std::uint64_t size) {
    return static_cast<ClapInputStream*>(stream->ctx)->read(buffer, size);
}

} // namespace

ClapOutputStream::ClapOutputStream() noexcept : stream_{this, writeTo} {}

std::int64_t ClapOutputStream::write(const void* buffer, std::uint64_t size) noexcept {
    if (size > kMaxBytes - bytes_.size() || (buffer == nullptr && size != 0)) {
        return -1;
    }
    const auto* first = static_cast<const std::uint8_t*>(buffer);
    try {
        bytes_.insert(bytes_.end(), first, first + size);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return static_cast<std::int64_t>(size);
}

ClapInputStream::ClapInputStream(const std::vector<std::uint8_t>& bytes) noexcept
    : bytes_(bytes), stream_{this, readFrom} {}

std::int64_t ClapInputStream::read(void* buffer, std::uint64_t size) noexcept {
    const std::uint64_t count = std::min<std::uint64_t>(size, bytes_.size() - position_);
    if (count == 0) {
        return 0;
    }
    if (buffer == nullptr) {
        return -1;
    }
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<std::int64_t>(count);
}

} // namespace velkaphon::rack
