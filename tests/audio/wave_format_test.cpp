#include "audio/wave_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaphon::rack {
namespace {

WaveFormatExtensible extensible(const Guid& subFormat, std::uint16_t containerBits,
                                std::uint16_t validBits, std::uint16_t channels = 2,
                                std::uint32_t rate = 48000) {
    return extensibleFormat(subFormat, channels, rate, containerBits, validBits, 3);
}

WaveFormatEx basic(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels = 2,
                   std::uint32_t rate = 48000) {
    WaveFormatEx format;
    format.formatTag = tag;
    format.channels = channels;
    format.samplesPerSec = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = format.blockAlign * rate;
    return format;
}

NegotiatedFormat negotiated(bool isFloat, std::uint32_t bytes, std::uint32_t validBits) {
    NegotiatedFormat format;
    format.isFloat = isFloat;
    format.bytesPerSample = bytes;
    format.validBits = validBits;
    format.channels = 1;
    format.sampleRate = 48000;
    return format;
}

std::int64_t encoded(const NegotiatedFormat& format, float value) {
    std::uint8_t bytes[8] = {};
    encodeSamples(format, bytes, value);
    std::uint64_t bits = 0;
    for (std::uint32_t i = 0; i < format.bytesPerSample; ++i) {
        bits |= std::uint64_t{bytes[i]} << (8 * i);
    }
    const std::uint64_t sign = std::uint64_t{1} << (8 * format.bytesPerSample - 1);
    return static_cast<std::int64_t>((bits ^ sign) - sign);
}

TEST(CheckWaveFormat, ExtensibleNeedsTheFullExtension) {
    NegotiatedFormat out;
    WaveFormatExtensible format = extensible(kSubtypePcm, 32, 24);
    format.format.extraSize = 21;
    EXPECT_FALSE(checkWaveFormat(out, &format.format));

    format.format.extraSize = 22;
    ASSERT_TRUE(checkWaveFormat(out, &format.format));
    EXPECT_FALSE(out.isFloat);
    EXPECT_EQ(out.bytesPerSample, 4u);
    EXPECT_EQ(out.validBits, 24u);
    EXPECT_EQ(out.channels, 2u);
    EXPECT_EQ(out.sampleRate, 48000u);
    EXPECT_EQ(std::memcmp(out.wave.data(), &format, sizeof format), 0);
}

TEST(CheckWaveFormat, TheWaveImageStopsAtTheFormatsOwnSize) {
    NegotiatedFormat out;
    const WaveFormatEx format = basic(kWaveFormatIeeeFloat, 32);
    ASSERT_TRUE(checkWaveFormat(out, &format));
    EXPECT_EQ(std::memcmp(out.wave.data(), &format, sizeof format), 0);
    for (std::size_t i = sizeof format; i < out.wave.size(); ++i) {
        EXPECT_EQ(out.wave[i], 0) << i;
    }
    EXPECT_TRUE(out.isFloat);
    EXPECT_EQ(out.validBits, 32u);
}

TEST(CheckWaveFormat, FloatMustUseEveryBitOfItsContainer) {
    NegotiatedFormat out;
    WaveFormatExtensible format = extensible(kSubtypeIeeeFloat, 32, 24);
    EXPECT_FALSE(checkWaveFormat(out, &format.format));
    format.validBitsPerSample = 32;
    EXPECT_TRUE(checkWaveFormat(out, &format.format));
    const WaveFormatExtensible wide = extensible(kSubtypeIeeeFloat, 64, 64);
    ASSERT_TRUE(checkWaveFormat(out, &wide.format));
    EXPECT_EQ(out.bytesPerSample, 8u);
    const WaveFormatEx half = basic(kWaveFormatIeeeFloat, 16);
    EXPECT_FALSE(checkWaveFormat(out, &half));
}

TEST(CheckWaveFormat, PcmContainersOfTwoToFourBytes) {
    NegotiatedFormat out;
    const WaveFormatEx eight = basic(kWaveFormatPcm, 8);
    EXPECT_FALSE(checkWaveFormat(out, &eight));
    const WaveFormatEx packed = basic(kWaveFormatPcm, 24);
    ASSERT_TRUE(checkWaveFormat(out, &packed));
    EXPECT_EQ(out.bytesPerSample, 3u);
    EXPECT_EQ(out.validBits, 24u);
    const WaveFormatEx sixteen = basic(kWaveFormatPcm, 16);
    EXPECT_TRUE(checkWaveFormat(out, &sixteen));
    const WaveFormatExtensible noValidBits = extensible(kSubtypePcm, 16, 0);
    EXPECT_FALSE(checkWaveFormat(out, &noValidBits.format));
    const WaveFormatExtensible tooManyValidBits = extensible(kSubtypePcm, 16, 17);
    EXPECT_FALSE(checkWaveFormat(out, &tooManyValidBits.format));
}

TEST(CheckWaveFormat, ChannelAndRateLimits) {
    NegotiatedFormat out;
    EXPECT_FALSE(checkWaveFormat(out, nullptr));
    const WaveFormatEx many = basic(kWaveFormatIeeeFloat, 32, 65);
    EXPECT_FALSE(checkWaveFormat(out, &many));
    const WaveFormatEx most = basic(kWaveFormatIeeeFloat, 32, 64);
    EXPECT_TRUE(checkWaveFormat(out, &most));
    const WaveFormatEx none = basic(kWaveFormatIeeeFloat, 32, 0);
    EXPECT_FALSE(checkWaveFormat(out, &none));
    for (std::uint32_t rate : {7999u, 192001u}) {
        const WaveFormatEx format = basic(kWaveFormatPcm, 16, 2, rate);
        EXPECT_FALSE(checkWaveFormat(out, &format)) << rate;
    }
    for (std::uint32_t rate : {8000u, 192000u}) {
        const WaveFormatEx format = basic(kWaveFormatPcm, 16, 2, rate);
        EXPECT_TRUE(checkWaveFormat(out, &format)) << rate;
    }
}

TEST(CheckWaveFormat, RefusesInconsistentSizesAndUnknownKinds) {
    NegotiatedFormat out;
    WaveFormatEx format = basic(kWaveFormatPcm, 16);
    format.blockAlign = 3;
    EXPECT_FALSE(checkWaveFormat(out, &format));
    format = basic(kWaveFormatPcm, 16);
    format.avgBytesPerSec += 1;
    EXPECT_FALSE(checkWaveFormat(out, &format));
    format = basic(2, 16); // ADPCM
    EXPECT_FALSE(checkWaveFormat(out, &format));
    Guid other = kSubtypePcm;
    other.data1 = 2;
    const WaveFormatExtensible unknown = extensible(other, 16, 16);
    EXPECT_FALSE(checkWaveFormat(out, &unknown.format));
    // A refusal leaves the caller's record alone.
    out.channels = 7;
    EXPECT_FALSE(checkWaveFormat(out, &unknown.format));
    EXPECT_EQ(out.channels, 7u);
}

TEST(SampleCodes, EverySixteenBitCodeRoundTrips) {
    const NegotiatedFormat format = negotiated(false, 2, 16);
    for (std::int32_t code = -32768; code <= 32767; ++code) {
        std::uint8_t bytes[2] = {static_cast<std::uint8_t>(code),
                                 static_cast<std::uint8_t>(code >> 8)};
        const float value = decodeSamples(format, bytes);
        ASSERT_EQ(value, static_cast<float>(code) / 32768.0f);
        ASSERT_EQ(encoded(format, value), code);
    }
}

TEST(SampleCodes, EveryTwentyFourBitCodeRoundTrips) {
    const NegotiatedFormat format = negotiated(false, 3, 24);
    for (std::int32_t code = -8388608; code <= 8388607; ++code) {
        std::uint8_t bytes[3] = {static_cast<std::uint8_t>(code),
                                 static_cast<std::uint8_t>(code >> 8),
                                 static_cast<std::uint8_t>(code >> 16)};
        const float value = decodeSamples(format, bytes);
        ASSERT_EQ(value, static_cast<float>(code) / 8388608.0f);
        ASSERT_EQ(encoded(format, value), code);
    }
}

TEST(SampleDecode, KnownValuesOfEachFormat) {
    const std::uint8_t mostNegative24[3] = {0x00, 0x00, 0x80};
    EXPECT_EQ(decodeSamples(negotiated(false, 3, 24), mostNegative24), -1.0f);
    const std::uint8_t half32[4] = {0x00, 0x00, 0x00, 0x40};
    EXPECT_EQ(decodeSamples(negotiated(false, 4, 32), half32), 0.5f);
    // 24 valid bits in 32: read at the container's scale.
    EXPECT_EQ(decodeSamples(negotiated(false, 4, 24), half32), 0.5f);
    const std::uint8_t anything[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(decodeSamples(negotiated(false, 1, 8), anything), 0.0f);

    double wide = 0.25;
    EXPECT_EQ(decodeSamples(negotiated(true, 8, 64), reinterpret_cast<std::uint8_t*>(&wide)),
              0.25f);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 3.5e38, -3.5e38}) {
        EXPECT_EQ(decodeSamples(negotiated(true, 8, 64), reinterpret_cast<std::uint8_t*>(&bad)),
                  0.0f)
            << bad;
    }
    float narrow = std::numeric_limits<float>::infinity();
    EXPECT_EQ(decodeSamples(negotiated(true, 4, 32), reinterpret_cast<std::uint8_t*>(&narrow)),
              0.0f);
    narrow = -0.75f;
    EXPECT_EQ(decodeSamples(negotiated(true, 4, 32), reinterpret_cast<std::uint8_t*>(&narrow)),
              -0.75f);
}

TEST(SampleEncode, IntegerClippingAndNan) {
    const NegotiatedFormat pcm16 = negotiated(false, 2, 16);
    EXPECT_EQ(encoded(pcm16, 1.0f), 32767);
    EXPECT_EQ(encoded(pcm16, -1.0f), -32768);
    EXPECT_EQ(encoded(pcm16, 2.0f), 32767);
    EXPECT_EQ(encoded(pcm16, -2.0f), -32768);
    EXPECT_EQ(encoded(pcm16, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(encoded(pcm16, -std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(encoded(negotiated(false, 4, 32), 1.0f), 2147483647);
    EXPECT_EQ(encoded(negotiated(false, 4, 32), -1.0f), -2147483647 - 1);
    EXPECT_EQ(encoded(negotiated(false, 3, 24), 1.0f), 8388607);
}

TEST(SampleEncode, FewerValidBitsAreShiftedToTheTop) {
    EXPECT_EQ(encoded(negotiated(false, 4, 24), 1.0f), 0x7FFFFF00);
    EXPECT_EQ(encoded(negotiated(false, 4, 24), -1.0f), -0x80000000LL);
    EXPECT_EQ(encoded(negotiated(false, 4, 24), -1.0f / 8388608.0f), -256);
    EXPECT_EQ(encoded(negotiated(false, 4, 20), 0.5f), 0x40000000);
}

TEST(SampleEncode, RoundsHalvesAwayFromZero) {
    const NegotiatedFormat pcm16 = negotiated(false, 2, 16);
    const float half = 0.5f / 32768.0f;
    EXPECT_EQ(encoded(pcm16, half), 1);
    EXPECT_EQ(encoded(pcm16, -half), -1);
    EXPECT_EQ(encoded(pcm16, 3.0f * half), 2);
    EXPECT_EQ(encoded(pcm16, -3.0f * half), -2);
    EXPECT_EQ(encoded(pcm16, 0.49f / 32768.0f), 0);
}

TEST(SampleEncode, FloatsPassUnclampedAndNonFiniteBecomesZero) {
    float narrow = 1.0f;
    encodeSamples(negotiated(true, 4, 32), reinterpret_cast<std::uint8_t*>(&narrow), 2.5f);
    EXPECT_EQ(narrow, 2.5f);
    encodeSamples(negotiated(true, 4, 32), reinterpret_cast<std::uint8_t*>(&narrow),
                  std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(narrow, 0.0f);
    double wide = 1.0;
    encodeSamples(negotiated(true, 8, 64), reinterpret_cast<std::uint8_t*>(&wide), -3.25f);
    EXPECT_EQ(wide, -3.25);
    encodeSamples(negotiated(true, 8, 64), reinterpret_cast<std::uint8_t*>(&wide),
                  std::numeric_limits<float>::infinity());
    EXPECT_EQ(wide, 0.0);
}

} // namespace
} // namespace velkaphon::rack
