#include "engine/wav_file.hpp"
#include "tests/engine/wav_test_files.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>
#include <xmmintrin.h>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;
using Bytes = std::vector<std::uint8_t>;

struct Format {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 16;
    std::uint16_t blockAlign = 0; // 0: the right one for channels and bits
};

Bytes chunk(std::string_view id, const Bytes& body, std::uint32_t declaredSize) {
    Bytes bytes;
    appendText(bytes, id);
    appendU32(bytes, declaredSize);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Bytes chunk(std::string_view id, const Bytes& body) {
    Bytes bytes = chunk(id, body, static_cast<std::uint32_t>(body.size()));
    if (body.size() % 2 != 0) {
        bytes.push_back(0);
    }
    return bytes;
}

Bytes fmtBody(const Format& format, std::size_t size = 16) {
    Bytes body;
    appendU16(body, format.tag);
    appendU16(body, format.channels);
    appendU32(body, format.rate);
    const std::uint16_t align =
        format.blockAlign != 0
            ? format.blockAlign
            : static_cast<std::uint16_t>((format.bits + 7) / 8 * format.channels);
    appendU32(body, format.rate * align);
    appendU16(body, align);
    appendU16(body, format.bits);
    body.resize(size, 0);
    return body;
}

Bytes extensibleFmtBody(const Format& format, std::uint16_t subFormat, std::size_t size = 40) {
    Format outer = format;
    outer.tag = 0xFFFE;
    Bytes body = fmtBody(outer, 16);
    appendU16(body, 22);
    appendU16(body, format.bits);
    appendU32(body, 0);
    appendU16(body, subFormat);
    const Bytes guidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.insert(body.end(), guidTail.begin(), guidTail.end());
    body.resize(size, 0);
    return body;
}

Bytes riff(const Bytes& chunks, std::uint32_t declaredSize) {
    Bytes bytes;
    appendText(bytes, "RIFF");
    appendU32(bytes, declaredSize);
    appendText(bytes, "WAVE");
    bytes.insert(bytes.end(), chunks.begin(), chunks.end());
    return bytes;
}

Bytes riff(std::initializer_list<Bytes> chunks) {
    Bytes all;
    for (const auto& part : chunks) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return riff(all, static_cast<std::uint32_t>(all.size() + 4));
}

Bytes pcm16(std::initializer_list<int> values) {
    Bytes bytes;
    for (const int value : values) {
        appendU16(bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    }
    return bytes;
}

class WavFileTest : public ::testing::Test {
protected:
    WavAudio read(const Bytes& bytes, std::uint64_t limit = wavPreloadLimit) {
        const auto path = folder.file("file.wav");
        writeBytes(path, bytes);
        return readWavFile(path, limit);
    }

    std::string error(const Bytes& bytes, std::uint64_t limit = wavPreloadLimit) {
        try {
            read(bytes, limit);
        } catch (const std::runtime_error& failure) {
            return failure.what();
        }
        return "no error";
    }

    ScratchFolder folder;
};

// Real files: sox wraps known raw samples, and the reader must give back exactly those values.

TEST_F(WavFileTest, SoxSixteenBitPcmReadsExactly) {
    const auto path = folder.file("pcm16.wav");
    wrapRawWithSox(pcm16({0, 1, -1, 32767, -32768, 12345}), path, "signed-integer", 16, 2, 44100);
    const WavAudio audio = readWavFile(path, wavPreloadLimit);
    EXPECT_EQ(audio.channels, 2u);
    EXPECT_EQ(audio.sampleRate, 44100u);
    EXPECT_EQ(audio.samples, (SampleVector{0.0f, 1.0f / 32768, -1.0f / 32768, 0.999969482421875f,
                                           -1.0f, 12345.0f / 32768}));
}

TEST_F(WavFileTest, SoxTwentyFourBitPcmSignExtends) {
    Bytes raw;
    for (const std::int32_t value : {0, 8388607, -8388608, -1, 0x123456, -0x123456}) {
        const auto bits = static_cast<std::uint32_t>(value);
        raw.push_back(static_cast<std::uint8_t>(bits));
        raw.push_back(static_cast<std::uint8_t>(bits >> 8));
        raw.push_back(static_cast<std::uint8_t>(bits >> 16));
    }
    const auto path = folder.file("pcm24.wav");
    wrapRawWithSox(raw, path, "signed-integer", 24, 1, 96000);
    const WavAudio audio = readWavFile(path, wavPreloadLimit);
    const float step = 1.0f / 8388608;
    EXPECT_EQ(audio.sampleRate, 96000u);
    EXPECT_EQ(audio.samples, (SampleVector{0.0f, 8388607 * step, -1.0f, -step, 0x123456 * step,
                                           -0x123456 * step}));
}

TEST_F(WavFileTest, SoxThirtyTwoBitPcmScalesInSinglePrecision) {
    Bytes raw;
    const std::vector<std::int32_t> values = {0, 2147483647, -2147483647 - 1, 1, -1, 0x12345678};
    for (const std::int32_t value : values) {
        appendU32(raw, static_cast<std::uint32_t>(value));
    }
    const auto path = folder.file("pcm32.wav");
    wrapRawWithSox(raw, path, "signed-integer", 32, 2, 48000);
    const WavAudio audio = readWavFile(path, wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(audio.samples[i], static_cast<float>(values[i]) * 4.656612873077392578125e-10f)
            << i;
    }
    // Rounded to float before scaling, the largest value lands on exactly 1.
    EXPECT_EQ(audio.samples[1], 1.0f);
    EXPECT_EQ(audio.samples[2], -1.0f);
}

TEST_F(WavFileTest, SoxFloatSamplesAreTakenAsStored) {
    // Values sox carries through its 32-bit integer path unchanged.
    const SampleVector values = {0.0f, 0.5f, -0.25f, 0.75f, -1.0f, 3.0f / 1024};
    Bytes raw;
    for (const float value : values) {
        appendFloat(raw, value);
    }
    const auto path = folder.file("float.wav");
    wrapRawWithSox(raw, path, "floating-point", 32, 1, 48000);
    const WavAudio audio = readWavFile(path, wavPreloadLimit);
    EXPECT_EQ(audio.samples, values);
}

TEST_F(WavFileTest, SoxSixChannelFilesAreExtensibleAndReadLikePlainOnes) {
    Bytes raw;
    SampleVector expected;
    for (int i = 0; i < 60; ++i) {
        const int value = (i * 997) % 65536 - 32768;
        appendU16(raw, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
        expected.push_back(static_cast<float>(value) / 32768);
    }
    const auto path = folder.file("six.wav");
    wrapRawWithSox(raw, path, "signed-integer", 16, 6, 48000);
    const Bytes bytes = readBytes(path);
    ASSERT_GE(bytes.size(), 22u);
    ASSERT_EQ(bytes[20] | (bytes[21] << 8), 0xFFFE) << "sox no longer writes extensible files";
    const WavAudio audio = readWavFile(path, wavPreloadLimit);
    EXPECT_EQ(audio.channels, 6u);
    EXPECT_EQ(audio.samples, expected);
}

TEST_F(WavFileTest, SoxRatesAtTheEdgesOfTheRange) {
    const auto low = folder.file("low.wav");
    wrapRawWithSox(pcm16({100, -100}), low, "signed-integer", 16, 1, 8000);
    EXPECT_EQ(readWavFile(low, wavPreloadLimit).sampleRate, 8000u);
    EXPECT_EQ(readWavFile(low, wavPreloadLimit).samples,
              (SampleVector{100.0f / 32768, -100.0f / 32768}));

    const auto high = folder.file("high.wav");
    wrapRawWithSox(pcm16({7, 8, 9, 10}), high, "signed-integer", 16, 2, 384000);
    const WavAudio audio = readWavFile(high, wavPreloadLimit);
    EXPECT_EQ(audio.sampleRate, 384000u);
    EXPECT_EQ(audio.samples.size(), 4u);
}

TEST_F(WavFileTest, Utf8FileNamesAreOpened) {
    const auto path = folder.file("K\xC3\xBC"
                                  "che \xE6\x97\xA5\xE6\x9C\xAC.wav");
    writeBytes(path, riff({chunk("fmt ", fmtBody({})), chunk("data", pcm16({16384}))}));
    EXPECT_EQ(readWavFile(path, wavPreloadLimit).samples, SampleVector{0.5f});
}

// The header.

TEST_F(WavFileTest, RefusalsOfTheRiffHeader) {
    EXPECT_EQ(error({}), "Only RIFF WAV supported");
    EXPECT_EQ(error(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}),
              "Only RIFF WAV supported");
    Bytes rifx = riff({chunk("fmt ", fmtBody({}))});
    rifx[3] = 'X';
    EXPECT_EQ(error(rifx), "Only RIFF WAV supported");
    Bytes wave = riff({chunk("fmt ", fmtBody({}))});
    wave[11] = 'X';
    EXPECT_EQ(error(wave), "Only RIFF WAV supported");
    try {
        readWavFile(folder.file("missing.wav"), wavPreloadLimit);
        ADD_FAILURE() << "a missing file was read";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Cannot open WAV file");
    }
}

TEST_F(WavFileTest, FilesShorterThanTwentyBytesAreNotWalked) {
    Bytes shortFile = riff(Bytes{'f', 'm', 't', ' ', 16, 0, 0}, 0);
    ASSERT_EQ(shortFile.size(), 19u);
    EXPECT_EQ(error(shortFile), "Unsupported WAV encoding/layout");
    EXPECT_EQ(error(riff({})), "Unsupported WAV encoding/layout");
}

TEST_F(WavFileTest, FormatChunkSizes) {
    EXPECT_EQ(error(riff({chunk("fmt ", fmtBody({}, 15)), chunk("data", {})})),
              "Invalid WAV format");
    EXPECT_EQ(error(riff({chunk("fmt ", fmtBody({}, 4097)), chunk("data", {})})),
              "Invalid WAV format");
    EXPECT_EQ(read(riff({chunk("fmt ", fmtBody({}, 4096)), chunk("data", pcm16({1}))})).samples,
              SampleVector{1.0f / 32768});
    EXPECT_EQ(read(riff({chunk("fmt ", fmtBody({}, 17)), chunk("data", pcm16({2}))})).samples,
              SampleVector{2.0f / 32768});
}

TEST_F(WavFileTest, ExtensibleFormats) {
    Format stereo{.channels = 2, .bits = 24};
    EXPECT_EQ(error(riff({chunk("fmt ", extensibleFmtBody(stereo, 1, 39))})),
              "Invalid extensible WAV");
    EXPECT_EQ(read(riff({chunk("fmt ", extensibleFmtBody(stereo, 1)),
                         chunk("data", {0, 0, 0x40, 0, 0, 0xC0})}))
                  .samples,
              (SampleVector{0.5f, -0.5f}));
    Format ieee{.bits = 32};
    Bytes one;
    appendFloat(one, 0.125f);
    EXPECT_EQ(read(riff({chunk("fmt ", extensibleFmtBody(ieee, 3)), chunk("data", one)})).samples,
              SampleVector{0.125f});
    EXPECT_EQ(error(riff({chunk("fmt ", extensibleFmtBody(ieee, 6)), chunk("data", one)})),
              "Unsupported WAV encoding/layout");
}

TEST_F(WavFileTest, UnsupportedEncodings) {
    const auto refused = [&](Format format, const Bytes& data) {
        return error(riff({chunk("fmt ", fmtBody(format)), chunk("data", data)}));
    };
    const Bytes eight(8, 0);
    EXPECT_EQ(refused({.bits = 8}, eight), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.bits = 20}, Bytes(9, 0)), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.tag = 3, .bits = 64}, eight), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.tag = 3, .bits = 16}, eight), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.tag = 6, .bits = 8}, eight), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.tag = 7, .bits = 8}, eight), "Unsupported WAV encoding/layout");
    EXPECT_EQ(refused({.tag = 1, .bits = 12}, eight), "Unsupported WAV encoding/layout");
}

TEST_F(WavFileTest, ChannelRateAndBlockAlignLimits) {
    const auto outcome = [&](Format format, std::size_t dataBytes) {
        return error(riff({chunk("fmt ", fmtBody(format)), chunk("data", Bytes(dataBytes, 0))}));
    };
    EXPECT_EQ(outcome({.channels = 0}, 0), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 65}, 130), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 64}, 128), "no error");
    EXPECT_EQ(outcome({.rate = 7999}, 2), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.rate = 8000}, 2), "no error");
    EXPECT_EQ(outcome({.rate = 384000}, 2), "no error");
    EXPECT_EQ(outcome({.rate = 384001}, 2), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 2, .blockAlign = 2}, 4), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 2, .blockAlign = 8}, 8), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 2}, 6), "Unsupported WAV encoding/layout");
    EXPECT_EQ(outcome({.channels = 2}, 8), "no error");
    EXPECT_EQ(error(riff({chunk("data", pcm16({1}))})), "Unsupported WAV encoding/layout");
}

// A run of the largest floats and infinities of both signs, read also by a caller that unmasked
// the invalid-operation and overflow exceptions (as some plug-in hosts do): no trap, and the
// caller's mode comes back as it was.
TEST_F(WavFileTest, NonFiniteFloatsReadAsZero) {
    const float huge = std::numeric_limits<float>::max();
    SampleVector stored = {std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           2.5f,
                           -0.0f,
                           std::bit_cast<float>(0xff800001u)};
    stored.resize(70, huge);
    Bytes data;
    for (const float value : stored) {
        appendFloat(data, value);
    }
    SampleVector expected = {0.0f, 0.0f, 0.0f, 2.5f, -0.0f, 0.0f};
    expected.resize(70, huge);
    const unsigned int before = _mm_getcsr();
    for (const unsigned int unmasked : {0u, unsigned{_MM_MASK_INVALID | _MM_MASK_OVERFLOW}}) {
        SCOPED_TRACE(unmasked);
        _mm_setcsr(before & ~unmasked);
        const WavAudio audio =
            read(riff({chunk("fmt ", fmtBody({.tag = 3, .bits = 32})), chunk("data", data)}));
        const unsigned int after = _mm_getcsr();
        _mm_setcsr(before);
        EXPECT_EQ(after, before & ~unmasked);
        EXPECT_EQ(audio.samples, expected);
    }
}

// Data far longer than one read of the reader, with an odd tail, at every depth: each sample
// lands in its place, and non-finite floats on both sides of every read boundary become 0.
TEST_F(WavFileTest, DataSpanningManyReadsDecodesEverySample) {
    constexpr std::uint32_t kSamples = 3 * 65536 + 7;
    struct Depth {
        std::uint16_t tag;
        std::uint16_t bits;
    };
    for (const Depth depth : {Depth{1, 16}, Depth{1, 24}, Depth{1, 32}, Depth{3, 32}}) {
        SCOPED_TRACE(std::to_string(depth.bits) + (depth.tag == 3 ? " float" : ""));
        Bytes data;
        std::vector<float> expected;
        for (std::uint32_t i = 0; i < kSamples; ++i) {
            const auto pattern = static_cast<std::int32_t>(i * 2654435761u);
            if (depth.tag == 3) {
                // Every kind of non-finite value, and the largest finite ones, which stay.
                const std::array<float, 4> nonFiniteKinds = {
                    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN(), std::bit_cast<float>(0xff800001u)};
                const bool nonFinite = i % 65537 < 2 || i % 9973 == 0;
                const float finite =
                    i % 4099 == 0 ? std::numeric_limits<float>::max() * (i % 2 == 0 ? 1.0f : -1.0f)
                                  : static_cast<float>(pattern) / 4e9f;
                appendFloat(data, nonFinite ? nonFiniteKinds[i % 4] : finite);
                expected.push_back(nonFinite ? 0.0f : finite);
            } else {
                const std::int32_t value = pattern >> (32 - depth.bits);
                for (int b = 0; b < depth.bits / 8; ++b) {
                    data.push_back(
                        static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * b)));
                }
                expected.push_back(static_cast<float>(value) /
                                   static_cast<float>(std::int64_t{1} << (depth.bits - 1)));
            }
        }
        const WavAudio audio = read(riff(
            {chunk("fmt ", fmtBody({.tag = depth.tag, .bits = depth.bits})), chunk("data", data)}));
        ASSERT_EQ(audio.samples.size(), expected.size());
        for (std::uint32_t i = 0; i < kSamples; ++i) {
            ASSERT_EQ(audio.samples[i], expected[i]) << i;
        }
    }
}

// The chunk walk.

TEST_F(WavFileTest, OddChunksArePaddedAndUnknownChunksSkipped) {
    const WavAudio audio =
        read(riff({chunk("LIST", Bytes{1, 2, 3}), chunk("fmt ", fmtBody({})),
                   chunk("junk", Bytes(5, 0x77)), chunk("data", pcm16({-16384}))}));
    EXPECT_EQ(audio.samples, SampleVector{-0.5f});
}

TEST_F(WavFileTest, LaterFormatAndDataChunksWin) {
    const WavAudio audio =
        read(riff({chunk("fmt ", fmtBody({.rate = 8000})), chunk("data", pcm16({1, 2})),
                   chunk("fmt ", fmtBody({.channels = 2, .rate = 22050})),
                   chunk("data", pcm16({8192, -8192}))}));
    EXPECT_EQ(audio.channels, 2u);
    EXPECT_EQ(audio.sampleRate, 22050u);
    EXPECT_EQ(audio.samples, (SampleVector{0.25f, -0.25f}));
}

TEST_F(WavFileTest, FileWithoutDataHasNoSamples) {
    const WavAudio audio = read(riff({chunk("fmt ", fmtBody({.channels = 2}))}));
    EXPECT_EQ(audio.channels, 2u);
    EXPECT_TRUE(audio.samples.empty());
}

TEST_F(WavFileTest, ChunksReachingPastTheEndAreTruncated) {
    const Bytes format = chunk("fmt ", fmtBody({}));
    Bytes exact = riff({format, chunk("data", pcm16({1, 2}), 4)});
    EXPECT_EQ(read(exact).samples.size(), 2u);
    EXPECT_EQ(error(riff({format, chunk("data", pcm16({1, 2}), 6)})), "Truncated WAV chunk");
    EXPECT_EQ(error(riff({chunk("fmt ", fmtBody({}), 5000)})), "Truncated WAV chunk");
    EXPECT_EQ(error(riff({format, chunk("LIST", {}, 0xFFFFFFFF)})), "Truncated WAV chunk");
    // The size is checked before the preload limit.
    EXPECT_EQ(error(riff({format, chunk("data", pcm16({1, 2}), 100)}), 8), "Truncated WAV chunk");
}

TEST_F(WavFileTest, PadByteMayBeMissingAtTheEnd) {
    Bytes file = riff({chunk("fmt ", fmtBody({})), chunk("data", pcm16({3}))});
    file.insert(file.end(), {'a', 'b', 'c', 'd', 1, 0, 0, 0, 'x'});
    EXPECT_EQ(read(file).samples, SampleVector{3.0f / 32768});
}

TEST_F(WavFileTest, PreloadLimits) {
    const Bytes file = riff({chunk("fmt ", fmtBody({})), chunk("data", pcm16({1, 2, 3, 4, 5}))});
    EXPECT_EQ(error(file, 9), "WAV exceeds preload limit");
    // Ten raw bytes fit, but five decoded samples need 20 bytes.
    EXPECT_EQ(error(file, 10), "Decoded WAV exceeds preload limit");
    EXPECT_EQ(error(file, 19), "Decoded WAV exceeds preload limit");
    EXPECT_EQ(read(file, 20).samples.size(), 5u);
}

// Takes cut off before their header was rewritten or after a rewrite while recording, and files
// written to a pipe.

Bytes recorderHeader(std::uint32_t riffSize, std::uint32_t dataSize, std::uint16_t channels) {
    Bytes bytes;
    appendText(bytes, "RIFF");
    appendU32(bytes, riffSize);
    appendText(bytes, "WAVE");
    const Bytes format = fmtBody({.tag = 3, .channels = channels, .bits = 32});
    const Bytes formatChunk = chunk("fmt ", format);
    bytes.insert(bytes.end(), formatChunk.begin(), formatChunk.end());
    appendText(bytes, "data");
    appendU32(bytes, dataSize);
    return bytes;
}

TEST_F(WavFileTest, CutOffTakeIsReadToTheEndInWholeFrames) {
    // The header as first written, and as rewritten once the first frame was on its way.
    for (const std::uint32_t counted : {0u, 8u}) {
        Bytes file = recorderHeader(counted == 0 ? 36 : 0xFFFFFFFF, counted, 2);
        for (const float value : {0.5f, -0.5f, 0.25f, -0.25f, 1.0f}) {
            appendFloat(file, value);
        }
        file.push_back(0x12); // half a sample: a write cut short
        const WavAudio audio = read(file);
        EXPECT_EQ(audio.channels, 2u);
        EXPECT_EQ(audio.samples, (SampleVector{0.5f, -0.5f, 0.25f, -0.25f})) << counted;
    }
}

TEST_F(WavFileTest, PipeWrittenSizesReadToTheEnd) {
    Bytes file = recorderHeader(0xFFFFFFFF, 0xFFFFFFFF, 1);
    for (const float value : {0.5f, 0.125f, -1.0f}) {
        appendFloat(file, value);
    }
    EXPECT_EQ(read(file).samples, (SampleVector{0.5f, 0.125f, -1.0f}));
    EXPECT_EQ(error(file, 11), "WAV exceeds preload limit");
    EXPECT_EQ(read(file, 12).samples.size(), 3u);
}

TEST_F(WavFileTest, EmptyDataChunksOtherwiseStayEmpty) {
    // The RIFF size covers the chunk that follows: the data chunk really is empty.
    Bytes list = chunk("LIST", Bytes(8, 0x41));
    Bytes covered = recorderHeader(static_cast<std::uint32_t>(36 + list.size()), 0, 1);
    covered.insert(covered.end(), list.begin(), list.end());
    EXPECT_TRUE(read(covered).samples.empty());
    // A finished empty take.
    EXPECT_TRUE(read(recorderHeader(36, 0, 1)).samples.empty());
    // Counted data followed by a chunk that the RIFF size covers keeps its size.
    Bytes followed = recorderHeader(static_cast<std::uint32_t>(40 + list.size()), 4, 1);
    appendFloat(followed, 0.5f);
    followed.insert(followed.end(), list.begin(), list.end());
    EXPECT_EQ(read(followed).samples, SampleVector{0.5f});
    // So does a finished take with bytes after its RIFF, such as a tagger's trailer.
    Bytes tagged = recorderHeader(40, 4, 1);
    appendFloat(tagged, 0.5f);
    appendText(tagged, "TAG");
    tagged.resize(tagged.size() + 125, 0);
    EXPECT_EQ(read(tagged).samples, SampleVector{0.5f});
    // A wrong but ordinary size keeps the usual rule.
    Bytes wrong = recorderHeader(36, 12, 1);
    appendFloat(wrong, 0.5f);
    EXPECT_EQ(error(wrong), "Truncated WAV chunk");
}

// The header writer.

TEST(WavHeader, BytesOfAFinishedTakeAndTheStreamPosition) {
    ScratchFolder folder;
    const auto path = folder.file("take.wav");
    std::FILE* stream = std::fopen(path.string().c_str(), "w+b");
    ASSERT_NE(stream, nullptr);
    writeWavHeader(stream, 2, 48000, 0);
    EXPECT_EQ(std::ftell(stream), 44);
    const float samples[4] = {0.5f, -0.5f, 0.25f, 1.0f};
    std::fwrite(samples, sizeof(float), 4, stream);
    writeWavHeader(stream, 2, 48000, 16);
    EXPECT_EQ(std::ftell(stream), 44);
    EXPECT_EQ(std::ferror(stream), 0);
    std::fclose(stream);

    const Bytes bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 60u);
    const Bytes expected = {'R', 'I', 'F',  'F',  52,  0,   0,   0,    'W', 'A', 'V',
                            'E', 'f', 'm',  't',  ' ', 16,  0,   0,    0,   3,   0,
                            2,   0,   0x80, 0xBB, 0,   0,   0,   0xDC, 5,   0,   8,
                            0,   32,  0,    'd',  'a', 't', 'a', 16,   0,   0,   0};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), expected);
    EXPECT_EQ(floatAt(bytes, 44), 0.5f);
    EXPECT_EQ(floatAt(bytes, 56), 1.0f);
    EXPECT_EQ(readWavFile(path, wavPreloadLimit).samples, (SampleVector{0.5f, -0.5f, 0.25f, 1.0f}));
}

TEST(WavHeader, LargestTakeSizeFitsTheRiffField) {
    ScratchFolder folder;
    const auto path = folder.file("big.wav");
    std::FILE* stream = std::fopen(path.string().c_str(), "w+b");
    ASSERT_NE(stream, nullptr);
    writeWavHeader(stream, 64, 384000, static_cast<std::uint32_t>(wavMaxDataBytes));
    std::fclose(stream);
    const Bytes bytes = readBytes(path);
    EXPECT_EQ(u32At(bytes, 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32At(bytes, 28), 64u * 384000u * 4u);
    EXPECT_EQ(u32At(bytes, 40), 4294967259u);
}

} // namespace
} // namespace velkaphon::rack
