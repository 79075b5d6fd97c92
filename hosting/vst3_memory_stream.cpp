#include "hosting/vst3_memory_stream.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace velkaphon::rack {

using namespace vst3;

tresult MemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead) {
    if (numBytesRead != nullptr) {
        *numBytesRead = 0;
    }
    if (numBytes < 0 || (buffer == nullptr && numBytes > 0)) {
        return kInvalidArgument;
    }
    const std::uint64_t size = bytes_.size();
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(numBytes),
                                                        size - std::min(size, position_));
    if (count > 0) {
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
    }
    if (numBytesRead != nullptr) {
        *numBytesRead = static_cast<int32>(count);
    }
    return count > 0 || numBytes == 0 ? kResultOk : kResultFalse;
}

tresult MemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten) {
    if (numBytesWritten != nullptr) {
        *numBytesWritten = 0;
    }
    if (numBytes < 0 || (buffer == nullptr && numBytes > 0) || position_ > kCapacityLimit ||
        position_ + static_cast<std::uint64_t>(numBytes) > kCapacityLimit) {
        failed_ = true;
        return kInvalidArgument;
    }
    const std::uint64_t end = position_ + static_cast<std::uint64_t>(numBytes);
    if (end > bytes_.size()) {
        try {
            if (end > bytes_.capacity()) {
                const std::uint64_t grown = bytes_.capacity() + bytes_.capacity() / 2;
                bytes_.reserve(std::max(end, std::min(grown, kCapacityLimit)));
            }
            // Zero-fills any gap a seek past the end left.
            bytes_.resize(end);
        } catch (const std::bad_alloc&) {
            failed_ = true;
            return kOutOfMemory;
        }
    }
    if (numBytes > 0) {
        std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(numBytes));
    }
    position_ = end;
    if (numBytesWritten != nullptr) {
        *numBytesWritten = numBytes;
    }
    return kResultOk;
}

tresult MemoryStream::seek(int64 pos, int32 mode, int64* result) {
    std::uint64_t base = 0;
    switch (mode) {
    case kIBSeekSet:
        break;
    case kIBSeekCur:
        base = position_;
        break;
    case kIBSeekEnd:
        base = bytes_.size();
        break;
    default:
        return kInvalidArgument;
    }
    // Compared before adding, so that no offset can overflow.
    const auto signedBase = static_cast<int64>(base);
    const auto limit = static_cast<int64>(kCapacityLimit);
    if (pos < -signedBase || pos > limit - signedBase) {
        return kInvalidArgument;
    }
    position_ = static_cast<std::uint64_t>(signedBase + pos);
    if (result != nullptr) {
        *result = static_cast<int64>(position_);
    }
    return kResultOk;
}

tresult MemoryStream::tell(int64* pos) {
    if (pos == nullptr) {
        return kInvalidArgument;
    }
    *pos = static_cast<int64>(position_);
    return kResultOk;
}

} // namespace velkaphon::rack
