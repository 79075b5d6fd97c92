#include "audio/drift_resampler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace velkaphon::rack {
namespace {

void pushSine(SpscRing& ring, std::uint64_t& sampleIndex, std::size_t count, double frequency,
              double rate) {
    std::vector<float> frames(count * static_cast<std::size_t>(ring.channels));
    for (std::size_t i = 0; i < count; ++i, ++sampleIndex) {
        const float value =
            static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * sampleIndex / rate));
        for (std::int32_t c = 0; c < ring.channels; ++c) {
            frames[i * ring.channels + c] = c == 0 ? value : -value;
        }
    }
    ASSERT_TRUE(ring.push(frames.data(), static_cast<std::int32_t>(count)));
}

void pushConstant(SpscRing& ring, std::size_t count, float value) {
    std::vector<float> frames(count * static_cast<std::size_t>(ring.channels), value);
    ASSERT_TRUE(ring.push(frames.data(), static_cast<std::int32_t>(count)));
}

TEST(RateEstimator, FirstCallGivesTheNominalRateAndShortIntervalsChangeNothing) {
    RateEstimator state;
    EXPECT_EQ(estimateDeviceRate(state, 1000.0, 5e6, 48000.0), 48000.0);
    EXPECT_FALSE(state.first);
    // 0.2 s later: the same value, and lastTime stays.
    EXPECT_EQ(estimateDeviceRate(state, 1000.0 + 9600.6, 5e6 + 2e6, 48000.0), 48000.0);
    EXPECT_EQ(state.lastTime, 5e6);
    EXPECT_EQ(state.lastPosition, 1000.0);
}

TEST(RateEstimator, ImplausibleMeasurementsAreIgnoredButMoveTheTimeStampOn) {
    RateEstimator state;
    estimateDeviceRate(state, 0.0, 0.0, 48000.0);
    // 1 % fast: ignored.
    EXPECT_EQ(estimateDeviceRate(state, 48480.0, 1e7, 48000.0), 48000.0);
    EXPECT_EQ(state.lastTime, 1e7);
    EXPECT_EQ(state.lastPosition, 48480.0);
    // 0.4 % fast: 5 % of the way there.
    const double measured = 48000.0 * 1.004;
    EXPECT_DOUBLE_EQ(estimateDeviceRate(state, 48480.0 + measured, 2e7, 48000.0),
                     48000.0 + 0.05 * (measured - 48000.0));
    // No time at all has passed: nothing is measured.
    const double before = state.estimate;
    EXPECT_EQ(estimateDeviceRate(state, 1e9, 2e7, 48000.0), before);
}

TEST(RateEstimator, ConvergesOnTheTrueRateOfTheDeviceClock) {
    RateEstimator state;
    double estimate = 0.0;
    // A 48003 Hz device read every 10 ms for two minutes.
    for (int tick = 0; tick <= 12000; ++tick) {
        const double seconds = tick * 0.01;
        estimate = estimateDeviceRate(state, std::floor(seconds * 48003.0), seconds * 1e7, 48000.0);
    }
    EXPECT_NEAR(estimate, 48003.0, 0.5);
}

TEST(DriftResamplerTable, EveryRowSumsToOne) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    for (double ringRate : {48000.0, 44100.0, 96000.0}) {
        resampler.configure(&ring, ringRate, 48000.0, 500.0);
        ASSERT_EQ(resampler.table.size(), 1025u * 64u);
        for (int phase = 0; phase <= 1024; ++phase) {
            double sum = 0.0;
            for (int k = 0; k < 64; ++k) {
                sum += resampler.row(phase)[k];
            }
            ASSERT_NEAR(sum, 1.0, 2e-6) << ringRate << " " << phase;
        }
    }
    // Row 0 peaks on its own frame, and row 1024 is row 0 one frame later.
    resampler.configure(&ring, 48000.0, 48000.0, 500.0);
    EXPECT_GT(resampler.row(0)[31], 0.9f);
    EXPECT_NEAR(resampler.row(1024)[32], resampler.row(0)[31], 1e-3);
}

TEST(DriftResamplerTable, CutoffFollowsTheDownsamplingRatio) {
    EXPECT_DOUBLE_EQ(resamplerCutoff(2.0), 0.94 / 2.01);
    EXPECT_DOUBLE_EQ(resamplerCutoff(1.0), 0.94 / 1.005);
    EXPECT_DOUBLE_EQ(resamplerCutoff(0.5), 0.94);
    EXPECT_DOUBLE_EQ(resamplerCutoff(44100.0 / 48000.0), 0.94);
}

TEST(DriftResamplerController, FillErrorIsProportionalUntilItsClamp) {
    EXPECT_DOUBLE_EQ(fillError(1500.0, 500.0), 0.0004);
    EXPECT_DOUBLE_EQ(fillError(5500.0, 500.0), 0.0005);
    EXPECT_DOUBLE_EQ(fillError(-4500.0, 500.0), -0.0005);
    EXPECT_DOUBLE_EQ(fillError(500.0, 500.0), 0.0);
    // A target under one frame divides by one.
    EXPECT_DOUBLE_EQ(fillError(1.5, 0.5), 0.0002);
}

// Puts the read position where a running resampler would hold it: the fill exactly at target.
void lockAtTarget(DriftResampler& resampler, const SpscRing& ring) {
    resampler.primed = true;
    resampler.everPrimed = true;
    resampler.position = static_cast<double>(ring.writeIndex.load()) - resampler.target;
}

TEST(DriftResamplerController, EqualRatesAtTheTargetKeepTheStepAtOne) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 500.0);
    pushConstant(ring, 1000, 0.25f);
    lockAtTarget(resampler, ring);
    float out = -1.0f;
    double ppm = 99.0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
        ASSERT_EQ(ppm, 0.0);
        pushConstant(ring, 1, 0.25f);
    }
    EXPECT_EQ(resampler.step, 1.0);
    EXPECT_NEAR(out, 0.25f, 1e-6);
}

TEST(DriftResamplerController, TheStepSlewsAndStaysWithinHalfAPercent) {
    SpscRing ring;
    ring.reset(1, 65536);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 100.0);
    pushConstant(ring, 60000, 0.0f);
    float out;
    double ppm = 0.0;
    // The measured ratio asks for twice the speed: each frame moves the step by 5e-7.
    ASSERT_TRUE(resampler.readFrame(&out, 2.0, &ppm));
    EXPECT_NEAR(ppm, 0.5, 1e-9);
    ASSERT_TRUE(resampler.readFrame(&out, 2.0, &ppm));
    EXPECT_NEAR(ppm, 1.0, 1e-9);
    for (int i = 0; i < 12000; ++i) {
        ASSERT_TRUE(resampler.readFrame(&out, 2.0, &ppm));
    }
    EXPECT_NEAR(ppm, 5000.0, 1e-6);
    EXPECT_NEAR(resampler.step, 1.005, 1e-12);
    // And back down at the same pace when the ratio turns slow.
    ASSERT_TRUE(resampler.readFrame(&out, 0.5, &ppm));
    EXPECT_NEAR(ppm, 4999.5, 1e-6);
}

// A producer clock handing over a packet at a time against a consumer reading 128-frame blocks,
// with the ratio an estimator that has settled would report. The fill the resampler sees rises by
// a packet at each arrival and falls as it reads.
struct ClockedPair {
    double producerNominal;
    double producerRate;
    double consumerRate;
    std::uint64_t packetFrames;
};

TEST(DriftResamplerController, SteersOnTheMeanFillAndNotOnThePacketSawtooth) {
    const ClockedPair pairs[] = {
        {48000.0, 48000.0, 48000.0, 480},
        {48000.0, 48000.0 * (1.0 + 100e-6), 48000.0, 480},
        {48000.0, 48000.0 * (1.0 - 100e-6), 48000.0, 480},
        {44100.0, 44100.0, 48000.0, 441},
        {48000.0, 48003.0, 48000.0, 1024},
    };
    for (const ClockedPair& pair : pairs) {
        SCOPED_TRACE(pair.producerRate);
        SpscRing ring;
        ring.reset(1, 16384);
        DriftResampler resampler;
        const double scale = pair.producerNominal / pair.consumerRate;
        const double target = 608.0 * scale + static_cast<double>(pair.packetFrames) + 64.0;
        resampler.configure(&ring, pair.producerNominal, pair.consumerRate, target);
        const double ratio = pair.producerRate / pair.consumerRate;
        const double truePpm = (ratio / scale - 1.0) * 1e6;
        std::uint64_t produced = 0;
        std::uint64_t lost = 0;
        std::uint64_t read = 0;
        double ppmSum = 0.0;
        double lastSampledPpm = 0.0;
        double largestChange = 0.0;
        double aheadSum = 0.0;
        const std::uint64_t settled = 10 * 48000;
        for (std::uint64_t block = 0; read < 2 * settled; ++block) {
            const double now = static_cast<double>(block * 128) / pair.consumerRate;
            while (static_cast<double>(produced + pair.packetFrames) / pair.producerRate <= now) {
                pushConstant(ring, pair.packetFrames, 0.25f);
                produced += pair.packetFrames;
            }
            for (int i = 0; i < 128; ++i) {
                float out;
                double ppm = 0.0;
                const bool ok = resampler.readFrame(&out, ratio, &ppm);
                if (!resampler.everPrimed) {
                    continue;
                }
                lost += ok ? 0 : 1;
                if (++read == settled) {
                    lastSampledPpm = ppm;
                }
                if (read > settled && read % 1000 == 0) {
                    largestChange = std::max(largestChange, std::fabs(ppm - lastSampledPpm));
                    lastSampledPpm = ppm;
                }
                if (read > settled) {
                    ppmSum += ppm;
                    aheadSum += static_cast<double>(ring.writeIndex.load()) - resampler.position;
                }
            }
        }
        EXPECT_EQ(lost, 0u);
        // Steering on the instantaneous fill swings the step by tens of ppm every packet.
        EXPECT_LT(largestChange, 0.1);
        // What is left of the steering is no more than a fill 15 % off the target asks for.
        EXPECT_NEAR(ppmSum / static_cast<double>(settled), truePpm, fillError(1.15, 1.0) * 1e6);
        const double meanAhead = aheadSum / static_cast<double>(settled);
        EXPECT_LT(std::fabs(meanAhead - target) / target, 0.15)
            << meanAhead << " against " << target;
    }
}

TEST(RingWriteStamp, TheSteadyLevelRisesWithTimeByAtMostOneWrite) {
    RingWriteStamp stamp;
    stamp.reset(48000.0);
    EXPECT_EQ(stamp.steadyLevel(1000, 1e7), 1000.0) << "nothing published";
    // 480 frames that left the write index at 1000, one second in; 10 ms is 1e5 ticks.
    stamp.publish(1000, 480.0, 1e7);
    struct Case {
        std::uint64_t writeIndex;
        double time;
        double level;
    };
    const Case cases[] = {
        {1000, 1e7, 760.0},          {1000, 1e7 + 0.5e5, 1000.0}, {1000, 1e7 + 1e5, 1240.0},
        {1000, 1e7 + 3e5, 1240.0},   // the producer is late: no more than its write
        {1000, 1e7 - 1e5, 760.0},    // a time before the stamp
        {1480, 1e7 + 0.5e5, 1240.0}, // the next write is in, its stamp not yet
        {520, 1e7 + 0.5e5, 760.0},   // the stamp is out before its write
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(stamp.steadyLevel(c.writeIndex, c.time), c.level, 1e-6)
            << c.writeIndex << " at " << c.time;
    }
    EXPECT_EQ(stamp.steadyLevel(1000, std::numeric_limits<double>::quiet_NaN()), 1000.0);
}

// Both sides wake once a 480-frame period, a 48003 Hz producer and a 48000 Hz consumer: the
// phase at which the consumer meets the producer's packets slides by a period every 160 s, and
// the fill at the consumer's wakes swings by a packet with it.
TEST(DriftResamplerController, StampedWritesStartAtTheTargetAndKeepTheStepSteady) {
    SpscRing ring;
    ring.reset(1, 16384);
    RingWriteStamp stamp;
    DriftResampler resampler;
    const double target = 128.0 + 480.0 + 480.0 + 64.0;
    resampler.configure(&ring, 48000.0, 48000.0, target, 0.0, &stamp);
    const double ratio = 48003.0 / 48000.0;
    std::uint64_t produced = 0;
    std::uint64_t read = 0;
    std::uint64_t lost = 0;
    double lowestPpm = 1e9;
    double highestPpm = -1e9;
    for (std::uint64_t period = 0; read < 60 * 48000; ++period) {
        const double now = static_cast<double>(period * 480) / 48000.0;
        while (static_cast<double>(produced + 480) / 48003.0 <= now) {
            pushConstant(ring, 480, 0.25f);
            produced += 480;
            stamp.publish(ring.writeIndex.load(), 480.0,
                          static_cast<double>(produced) / 48003.0 * 1e7);
        }
        resampler.beginReads(now * 1e7, 480.0);
        for (int i = 0; i < 480; ++i) {
            float out;
            double ppm = 0.0;
            const bool ok = resampler.readFrame(&out, ratio, &ppm);
            if (!resampler.everPrimed) {
                continue;
            }
            if (read++ == 0) {
                // Placed so that the fill averaged over the run of reads is the target.
                EXPECT_NEAR(resampler.smoothedAhead[1], target, 1.0);
            }
            lost += ok ? 0 : 1;
            if (read > 10 * 48000) {
                lowestPpm = std::min(lowestPpm, ppm);
                highestPpm = std::max(highestPpm, ppm);
            }
        }
    }
    EXPECT_EQ(lost, 0u);
    // On the fill at the wakes the step follows the swing by tens of ppm.
    EXPECT_LT(highestPpm - lowestPpm, 0.2) << lowestPpm << " to " << highestPpm;
    EXPECT_NEAR(lowestPpm, 62.5, 0.5);
}

TEST(DriftResamplerPriming, WaitsForTheTargetPlusMarginWithoutTouchingTheRing) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 500.0);
    pushConstant(ring, 531, 1.0f); // fill 563, one short of 564
    float out = 7.0f;
    double ppm = 3.0;
    EXPECT_FALSE(resampler.readFrame(&out, 1.0, &ppm));
    EXPECT_EQ(out, 7.0f);
    EXPECT_EQ(ring.readIndex.load(), 0u);
    EXPECT_FALSE(resampler.primed);
    EXPECT_FALSE(resampler.everPrimed);
    pushConstant(ring, 1, 1.0f);
    EXPECT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
    EXPECT_TRUE(resampler.primed);
    EXPECT_TRUE(resampler.everPrimed);
    // Position 32 + one step; the read index keeps the 31 frames behind it.
    EXPECT_EQ(ring.readIndex.load(), 2u);
}

TEST(DriftResamplerPriming, AReserveDelaysTheLockButTheControllerStillHoldsTheTarget) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 500.0, 480.0);
    EXPECT_EQ(resampler.target, 500.0);
    EXPECT_EQ(resampler.lockFill, 1044.0);
    pushConstant(ring, 1011, 1.0f); // fill 1043, one short
    float out = 7.0f;
    double ppm = 3.0;
    EXPECT_FALSE(resampler.readFrame(&out, 1.0, &ppm));
    EXPECT_EQ(ring.readIndex.load(), 0u);
    EXPECT_FALSE(resampler.everPrimed);
    pushConstant(ring, 1, 1.0f);
    ASSERT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
    // 1012 frames ahead of a 500-frame target: the step starts to speed up.
    EXPECT_NEAR(ppm, 0.5, 1e-9);
    // Starved, it drops its lock and waits for the reserve again.
    while (resampler.readFrame(&out, 1.0, &ppm)) {
    }
    EXPECT_FALSE(resampler.primed);
    EXPECT_EQ(ring.fill(), 0u);
    pushConstant(ring, 1043, 1.0f);
    EXPECT_FALSE(resampler.readFrame(&out, 1.0, &ppm));
    pushConstant(ring, 1, 1.0f);
    EXPECT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
}

TEST(DriftResamplerPriming, AStarvedReaderDropsItsLockAndTheWaitingFrames) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 100.0);
    pushConstant(ring, 200, 0.5f);
    float out;
    double ppm;
    int produced = 0;
    while (resampler.readFrame(&out, 1.0, &ppm)) {
        ++produced;
    }
    // Fill 232 at the start, read position 32: it stops once the position comes within 32
    // frames of the write index.
    EXPECT_EQ(produced, 232 - 32 - 32);
    EXPECT_FALSE(resampler.primed);
    EXPECT_TRUE(resampler.everPrimed);
    EXPECT_EQ(ring.readIndex.load(), ring.writeIndex.load());
    EXPECT_EQ(ring.fill(), 0u);
    // It primes again on a full target.
    pushConstant(ring, 163, 0.5f);
    EXPECT_FALSE(resampler.readFrame(&out, 1.0, &ppm));
    pushConstant(ring, 1, 0.5f);
    EXPECT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
}

TEST(DriftResamplerSignal, UnityRatioPassesASineOnTime) {
    SpscRing ring;
    ring.reset(2, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 1024.0);
    std::uint64_t written = 0;
    pushSine(ring, written, 1024, 1000.0, 48000.0);
    // The first pushed frame sits just past the initial silence.
    resampler.primed = true;
    resampler.position = 32.0;
    double worst = 0.0;
    for (std::uint64_t n = 0; n < 600; ++n) {
        float out[2];
        double ppm;
        ASSERT_TRUE(resampler.readFrame(out, 1.0, &ppm));
        pushSine(ring, written, 1, 1000.0, 48000.0);
        const double expected = std::sin(2.0 * std::numbers::pi * 1000.0 * n / 48000.0);
        // The first 32 outputs still see the initial silence behind them.
        if (n < 32) {
            continue;
        }
        worst = std::max({worst, std::fabs(out[0] - expected), std::fabs(out[1] + expected)});
    }
    EXPECT_LT(worst, 1e-3);
}

// The 64-tap sum for every way the channels split into vector lanes, with the window in one
// piece and across the ring's wrap, against the filter written out tap by tap.
TEST(DriftResamplerSignal, EveryChannelCountSumsAsTheFilterWrittenOut) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (const std::int32_t channels : {1, 2, 3, 5, 6, 8, 12, 16, 23, 64}) {
        for (const double position : {100.37, 250.8125}) {
            SCOPED_TRACE(::testing::Message() << channels << " channels at " << position);
            SpscRing ring;
            ring.reset(channels, 256);
            DriftResampler resampler;
            resampler.configure(&ring, 44100.0, 48000.0, 100.0);
            std::vector<float> frames(static_cast<std::size_t>(channels) * 300);
            std::generate(frames.begin(), frames.end(), [&] { return sample(random); });
            ring.readIndex.store(static_cast<std::uint64_t>(position) - 100);
            ring.writeIndex.store(static_cast<std::uint64_t>(position) - 100);
            ASSERT_TRUE(ring.push(frames.data(), 200));
            resampler.primed = true;
            resampler.position = position;
            std::vector<float> out(static_cast<std::size_t>(channels));
            double ppm;
            ASSERT_TRUE(resampler.readFrame(out.data(), 44100.0 / 48000.0, &ppm));

            const auto index = static_cast<std::uint64_t>(position);
            const double scaled = (position - static_cast<double>(index)) * 1024.0;
            const int phase = static_cast<int>(scaled);
            const auto mu = static_cast<float>(scaled - phase);
            for (std::int32_t c = 0; c < channels; ++c) {
                double expected = 0.0;
                for (int k = 0; k < 64; ++k) {
                    const float lower = resampler.row(phase)[k];
                    const float upper = resampler.row(phase + 1)[k];
                    const float coefficient = lower + (upper - lower) * mu;
                    expected += static_cast<double>(ring.frameAt(index - 31 + k)[c]) * coefficient;
                }
                ASSERT_NEAR(out[c], expected, 1e-6) << "channel " << c;
            }
        }
    }
}

TEST(DriftResamplerSignal, NonFiniteSumsComeOutAsZero) {
    SpscRing ring;
    ring.reset(1, 8192);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0, 48000.0, 100.0);
    pushConstant(ring, 100, 0.0f);
    const float infinity = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(ring.push(&infinity, 1));
    pushConstant(ring, 100, 0.0f);
    float out = 1.0f;
    double ppm;
    bool sawZeroAtTheInfinity = false;
    for (int i = 0; i < 120; ++i) {
        ASSERT_TRUE(resampler.readFrame(&out, 1.0, &ppm));
        ASSERT_TRUE(std::isfinite(out));
        sawZeroAtTheInfinity = sawZeroAtTheInfinity || (i == 100 && out == 0.0f);
    }
    EXPECT_TRUE(sawZeroAtTheInfinity);
}

} // namespace
} // namespace velkaphon::rack
