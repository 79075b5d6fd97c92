#include "audio/aggregate_cycle.hpp"
#include "audio/hresult.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace velkaphon::rack {
namespace {

// What the callback saw on its last call, and what it writes.
struct CallbackProbe {
    int calls = 0;
    std::uint32_t inputChannels = 99;
    std::uint32_t outputChannels = 99;
    std::uint32_t frames = 0;
    double sampleRate = 0.0;
    bool outputsArrivedCleared = true;
    std::vector<float> firstInputRow;
    float outputValue = 0.5f;
};

void probeCallback(void* context, const float* const* inputRows, std::uint32_t inputChannels,
                   float* const* outputRows, std::uint32_t outputChannels, std::uint32_t frames,
                   double sampleRate) {
    auto& probe = *static_cast<CallbackProbe*>(context);
    ++probe.calls;
    probe.inputChannels = inputChannels;
    probe.outputChannels = outputChannels;
    probe.frames = frames;
    probe.sampleRate = sampleRate;
    if (inputChannels > 0) {
        probe.firstInputRow.assign(inputRows[0], inputRows[0] + frames);
    }
    for (std::uint32_t row = 0; row < outputChannels; ++row) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            probe.outputsArrivedCleared = probe.outputsArrivedCleared && outputRows[row][i] == 0.0f;
            outputRows[row][i] = probe.outputValue;
        }
    }
}

class AggregateCycle : public ::testing::Test {
protected:
    AggregateCycle() {
        backend.sampleRate = 48000;
        backend.blockFrames = 128;
        backend.callback = probeCallback;
        backend.context = &probe;
    }

    EndpointWorker& addWorker(bool capture, bool master, std::uint32_t channels) {
        auto worker = std::make_unique<EndpointWorker>();
        worker->isCapture = capture;
        worker->isMaster = master;
        worker->format.channels = channels;
        worker->format.sampleRate = 48000;
        worker->measuredRate = 48000.0;
        worker->state = kEndpointRunning;
        std::uint32_t& total = capture ? backend.inputChannels : backend.outputChannels;
        worker->channelOffset = total;
        total += channels;
        if (!master) {
            worker->ring.reset(static_cast<std::int32_t>(channels), 8192);
            worker->resampler.configure(&worker->ring, 48000.0, 48000.0, 128.0 + 480.0 + 64.0);
            worker->interleavedScratch.assign(std::size_t{4096} * channels, 0.0f);
        }
        backend.workers.push_back(std::move(worker));
        layOutPlanarRows(backend);
        return *backend.workers.back();
    }

    static void fill(EndpointWorker& worker, std::size_t frames, float value) {
        std::vector<float> data(frames * worker.format.channels, value);
        ASSERT_TRUE(worker.ring.push(data.data(), static_cast<std::int32_t>(frames)));
    }

    AudioBackend backend;
    CallbackProbe probe;
};

TEST_F(AggregateCycle, OutputOnlyGivesNoInputRowsAndClearedOutputs) {
    addWorker(false, true, 2);
    std::fill(backend.outputRows.begin(), backend.outputRows.end(), 9.0f);
    runAggregateCycle(backend, 96);
    EXPECT_EQ(probe.calls, 1);
    EXPECT_EQ(probe.inputChannels, 0u);
    EXPECT_EQ(probe.outputChannels, 2u);
    EXPECT_EQ(probe.frames, 96u);
    EXPECT_EQ(probe.sampleRate, 48000.0);
    EXPECT_TRUE(probe.outputsArrivedCleared);
    EXPECT_EQ(backend.cycles.load(), 1u);
    EXPECT_EQ(backend.xruns.load(), 0u);
    // Only the chunk's frames are cleared and used.
    EXPECT_EQ(backend.outputRowPointers[1][95], 0.5f);
    EXPECT_EQ(backend.outputRowPointers[1][96], 9.0f);
}

TEST_F(AggregateCycle, AnUnprimedCaptureIsSilentAndCountedAsStartUp) {
    addWorker(false, true, 2);
    EndpointWorker& capture = addWorker(true, false, 2);
    fill(capture, 100, 0.7f);
    runAggregateCycle(backend, 128);
    ASSERT_EQ(probe.firstInputRow.size(), 128u);
    for (float value : probe.firstInputRow) {
        ASSERT_EQ(value, 0.0f);
    }
    EXPECT_EQ(capture.startupRingFrames.load(), 128u);
    EXPECT_EQ(capture.ringXrunFrames.load(), 0u);
    EXPECT_FALSE(capture.resamplerLocked.load());
    EXPECT_EQ(backend.xruns.load(), 0u);
    EXPECT_DOUBLE_EQ(capture.ringMs.load(), 132.0 * 1000.0 / 48000.0);
}

TEST_F(AggregateCycle, ACapturedSignalReachesItsOwnRows) {
    addWorker(false, true, 2);
    EndpointWorker& first = addWorker(true, false, 1);
    EndpointWorker& second = addWorker(true, false, 2);
    fill(first, 2000, 0.25f);
    fill(second, 2000, -0.5f);
    // Past the silence in the ring and the filter's reach into it.
    for (int i = 0; i < 3; ++i) {
        runAggregateCycle(backend, 128);
    }
    EXPECT_EQ(probe.inputChannels, 3u);
    EXPECT_NEAR(backend.inputRowPointers[0][127], 0.25f, 1e-5);
    EXPECT_NEAR(backend.inputRowPointers[1][127], -0.5f, 1e-5);
    EXPECT_NEAR(backend.inputRowPointers[2][127], -0.5f, 1e-5);
    EXPECT_TRUE(first.resamplerLocked.load());
    EXPECT_GT(first.driftPpm.load(), 0.0); // the fill sits above its target
    EXPECT_EQ(backend.xruns.load(), 0u);
}

TEST_F(AggregateCycle, TwoCapturesUnderflowingInOneCycleCountOneXrun) {
    addWorker(false, true, 2);
    EndpointWorker& first = addWorker(true, false, 1);
    EndpointWorker& second = addWorker(true, false, 1);
    fill(first, 800, 0.1f);
    fill(second, 800, 0.1f);
    runAggregateCycle(backend, 128); // both lock and read
    EXPECT_EQ(backend.xruns.load(), 0u);
    // Nothing more arrives: both windows run dry in the same cycle.
    int cyclesWhereBothLost = 0;
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t firstLost = first.ringXrunFrames.load();
        const std::uint64_t secondLost = second.ringXrunFrames.load();
        const std::uint64_t xruns = backend.xruns.load();
        runAggregateCycle(backend, 128);
        const bool bothLost =
            first.ringXrunFrames.load() > firstLost && second.ringXrunFrames.load() > secondLost;
        cyclesWhereBothLost += bothLost ? 1 : 0;
        EXPECT_EQ(backend.xruns.load() - xruns, bothLost ? 1u : 0u) << i;
    }
    EXPECT_GE(cyclesWhereBothLost, 2);
    EXPECT_FALSE(first.resamplerLocked.load());
    EXPECT_EQ(first.startupRingFrames.load(), 0u);
}

TEST_F(AggregateCycle, StoppedOrFaultedCapturesContributeSilenceUncounted) {
    addWorker(false, true, 1);
    EndpointWorker& capture = addWorker(true, false, 1);
    fill(capture, 2000, 0.3f);
    capture.state = kEndpointStopped;
    runAggregateCycle(backend, 64);
    capture.state = kEndpointFault;
    runAggregateCycle(backend, 64);
    EXPECT_EQ(probe.firstInputRow, std::vector<float>(64, 0.0f));
    EXPECT_EQ(capture.ring.readIndex.load(), 0u);
    EXPECT_EQ(capture.startupRingFrames.load(), 0u);
}

TEST_F(AggregateCycle, NonFiniteOutputNeverReachesASecondaryRing) {
    addWorker(false, true, 2);
    EndpointWorker& secondary = addWorker(false, false, 2);
    probe.outputValue = std::numeric_limits<float>::quiet_NaN();
    runAggregateCycle(backend, 16);
    ASSERT_EQ(secondary.ring.fill(), 32u + 16u);
    for (std::uint64_t n = 32; n < 48; ++n) {
        ASSERT_EQ(secondary.ring.frameAt(n)[0], 0.0f);
        ASSERT_EQ(secondary.ring.frameAt(n)[1], 0.0f);
    }
    probe.outputValue = 0.75f;
    runAggregateCycle(backend, 16);
    EXPECT_EQ(secondary.ring.frameAt(48)[1], 0.75f);
    // The master's own rows keep what the callback wrote; the encoder cleans them.
    EXPECT_EQ(backend.outputRowPointers[0][0], 0.75f);
}

TEST_F(AggregateCycle, AFullSecondaryRingFaultsOnlyThatEndpoint) {
    addWorker(false, true, 1);
    EndpointWorker& full = addWorker(false, false, 1);
    EndpointWorker& other = addWorker(false, false, 1);
    fill(full, 8192 - 32 - 100, 0.0f);
    runAggregateCycle(backend, 128);
    EXPECT_EQ(full.state.load(), kEndpointFault);
    EXPECT_EQ(full.hresult.load(), kAudclntBufferTooLarge);
    EXPECT_EQ(full.ringXrunFrames.load(), 128u);
    EXPECT_EQ(backend.xruns.load(), 1u);
    EXPECT_EQ(other.state.load(), kEndpointRunning);
    EXPECT_EQ(other.ring.fill(), 32u + 128u);
    // A faulted endpoint is skipped from then on; the cycle goes on.
    runAggregateCycle(backend, 128);
    EXPECT_EQ(full.ringXrunFrames.load(), 128u);
    EXPECT_EQ(backend.xruns.load(), 1u);
    EXPECT_EQ(backend.cycles.load(), 2u);
    EXPECT_EQ(other.ring.fill(), 32u + 256u);
}

// The master's period tells every capture resampler when it reads and every secondary ring's
// stamp when the period's frames arrive.
TEST_F(AggregateCycle, APeriodTimesTheCaptureReadsAndStampsTheSecondaryWrites) {
    addWorker(false, true, 2);
    EndpointWorker& capture = addWorker(true, false, 2);
    EndpointWorker& phones = addWorker(false, false, 2);
    capture.resampler.configure(&capture.ring, 48000.0, 48000.0, 672.0, 0.0, &capture.writeStamp);
    phones.resampler.configure(&phones.ring, 48000.0, 48000.0, 672.0, 0.0, &phones.writeStamp);
    beginAggregatePeriod(backend, 1e7, 480);
    EXPECT_EQ(capture.resampler.readTime, 1e7);
    EXPECT_EQ(capture.resampler.runFrames, 480.0);
    // Before the chunks are in, the level is that of the period before: half a period beyond
    // the 32 frames a fresh ring holds. Once they are in, it is half a period short of them.
    EXPECT_NEAR(phones.writeStamp.steadyLevel(32, 1e7), 32.0 + 240.0, 1e-6);
    fill(phones, 480, 0.0f);
    EXPECT_NEAR(phones.writeStamp.steadyLevel(512, 1e7), 512.0 - 240.0, 1e-6);
}

TEST_F(AggregateCycle, RunsWithoutAllocating) {
    addWorker(false, true, 2);
    EndpointWorker& capture = addWorker(true, false, 2);
    addWorker(false, false, 2);
    fill(capture, 4000, 0.2f);
    runAggregateCycle(backend, 128);
    testing::AllocationCounter counter;
    for (int i = 0; i < 10; ++i) {
        runAggregateCycle(backend, 128);
    }
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_GE(backend.maxCallbackMs.load(), 0.0);
}

} // namespace
} // namespace velkaphon::rack
