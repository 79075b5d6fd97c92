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

// One block of numbered frames for a writer, as the audio thread would push it.
class NumberedSource {
public:
    explicit NumberedSource(std::uint32_t channels)
        : samples_(channels, std::vector<float>(kBlock)), pointers_(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            pointers_[c] = samples_[c].data();
        }
    }

    void push(RecorderWriter& writer, std::uint64_t position) {
        for (std::uint32_t c = 0; c < samples_.size(); ++c) {
            for (std::uint32_t i = 0; i < kBlock; ++i) {
                samples_[c][i] = frameValue(position + i, c);
            }
        }
        writer.pushToRing(pointers_.data(), static_cast<std::uint32_t>(pointers_.size()), kBlock,
                          position);
    }

private:
    std::vector<std::vector<float>> samples_;
    std::vector<const float*> pointers_;
};

// Three channels do not divide the ring, so frames wrap around its end.
TEST(RecorderThreads, PacedPushesReachTheFileBitExact) {
    ScratchFolder folder;
    const auto file = folder.file("long.wav");
    constexpr std::uint32_t channels = 3;
    constexpr std::uint64_t blocks = 4000; // a million frames, three times around the ring
    {
        RecorderWriter writer;
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        NumberedSource source(channels);
        for (std::uint64_t b = 0; b < blocks; ++b) {
            // The test waits for room; the real audio thread never does.
            while (writer.writeIndex.load() - writer.readIndex.load() + kBlock * channels >
                   kRecorderRingSamples) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            source.push(writer, b * kBlock);
        }
        writer.stopCapture();
        writer.stopAndJoin();
        EXPECT_EQ(writer.droppedFrames.load(), 0u);
        EXPECT_EQ(writer.framesWritten.load(), blocks * kBlock);
        EXPECT_TRUE(writer.finalized.load());
        EXPECT_FALSE(writer.failed.load());
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

TEST(RecorderThreads, OverflowDropsWholeFramesAndCountsThem) {
    ScratchFolder folder;
    const auto file = folder.file("overflow.wav");
    constexpr std::uint32_t channels = 5;
    constexpr std::uint64_t blocks = 2000; // 2.5 million samples pushed at once
    std::uint64_t accepted = 0;
    {
        RecorderWriter writer;
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        NumberedSource source(channels);
        for (std::uint64_t b = 0; b < blocks; ++b) {
            source.push(writer, b * kBlock);
        }
        writer.stopCapture();
        writer.stopAndJoin();
        accepted = writer.writeIndex.load() / channels;
        EXPECT_GT(writer.droppedFrames.load(), 0u);
        EXPECT_EQ(accepted + writer.droppedFrames.load(), blocks * kBlock);
        EXPECT_EQ(writer.framesWritten.load(), accepted);
    }
    const WavAudio audio = readWavFile(file, wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), accepted * channels);
    // Every stored frame is whole and later than the one before it.
    double previous = -1.0;
    for (std::uint64_t f = 0; f < accepted; ++f) {
        const float first = audio.samples[f * channels];
        ASSERT_GT(first, previous) << f;
        for (std::uint32_t c = 1; c < channels; ++c) {
            ASSERT_EQ(audio.samples[f * channels + c], first + static_cast<float>(c) / 64.0f);
        }
        previous = first;
    }
    // Frames wrap at 2^20 in frameValue; fewer than that were pushed.
    static_assert(blocks * kBlock < 1048576);
}

TEST(RecorderThreads, StopWhilePushingLosesNoAcceptedFrame) {
    ScratchFolder folder;
    const auto file = folder.file("race.wav");
    RecorderWriter writer;
    writer.setDestination(file, 2, 48000);
    writer.startCapture(0);
    std::thread audio([&] {
        NumberedSource source(2);
        for (std::uint64_t b = 0; b < 400; ++b) {
            source.push(writer, b * kBlock);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    writer.stopCapture();
    audio.join();
    writer.stopAndJoin();
    EXPECT_EQ(writer.framesWritten.load(), writer.writeIndex.load() / 2);
    EXPECT_EQ(readWavFile(file, wavPreloadLimit).samples.size(), writer.writeIndex.load());
}

} // namespace
} // namespace velkaphon::rack
