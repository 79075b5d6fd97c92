#include "engine/recorder_writer.hpp"
#include "engine/wav_file.hpp"
#include "tests/engine/recorder_test_support.hpp"
#include "tests/engine/wav_test_files.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;

constexpr std::uint32_t kBlock = 256;

// Three channels do not divide the ring, so frames wrap around its end.
TEST(RecorderThreads, PacedPushesReachTheFileBitExact) {
    ScratchFolder folder;
    const auto file = folder.file("long.wav");
    constexpr std::uint32_t channels = 3;
    constexpr std::uint64_t blocks = 4000; // a million frames, three times around the ring
    {
        RecorderWriter writer;
        writer.allocateRing();
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        NumberedSource source(channels, kBlock);
        for (std::uint64_t b = 0; b < blocks; ++b) {
            // The test waits for room; the real audio thread never does.
            while (writer.pushedSamples() - writer.drainedSamples() + kBlock * channels >
                   kRecorderRingSamples) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            source.push(writer, b * kBlock);
        }
        writer.stopCapture();
        writer.stopAndJoin();
        EXPECT_EQ(writer.droppedFrames(), 0u);
        EXPECT_EQ(writer.framesWritten(), blocks * kBlock);
        EXPECT_TRUE(writer.finalized());
        EXPECT_FALSE(writer.failed());
    }
    const auto bytes = readBytes(file);
    ASSERT_EQ(bytes.size(), 44 + blocks * kBlock * channels * 4);
    EXPECT_EQ(u32At(bytes, 40), blocks * kBlock * channels * 4);
    EXPECT_EQ(u32At(bytes, 4), blocks * kBlock * channels * 4 + 36);
    for (std::uint64_t f = 0; f < blocks * kBlock; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            ASSERT_EQ(floatAt(bytes, 44 + (f * channels + c) * 4), frameValue(f, c))
                << "frame " << f << " channel " << c;
        }
    }
    EXPECT_EQ(readWavFile(file, wavPreloadLimit).samples.size(), blocks * kBlock * channels);
}

// While the take runs its header counts each whole second once that second is written out, and
// never less than all but the last second.
TEST(RecorderThreads, RunningTakeHeaderCountsEverySecond) {
    ScratchFolder folder;
    const auto file = folder.file("running.wav");
    constexpr std::uint32_t channels = 2;
    constexpr std::uint32_t rate = 8000;
    constexpr std::uint64_t blocks = 63; // two seconds and 128 frames
    RecorderWriter writer;
    writer.allocateRing();
    writer.setDestination(file, channels, rate);
    writer.startCapture(0);
    NumberedSource source(channels, kBlock);
    for (std::uint64_t b = 0; b < blocks; ++b) {
        source.push(writer, b * kBlock);
    }
    while (writer.framesWritten() != blocks * kBlock) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto bytes = readBytes(file);
    ASSERT_GE(bytes.size(), 44u + 2 * rate * channels * 4);
    EXPECT_EQ(u32At(bytes, 40), 2 * rate * channels * 4);
    EXPECT_EQ(u32At(bytes, 4), 0xFFFFFFFFu);
    writer.stopCapture();
    writer.stopAndJoin();
    bytes = readBytes(file);
    EXPECT_EQ(u32At(bytes, 40), blocks * kBlock * channels * 4);
    EXPECT_EQ(bytes.size(), 44 + blocks * kBlock * channels * 4);
}

TEST(RecorderThreads, OverflowDropsWholeFramesAndCountsThem) {
    ScratchFolder folder;
    const auto file = folder.file("overflow.wav");
    constexpr std::uint32_t channels = 5;
    constexpr std::uint64_t pushed = 300000;
    // The ring holds 209715 whole frames of five channels; the writer sees none of them before
    // the push publishes its write index, so the rest are dropped.
    constexpr std::uint64_t fits = kRecorderRingSamples / channels;
    std::vector<std::vector<float>> samples(channels, std::vector<float>(pushed));
    std::vector<const float*> inputs;
    for (std::uint32_t c = 0; c < channels; ++c) {
        for (std::uint64_t f = 0; f < pushed; ++f) {
            samples[c][f] = frameValue(f, c);
        }
        inputs.push_back(samples[c].data());
    }
    {
        RecorderWriter writer;
        writer.allocateRing();
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        writer.pushToRing(inputs.data(), channels, pushed, 0);
        EXPECT_EQ(writer.droppedFrames(), pushed - fits);
        EXPECT_EQ(writer.pushedSamples(), fits * channels);
        // Room again once the writer has drained: capture goes on.
        while (writer.drainedSamples() != writer.pushedSamples()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        writer.pushToRing(inputs.data(), channels, 1, fits);
        writer.stopCapture();
        writer.stopAndJoin();
        EXPECT_EQ(writer.droppedFrames(), pushed - fits);
        EXPECT_EQ(writer.framesWritten(), fits + 1);
    }
    const WavAudio audio = readWavFile(file, wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), (fits + 1) * channels);
    for (std::uint64_t f = 0; f < fits; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            ASSERT_EQ(audio.samples[f * channels + c], frameValue(f, c)) << f;
        }
    }
    // The frame pushed after the overflow holds the first frame's samples, whole.
    for (std::uint32_t c = 0; c < channels; ++c) {
        EXPECT_EQ(audio.samples[fits * channels + c], frameValue(0, c));
    }
}

TEST(RecorderThreads, StopWhilePushingLosesNoAcceptedFrame) {
    ScratchFolder folder;
    const auto file = folder.file("race.wav");
    RecorderWriter writer;
    writer.allocateRing();
    writer.setDestination(file, 2, 48000);
    writer.startCapture(0);
    std::thread audio([&] {
        NumberedSource source(2, kBlock);
        for (std::uint64_t b = 0; b < 400; ++b) {
            source.push(writer, b * kBlock);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    writer.stopCapture();
    audio.join();
    writer.stopAndJoin();
    EXPECT_EQ(writer.framesWritten(), writer.pushedSamples() / 2);
    EXPECT_EQ(readWavFile(file, wavPreloadLimit).samples.size(), writer.pushedSamples());
}

} // namespace
} // namespace velkaphon::rack
