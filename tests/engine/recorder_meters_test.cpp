#include "engine/recorder_meters.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

void update(RecorderMeters& meters, std::vector<std::vector<float>>& channels) {
    std::vector<const float*> pointers;
    for (auto& channel : channels) {
        pointers.push_back(channel.data());
    }
    updateMeters(meters, pointers.data(), static_cast<std::uint32_t>(pointers.size()),
                 static_cast<std::uint32_t>(channels.at(0).size()));
}

TEST(RecorderMeters, NonFiniteBlockCountsAndOnlyDecays) {
    RecorderMeters meters;
    configureMeters(meters, 1, 48000.0);
    std::vector<std::vector<float>> block = {std::vector<float>(64, 0.5f)};
    update(meters, block);
    block[0].assign(64, std::numeric_limits<float>::quiet_NaN());
    block[0][3] = std::numeric_limits<float>::infinity();
    update(meters, block);
    const MeterSnapshot snapshot = snapshotMeters(meters);
    const double decay = std::exp(-64.0 / (48000.0 * 0.35));
    EXPECT_EQ(snapshot.invalidSamples, 64u);
    EXPECT_EQ(snapshot.peaks[0], static_cast<float>(0.5 * decay));
    EXPECT_EQ(snapshot.rms[0], static_cast<float>(0.5 * decay));
    EXPECT_FALSE(snapshot.clips[0]);
}

TEST(RecorderMeters, FullScaleSampleHoldsTheClipForTwoSeconds) {
    RecorderMeters meters;
    configureMeters(meters, 1, 48000.0);
    ASSERT_EQ(meters.clipHoldSamples, 96000u);
    std::vector<std::vector<float>> block = {std::vector<float>(100, 0.0f)};
    block[0][10] = -1.0f;
    update(meters, block);
    EXPECT_TRUE(snapshotMeters(meters).clips[0]);
    block[0].assign(100, 0.0f);
    // 89 samples followed the clip in its block; 959 more blocks make 95989 < 96000.
    for (int i = 0; i < 959; ++i) {
        update(meters, block);
    }
    EXPECT_TRUE(snapshotMeters(meters).clips[0]);
    update(meters, block);
    EXPECT_FALSE(snapshotMeters(meters).clips[0]);
    block[0][99] = 0.999f;
    update(meters, block);
    EXPECT_FALSE(snapshotMeters(meters).clips[0]);
}

TEST(RecorderMeters, ChannelsBeyondTheInputMeterSilence) {
    RecorderMeters meters;
    configureMeters(meters, 3, 48000.0);
    std::vector<std::vector<float>> block = {std::vector<float>(16, 0.25f),
                                             std::vector<float>(16, 0.75f)};
    std::vector<const float*> pointers = {block[0].data(), nullptr};
    updateMeters(meters, pointers.data(), 2, 16);
    const MeterSnapshot snapshot = snapshotMeters(meters);
    EXPECT_EQ(snapshot.channels, 3u);
    EXPECT_EQ(snapshot.peaks[0], 0.25f);
    EXPECT_EQ(snapshot.rms[0], 0.25f);
    EXPECT_EQ(snapshot.peaks[1], 0.0f);
    EXPECT_EQ(snapshot.peaks[2], 0.0f);
    updateMeters(meters, nullptr, 0, 16);
    EXPECT_LT(snapshotMeters(meters).peaks[0], 0.25f);
    EXPECT_EQ(meters.generation.load(), 6u);
    updateMeters(meters, nullptr, 0, 0);
    EXPECT_EQ(meters.generation.load(), 6u);
}

TEST(RecorderMeters, PreparedRateAndReset) {
    RecorderMeters meters;
    EXPECT_EQ(meters.channels, 0u);
    configureMeters(meters, 80, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(meters.channels, 64u);
    EXPECT_EQ(meters.sampleRate, 48000.0);
    configureMeters(meters, 2, 44100.25);
    EXPECT_EQ(meters.clipHoldSamples, 88201u);
    std::vector<std::vector<float>> block = {std::vector<float>(8, 1.5f),
                                             std::vector<float>(8, std::nanf(""))};
    update(meters, block);
    const std::uint64_t before = meters.generation.load();
    resetMeters(meters);
    EXPECT_EQ(meters.generation.load(), before + 2);
    const MeterSnapshot snapshot = snapshotMeters(meters);
    EXPECT_EQ(snapshot.peaks[0], 0.0f);
    EXPECT_FALSE(snapshot.clips[0]);
    EXPECT_EQ(snapshot.invalidSamples, 0u);
    EXPECT_TRUE(snapshot.coherent);
    EXPECT_EQ(snapshot.generation, before + 2);
}

TEST(RecorderMeters, PeaksBeyondTheFloatRangeAreLimited) {
    RecorderMeters meters;
    configureMeters(meters, 1, 48000.0);
    std::vector<std::vector<float>> block = {{std::numeric_limits<float>::max()}};
    update(meters, block);
    EXPECT_EQ(snapshotMeters(meters).peaks[0], std::numeric_limits<float>::max());
}

TEST(RecorderMeters, SnapshotDuringAnUpdateIsMarkedIncoherentButFilled) {
    RecorderMeters meters;
    configureMeters(meters, 1, 48000.0);
    std::vector<std::vector<float>> block = {std::vector<float>(4, 0.5f)};
    update(meters, block);
    // An update that never finishes, as a reader sees it.
    meters.generation.fetch_add(1);
    const MeterSnapshot snapshot = snapshotMeters(meters);
    EXPECT_FALSE(snapshot.coherent);
    EXPECT_EQ(snapshot.peaks[0], 0.5f);
    EXPECT_EQ(snapshot.generation, meters.generation.load());
    EXPECT_EQ(snapshot.generation % 2, 1u);
}

TEST(RecorderMetersThreads, CoherentSnapshotsAreNeverTorn) {
    RecorderMeters meters;
    configureMeters(meters, 8, 48000.0);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        // Rising levels: every channel's peak is the block's value, the same on all channels.
        std::vector<std::vector<float>> block(8, std::vector<float>(32, 0.0f));
        for (int k = 1; k <= 20000; ++k) {
            for (auto& channel : block) {
                channel.assign(32, static_cast<float>(k) / 20000.0f);
            }
            update(meters, block);
        }
        done.store(true);
    });
    std::uint64_t coherent = 0;
    while (!done.load()) {
        const MeterSnapshot snapshot = snapshotMeters(meters);
        if (!snapshot.coherent) {
            continue;
        }
        ++coherent;
        ASSERT_EQ(snapshot.generation % 2, 0u);
        for (std::uint32_t c = 1; c < 8; ++c) {
            ASSERT_EQ(snapshot.peaks[c], snapshot.peaks[0]) << "torn at channel " << c;
        }
    }
    audio.join();
    EXPECT_GT(coherent, 0u);
    EXPECT_EQ(snapshotMeters(meters).peaks[7], 1.0f);
}

} // namespace
} // namespace velkaphon::rack
