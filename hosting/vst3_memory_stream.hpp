#pragma once

// The stream through which the rack hands a plug-in its saved state and takes it back.

#include "abi/vst3/uncounted_object.hpp"

#include <cstdint>
#include <vector>

namespace velkaphon::rack {

class MemoryStream final : public vst3::UncountedObject<vst3::IBStream> {
public:
    // 16 MiB: no position or write may go past it.
    static constexpr std::uint64_t kCapacityLimit = 16u * 1024u * 1024u;

    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    // None of these throws; a null count or result pointer is simply not written.
    vst3::tresult VELKAPHON_VST3_CALL read(void* buffer, vst3::int32 numBytes,
                                           vst3::int32* numBytesRead) override;
    vst3::tresult VELKAPHON_VST3_CALL write(void* buffer, vst3::int32 numBytes,
                                            vst3::int32* numBytesWritten) override;
    vst3::tresult VELKAPHON_VST3_CALL seek(vst3::int64 pos, vst3::int32 mode,
                                           vst3::int64* result) override;
    vst3::tresult VELKAPHON_VST3_CALL tell(vst3::int64* pos) override;

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::uint64_t position() const { return position_; }
    // A write went past the limit, was malformed, or ran out of memory.
    bool failed() const { return failed_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

} // namespace velkaphon::rack
