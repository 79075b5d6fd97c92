#pragma once

#include <cstdint>
#include <string>

namespace velkaphon::rack {

// The back end speaks in Windows HRESULTs on every platform, so the portable code and the
// simulated endpoints report failures exactly as Core Audio does.
using Hresult = std::int32_t;

constexpr Hresult hresultFromBits(std::uint32_t bits) {
    return static_cast<Hresult>(bits);
}

constexpr Hresult kHresultOk = 0;
constexpr Hresult kHresultFalse = 1;
constexpr Hresult kHresultFail = hresultFromBits(0x80004005u);
constexpr Hresult kHresultInvalidArgument = hresultFromBits(0x80070057u);
constexpr Hresult kHresultOutOfMemory = hresultFromBits(0x8007000Eu);
constexpr Hresult kHresultChangedMode = hresultFromBits(0x80010106u);
// HRESULT_FROM_WIN32 of ERROR_TIMEOUT and ERROR_CANCELLED.
constexpr Hresult kHresultTimeout = hresultFromBits(0x800705B4u);
constexpr Hresult kHresultCancelled = hresultFromBits(0x800704C7u);

constexpr Hresult kAudclntBufferTooLarge = hresultFromBits(0x88890006u);
constexpr Hresult kAudclntUnsupportedFormat = hresultFromBits(0x88890008u);
constexpr Hresult kAudclntDeviceInUse = hresultFromBits(0x8889000Au);
constexpr Hresult kAudclntBufferSizeNotAligned = hresultFromBits(0x88890019u);

constexpr bool hresultFailed(Hresult result) {
    return result < 0;
}

// HRESULT_FROM_WIN32 for a non-zero error code.
constexpr Hresult hresultFromWin32(std::uint32_t code) {
    return hresultFromBits(0x80070000u | (code & 0xFFFFu));
}

// "HRESULT 0x" and eight lower-case hexadecimal digits.
std::string formatHresult(std::uint32_t result);

} // namespace velkaphon::rack
