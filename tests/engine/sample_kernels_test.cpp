#include "engine/finite_samples.hpp"
#include "engine/sample_peak.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace velkaphon::rack {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Samples whose largest magnitude sits at `loudest`, with a NaN and an infinity elsewhere when
// asked; every other sample is small and differs from its neighbours.
std::vector<float> samples(std::uint32_t frames, std::uint32_t loudest, bool nonFinite) {
    std::vector<float> block(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        block[i] = (i % 2 == 0 ? 0.01f : -0.02f) * static_cast<float>(i % 7);
    }
    if (loudest < frames) {
        block[loudest] = -0.875f;
    }
    if (nonFinite && frames > 1) {
        block[(loudest + 1) % frames] = kNaN;
        block[frames - 1 - loudest % frames] = kNaN;
    }
    return block;
}

// Bit for bit, so that NaNs compare equal to themselves.
bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

float expectedPeak(const std::vector<float>& block, float peak) {
    for (const float sample : block) {
        peak = std::abs(sample) > peak ? std::abs(sample) : peak;
    }
    return peak;
}

// Both widths of each kernel against a per-sample loop, at every length around the vector
// steps, with the loudest sample in the vector part and in the tail, and with NaNs beside it.
TEST(SampleKernels, NarrowAndWideKernelsMatchThePerSampleRule) {
    for (std::uint32_t frames = 0; frames <= 70; ++frames) {
        for (const std::uint32_t loudest : {0u, frames / 2, frames - 1}) {
            for (const bool nonFinite : {false, true}) {
                SCOPED_TRACE(testing::Message() << frames << " frames, loudest at " << loudest
                                                << (nonFinite ? ", with NaNs" : ""));
                const std::vector<float> first = samples(frames, loudest, nonFinite);
                std::vector<float> second = samples(frames, frames - 1 - loudest, false);
                const std::array<const float*, 2> channels{first.data(), second.data()};
                const float start = 0.125f;
                const float peak = expectedPeak(second, expectedPeak(first, start));
                EXPECT_EQ(narrowChannelsPeak(channels.data(), 2, frames, start), peak);
                std::vector<float> copied(frames, 1.0f);
                EXPECT_EQ(copyWithPeak(first.data(), copied.data(), frames, start,
                                       [](auto sample) { return sample; }),
                          expectedPeak(first, start));
                EXPECT_TRUE(sameBits(copied, first));
                if (!kWideVectors) {
                    continue;
                }
                EXPECT_EQ(wideChannelsPeak(channels.data(), 2, frames, start), peak);
                std::fill(copied.begin(), copied.end(), 1.0f);
                EXPECT_EQ(wideCopyWithPeak(first.data(), copied.data(), frames, start),
                          expectedPeak(first, start));
                EXPECT_TRUE(sameBits(copied, first));
            }
        }
    }
}

// The host-side copy makes infinities and NaNs 0 and meters what came in, at both widths.
TEST(SampleKernels, FiniteCopiesClearInfinitiesAndNaNsAtBothWidths) {
    for (std::uint32_t frames = 0; frames <= 70; ++frames) {
        SCOPED_TRACE(testing::Message() << frames << " frames");
        std::vector<float> block = samples(frames, frames / 3, true);
        if (frames > 2) {
            block[2] = -kInfinity;
        }
        std::vector<float> finite(frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            finite[i] = std::isfinite(block[i]) ? block[i] : 0.0f;
        }
        std::vector<float> copied(frames, 1.0f);
        EXPECT_EQ(copyWithPeak(block.data(), copied.data(), frames, 0.0f,
                               [](auto sample) { return finiteOrZero(sample); }),
                  expectedPeak(block, 0.0f));
        EXPECT_EQ(copied, finite);
        if (kWideVectors) {
            std::fill(copied.begin(), copied.end(), 1.0f);
            EXPECT_EQ(wideCopyFiniteWithPeak(block.data(), copied.data(), frames, 0.0f),
                      expectedPeak(block, 0.0f));
            EXPECT_EQ(copied, finite);
        }
    }
}

// The in-place scans of decoded files, at lengths around their runs of 64, with a non-finite
// sample in the first run, the last whole run and the tail; among quiet samples and among
// near-largest ones whose sum overflows, with an infinity of the other sign beside it.
TEST(SampleKernels, InPlaceScansClearExactlyTheInfinitiesAndNaNsAtBothWidths) {
    constexpr float kHuge = std::numeric_limits<float>::max();
    for (const bool huge : {false, true}) {
        for (const std::size_t count : {0u, 5u, 63u, 64u, 65u, 130u, 200u}) {
            for (const std::size_t at : {std::size_t{0}, count / 2, count - 2}) {
                if (at + 1 >= count) {
                    continue;
                }
                SCOPED_TRACE(testing::Message() << count << " samples, non-finite at " << at
                                                << (huge ? " among huge ones" : ""));
                std::vector<float> block = samples(static_cast<std::uint32_t>(count), 1, false);
                if (huge) {
                    std::fill(block.begin(), block.end(), kHuge);
                    block[at + 1] = -kInfinity;
                }
                block[at] = at % 2 == 0 ? kNaN : kInfinity;
                std::vector<float> finite = block;
                std::replace_if(
                    finite.begin(), finite.end(), [](float x) { return !std::isfinite(x); }, 0.0f);
                std::vector<float> narrow = block;
                narrowClearNonFiniteRuns(narrow.data(), count);
                EXPECT_EQ(narrow, finite);
                if (kWideVectors) {
                    std::vector<float> wide = block;
                    wideClearNonFiniteRuns(wide.data(), count);
                    EXPECT_EQ(wide, finite);
                }
            }
        }
    }
}

} // namespace
} // namespace velkaphon::rack
