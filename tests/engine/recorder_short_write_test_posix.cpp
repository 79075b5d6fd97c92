#include "engine/recorder_writer.hpp"
#include "engine/wav_file.hpp"
#include "tests/engine/recorder_test_support.hpp"
#include "tests/engine/wav_test_files.hpp"
#include "tests/support/file_size_limit_posix.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;

TEST(RecorderShortWriteThreads, TakeKeepsWholeFramesAndStillReads) {
    ScratchFolder folder;
    const auto file = folder.file("full.wav");
    constexpr std::uint32_t channels = 2;
    // Room for 1000 frames and half a sample more.
    constexpr rlim_t limit = 44 + 1000 * channels * 4 + 2;
    std::vector<float> left(4096), right(4096);
    for (std::uint32_t i = 0; i < 4096; ++i) {
        left[i] = frameValue(i, 0);
        right[i] = frameValue(i, 1);
    }
    const float* inputs[] = {left.data(), right.data()};
    {
        FileSizeLimit full(limit);
        RecorderWriter writer;
        writer.allocateRing();
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        writer.pushToRing(inputs, channels, 4096, 0);
        writer.stopAndJoin();
        EXPECT_TRUE(writer.failed());
        EXPECT_TRUE(writer.finalized());
        EXPECT_EQ(writer.framesWritten(), 1000u);
    }
    const auto bytes = readBytes(file);
    ASSERT_EQ(bytes.size(), 44u + 1000 * channels * 4);
    EXPECT_EQ(u32At(bytes, 40), 1000u * channels * 4);
    EXPECT_EQ(u32At(bytes, 4), 1000u * channels * 4 + 36);
    const WavAudio audio = readWavFile(file, wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), 2000u);
    EXPECT_EQ(audio.samples[1998], frameValue(999, 0));
    EXPECT_EQ(audio.samples[1999], frameValue(999, 1));
    EXPECT_NE(soxInfo(file).find("= 1000 samples"), std::string::npos);
}

} // namespace
} // namespace velkaphon::rack
