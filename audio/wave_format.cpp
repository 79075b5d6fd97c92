#include "audio/wave_format.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velkaphon::rack {

namespace {

constexpr double kLargestFloat = 3.4028234663852886e+38;

bool applyFloatRules(NegotiatedFormat& candidate, const WaveFormatEx& format,
                     std::uint32_t validBits) {
    candidate.isFloat = true;
    candidate.bytesPerSample = format.bitsPerSample / 8u;
    if (candidate.bytesPerSample != 4 && candidate.bytesPerSample != 8) {
        return false;
    }
    return validBits == format.bitsPerSample;
}

bool applyPcmRules(NegotiatedFormat& candidate, const WaveFormatEx& format,
                   std::uint32_t validBits) {
    candidate.isFloat = false;
    candidate.bytesPerSample = format.bitsPerSample / 8u;
    if (candidate.bytesPerSample < 2 || candidate.bytesPerSample > 4) {
        return false;
    }
    return validBits >= 1 && validBits <= format.bitsPerSample;
}

bool applyTagRules(NegotiatedFormat& candidate, const WaveFormatEx& format,
                   std::uint32_t& validBits) {
    switch (format.formatTag) {
    case kWaveFormatExtensible: {
        if (format.extraSize < kExtensibleExtraSize) {
            return false;
        }
        WaveFormatExtensible extensible;
        std::memcpy(static_cast<void*>(&extensible), &format, sizeof extensible);
        validBits = extensible.validBitsPerSample;
        if (extensible.subFormat == kSubtypeIeeeFloat) {
            return applyFloatRules(candidate, format, validBits);
        }
        if (extensible.subFormat == kSubtypePcm) {
            return applyPcmRules(candidate, format, validBits);
        }
        return false;
    }
    case kWaveFormatIeeeFloat:
        validBits = format.bitsPerSample;
        return applyFloatRules(candidate, format, validBits);
    case kWaveFormatPcm:
        validBits = format.bitsPerSample;
        return applyPcmRules(candidate, format, validBits);
    default:
        return false;
    }
}

double cleanFloat(double value) {
    if (!std::isfinite(value) || std::fabs(value) > kLargestFloat) {
        return 0.0;
    }
    return value;
}

std::int64_t readSigned(const std::uint8_t* sample, std::uint32_t bytes) {
    std::uint64_t bits = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) {
        bits |= static_cast<std::uint64_t>(sample[i]) << (8 * i);
    }
    const std::uint64_t signBit = std::uint64_t{1} << (8 * bytes - 1);
    return static_cast<std::int64_t>((bits ^ signBit) - signBit);
}

double fullScale(const NegotiatedFormat& format) {
    if (format.validBits == format.bytesPerSample * 8) {
        return std::ldexp(1.0, static_cast<int>(format.bytesPerSample * 8 - 1));
    }
    return std::ldexp(1.0, static_cast<int>(format.validBits) - 1);
}

} // namespace

WaveFormatExtensible extensibleFormat(const Guid& subFormat, std::uint16_t channels,
                                      std::uint32_t rate, std::uint16_t containerBits,
                                      std::uint16_t validBits, std::uint32_t channelMask) {
    WaveFormatExtensible format;
    format.format.formatTag = kWaveFormatExtensible;
    format.format.channels = channels;
    format.format.samplesPerSec = rate;
    format.format.bitsPerSample = containerBits;
    format.format.blockAlign = static_cast<std::uint16_t>(channels * (containerBits / 8));
    format.format.avgBytesPerSec = std::uint32_t{format.format.blockAlign} * rate;
    format.format.extraSize = kExtensibleExtraSize;
    format.validBitsPerSample = validBits;
    format.channelMask = channelMask;
    format.subFormat = subFormat;
    return format;
}

bool checkWaveFormat(NegotiatedFormat& out, const WaveFormatEx* format) {
    if (format == nullptr || format->channels < 1 || format->channels > 64 ||
        format->samplesPerSec < 8000 || format->samplesPerSec > 192000) {
        return false;
    }
    NegotiatedFormat candidate;
    std::uint32_t validBits = 0;
    if (!applyTagRules(candidate, *format, validBits)) {
        return false;
    }
    const std::uint32_t blockAlign = format->channels * candidate.bytesPerSample;
    if (format->bitsPerSample != candidate.bytesPerSample * 8 || format->blockAlign != blockAlign ||
        format->avgBytesPerSec != blockAlign * format->samplesPerSec) {
        return false;
    }
    const std::size_t imageSize = std::min<std::size_t>(
        std::size_t{format->extraSize} + sizeof(WaveFormatEx), candidate.wave.size());
    std::memcpy(candidate.wave.data(), format, imageSize);
    candidate.validBits = validBits;
    candidate.channels = format->channels;
    candidate.sampleRate = format->samplesPerSec;
    out = candidate;
    return true;
}

float decodeSamples(const NegotiatedFormat& format, const std::uint8_t* sample) noexcept {
    if (format.isFloat) {
        if (format.bytesPerSample == 4) {
            float value;
            std::memcpy(&value, sample, sizeof value);
            return static_cast<float>(cleanFloat(value));
        }
        double value;
        std::memcpy(&value, sample, sizeof value);
        return static_cast<float>(cleanFloat(value));
    }
    switch (format.bytesPerSample) {
    case 2:
        return static_cast<float>(readSigned(sample, 2)) * 3.0517578125e-05f;
    case 3:
        return static_cast<float>(readSigned(sample, 3)) * 1.1920928955078125e-07f;
    case 4:
        return static_cast<float>(static_cast<double>(readSigned(sample, 4)) *
                                  4.656612873077393e-10);
    default:
        return 0.0f;
    }
}

void encodeSamples(const NegotiatedFormat& format, std::uint8_t* sample, float value) noexcept {
    const bool finite = std::isfinite(value);
    if (format.isFloat) {
        const float clean = finite ? value : 0.0f;
        if (format.bytesPerSample == 4) {
            std::memcpy(sample, &clean, sizeof clean);
        } else {
            const double wide = clean;
            std::memcpy(sample, &wide, sizeof wide);
        }
        return;
    }
    const double scale = fullScale(format);
    const double x = std::clamp(finite ? static_cast<double>(value) : 0.0, -1.0, 1.0 - 1.0 / scale);
    std::uint64_t bits = static_cast<std::uint64_t>(std::llround(x * scale));
    const std::uint32_t containerBits = format.bytesPerSample * 8;
    if (format.validBits < containerBits) {
        bits <<= containerBits - format.validBits;
    }
    for (std::uint32_t i = 0; i < format.bytesPerSample; ++i) {
        sample[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

} // namespace velkaphon::rack
