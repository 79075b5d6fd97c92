#include "simulated_endpoints.hpp"

namespace velkaphon::rack::testing {
namespace {

using SimulatedBackendThreads = SimulatedBackendTest;

TEST_F(SimulatedBackendThreads, TheMasterCallsBackOncePerBlockOfEachDeviceWrite) {
    system.addEndpoint(endpointSpec(kOutputId, "Speakers (Interface)", DataFlow::Render));
    ASSERT_TRUE(start(config({}, {kOutputId}))) << error;
    EXPECT_EQ(error, "");
    system.advance(0.1);
    stopAudioBackend(*backend);

    const AudioStatus status = snapshotStatus(*backend);
    // A 480-frame period with a 128-frame block.
    ASSERT_GE(tone.firstChunks.size(), 8u);
    EXPECT_EQ(std::vector<std::uint32_t>(tone.firstChunks.begin(), tone.firstChunks.begin() + 8),
              (std::vector<std::uint32_t>{128, 128, 128, 96, 128, 128, 128, 96}));
    EXPECT_EQ(tone.inputChannels.load(), 0u);
    EXPECT_EQ(tone.outputChannels.load(), 2u);
    EXPECT_EQ(status.cycles, tone.calls.load());
    EXPECT_EQ(status.periodFrames, 480u);
    EXPECT_EQ(status.xruns, 0u);
    EXPECT_EQ(status.error, "");
    EXPECT_EQ(status.running, 0);
    ASSERT_EQ(status.endpoints.size(), 1u);
    EXPECT_EQ(status.endpoints[0].state, "stopped");
    EXPECT_EQ(status.endpoints[0].name, "Speakers (Interface)");
    // Ten periods in 100 ms, four calls each.
    EXPECT_EQ(tone.calls.load(), 40u);
}

} // namespace
} // namespace velkaphon::rack::testing
