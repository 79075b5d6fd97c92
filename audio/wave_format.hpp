#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

// Byte-for-byte images of the Windows records, so that one check serves Core Audio's formats
// and the simulated endpoints alike.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    bool operator==(const Guid&) const = default;
};
static_assert(sizeof(Guid) == 16);

#pragma pack(push, 1)
struct WaveFormatEx {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0; // cbSize
};

struct WaveFormatExtensible {
    WaveFormatEx format;
    std::uint16_t validBitsPerSample = 0;
    std::uint32_t channelMask = 0;
    Guid subFormat;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);
static_assert(sizeof(WaveFormatExtensible) == 40);
static_assert(offsetof(WaveFormatExtensible, channelMask) == 20);
static_assert(offsetof(WaveFormatExtensible, subFormat) == 24);

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;
// The extensible fields after the basic record.
constexpr std::uint16_t kExtensibleExtraSize = 22;

constexpr Guid kSubtypePcm{
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kSubtypeIeeeFloat{
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// A WAVE_FORMAT_EXTENSIBLE record with a consistent block align and byte rate.
WaveFormatExtensible extensibleFormat(const Guid& subFormat, std::uint16_t channels,
                                      std::uint32_t rate, std::uint16_t containerBits,
                                      std::uint16_t validBits, std::uint32_t channelMask);

// The stream format an endpoint runs with.
struct NegotiatedFormat {
    // The accepted format's first min(cbSize + 18, 40) bytes; the rest zero.
    std::array<std::uint8_t, sizeof(WaveFormatExtensible)> wave{};
    bool isFloat = false;
    std::uint32_t bytesPerSample = 0;
    std::uint32_t validBits = 0;
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;

    std::uint32_t blockAlign() const { return channels * bytesPerSample; }
};

// Accepts PCM in 16-, 24- and 32-bit containers and IEEE float of 32 and 64 bits, 1..64 channels,
// 8..192 kHz, with a consistent block align and byte rate; fills out only on success.
// The format must be readable for cbSize bytes past its basic record.
bool checkWaveFormat(NegotiatedFormat& out, const WaveFormatEx* format);

// [audio] One device sample to float; non-finite or out-of-range floats give 0.0.
float decodeSamples(const NegotiatedFormat& format, const std::uint8_t* sample) noexcept;

// [audio] One float to a device sample: integers clipped and rounded half away from zero,
// NaN and infinities written as 0.
void encodeSamples(const NegotiatedFormat& format, std::uint8_t* sample, float value) noexcept;

} // namespace velkaphon::rack
