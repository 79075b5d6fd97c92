#include "simulated_endpoints.hpp"

namespace velkaphon::rack::testing {
namespace {

using SimulatedBackendThreads = SimulatedBackendTest;

TEST_F(SimulatedBackendThreads, TheMasterCallsBackOncePerBlockOfEachDeviceWrite) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Speakers (Interface)", DataFlow::Render));
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
    EXPECT_FALSE(status.running);
    ASSERT_EQ(status.endpoints.size(), 1u);
    EXPECT_EQ(status.endpoints[0].state, "stopped");
    EXPECT_EQ(status.endpoints[0].name, "Speakers (Interface)");
    // Ten periods in 100 ms, four calls each.
    EXPECT_EQ(tone.calls.load(), 40u);
}

} // namespace
} // namespace velkaphon::rack::testing

namespace velkaphon::rack::testing {
namespace {

using SimulatedAggregateThreads = SimulatedBackendTest;

std::uint64_t ringXruns(const AudioStatus& status) {
    std::uint64_t total = 0;
    for (const EndpointStatus& endpoint : status.endpoints) {
        total += endpoint.ringXrunFrames;
    }
    return total;
}

// A 48000 Hz master, a capture whose clock runs at 48003 Hz and a secondary output at 47995 Hz,
// for ten minutes of simulated time.
TEST_F(SimulatedAggregateThreads, DriftingClocksStayLockedForTenMinutes) {
#ifdef __SANITIZE_THREAD__
    constexpr int kSeconds = 60;
#else
    constexpr int kSeconds = 600;
#endif
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main (Interface)", DataFlow::Render));
    SimulatedEndpoint input =
        simulatedEndpoint(kInputId, "Mic (USB)", DataFlow::Capture, 48000, 48003.0);
    input.captureSignal = [](std::uint64_t frame, std::uint32_t) {
        return static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 100.0 * frame / 48003.0));
    };
    system.addEndpoint(input);
    ContinuityWatch watch(47995.0, 2.0);
    SimulatedEndpoint phones =
        simulatedEndpoint(kSecondOutputId, "Phones (USB)", DataFlow::Render, 48000, 47995.0);
    phones.renderObserver = [&watch](const float* frames, std::uint32_t count,
                                     std::uint32_t channels) {
        watch.observe(frames, count, channels);
    };
    system.addEndpoint(phones);

    AudioBackendConfig configuration = config({kInputId}, {kOutputId, kSecondOutputId});
    configuration.deviceMode = 1;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(5.0);
    const AudioStatus locked = snapshotStatus(*backend);
    ASSERT_EQ(locked.error, "");
    EXPECT_EQ(endpoint(locked, kInputId).resamplerLocked, 1);
    EXPECT_EQ(endpoint(locked, kSecondOutputId).resamplerLocked, 1);

    // From here the callback samples the capture ring's fill after every chunk it reads.
    tone.watchedRing = &backend->workers[0]->ring;
    system.advance(kSeconds - 5.0);
    const AudioStatus end = snapshotStatus(*backend);
    stopAudioBackend(*backend);

    EXPECT_EQ(end.error, "");
    EXPECT_TRUE(end.running);
    EXPECT_EQ(ringXruns(end), ringXruns(locked));
    EXPECT_EQ(end.underruns, locked.underruns);
    EXPECT_EQ(end.xruns, locked.xruns);
    // The fill ahead of the read position, which sits 31 frames past the read index.
    const EndpointStatus capture = endpoint(end, kInputId);
    const double target = capture.ringTargetMs * 48000.0 / 1000.0;
    const double meanFill = tone.watchedFillSum / static_cast<double>(tone.watchedSamples) - 31.0;
    EXPECT_LT(std::fabs(meanFill - target) / target, 0.15) << meanFill << " against " << target;
    EXPECT_EQ(capture.state, "running");
    EXPECT_EQ(endpoint(end, kSecondOutputId).state, "running");
    // The tone through the secondary output never breaks.
    EXPECT_GT(watch.framesSeen, static_cast<std::uint64_t>(47995.0 * (kSeconds - 1)));
    EXPECT_EQ(watch.breaks, 0u) << "largest step " << watch.largestStep;
    EXPECT_GT(watch.largestStep, watch.limit / 2.0) << "the tone arrived";
    EXPECT_NEAR(tone.lastInput, 0.0, 0.5);
    EXPECT_EQ(tone.inputChannels.load(), 2u);
    EXPECT_EQ(tone.outputChannels.load(), 4u);
}

TEST_F(SimulatedAggregateThreads, AFullSecondaryRingFaultsOnlyThatOutputAndStaysFaultedAtStop) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint(kSecondOutputId, "Phones", DataFlow::Render));
    // The phones' worker hangs in its third buffer request, so the master fills its ring.
    system.failCall(kSecondOutputId, SimulatedCall::GetBuffer, 3, kHresultOk, 5.0);
    AudioBackendConfig configuration = config({}, {kOutputId, kSecondOutputId});
    configuration.deviceMode = 1;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(3.0);
    const AudioStatus status = snapshotStatus(*backend);
    EXPECT_TRUE(status.running);
    EXPECT_EQ(endpoint(status, kSecondOutputId).state, "fault HRESULT 0x88890006");
    EXPECT_EQ(endpoint(status, kOutputId).state, "running");
    EXPECT_EQ(status.error, "fault HRESULT 0x88890006 (" + std::string(kSecondOutputId) + ")");
    const std::uint64_t cycles = status.cycles;
    system.advance(1.0);
    EXPECT_GT(snapshotStatus(*backend).cycles, cycles + 300);
    stopAudioBackend(*backend);
    const AudioStatus stopped = snapshotStatus(*backend);
    EXPECT_EQ(endpoint(stopped, kSecondOutputId).state, "fault HRESULT 0x88890006");
    EXPECT_EQ(endpoint(stopped, kOutputId).state, "stopped");
    EXPECT_GT(endpoint(stopped, kSecondOutputId).ringXrunFrames, 0u);
}

TEST_F(SimulatedAggregateThreads, AFailingSecondaryLeavesTheOthersRunning) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint(kSecondOutputId, "Phones", DataFlow::Render));
    system.failCall(kSecondOutputId, SimulatedCall::GetCurrentPadding, 50,
                    hresultFromBits(0x88890004u));
    AudioBackendConfig configuration = config({}, {kOutputId, kSecondOutputId});
    configuration.deviceMode = 1;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(2.0);
    const AudioStatus status = snapshotStatus(*backend);
    stopAudioBackend(*backend);
    EXPECT_TRUE(status.running);
    EXPECT_EQ(endpoint(status, kSecondOutputId).state, "fault HRESULT 0x88890004");
    EXPECT_EQ(endpoint(status, kOutputId).state, "running");
    EXPECT_EQ(status.error, "fault HRESULT 0x88890004 (" + std::string(kSecondOutputId) + ")");
    EXPECT_GE(status.xruns, 1u);
    EXPECT_GT(status.cycles, 700u);
}

TEST_F(SimulatedAggregateThreads, AMasterWithoutEventsTimesOutAndStopsTheAggregate) {
    SimulatedEndpoint slow = simulatedEndpoint(kOutputId, "Main", DataFlow::Render);
    slow.periodFrames = 240000; // one event every five seconds
    system.addEndpoint(slow);
    system.addEndpoint(simulatedEndpoint(kInputId, "Mic", DataFlow::Capture));
    ASSERT_TRUE(start(config({kInputId}, {kOutputId}))) << error;
    system.advance(2.5);
    const AudioStatus status = snapshotStatus(*backend);
    EXPECT_FALSE(status.running);
    EXPECT_EQ(endpoint(status, kOutputId).state, "fault HRESULT 0x800705b4");
    EXPECT_EQ(status.error, "fault HRESULT 0x800705b4 (" + std::string(kOutputId) + ")");
    stopAudioBackend(*backend);
    EXPECT_EQ(endpoint(snapshotStatus(*backend), kInputId).state, "stopped");
}

TEST_F(SimulatedAggregateThreads, AFastInputPrimesAtASlowConfiguredRate) {
    SimulatedEndpoint output = simulatedEndpoint(kOutputId, "Out (Box)", DataFlow::Render, 8000);
    SimulatedEndpoint input = simulatedEndpoint(kInputId, "In (Box)", DataFlow::Capture, 96000);
    output.container = input.container = {PropertyValue::Kind::Guid, {}, kSubtypePcm};
    system.addEndpoint(output);
    system.addEndpoint(input);
    AudioBackendConfig configuration = config({kInputId}, {kOutputId}, 8000, 4096);
    configuration.deviceMode = 0;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(4.0);
    const AudioStatus status = snapshotStatus(*backend);
    stopAudioBackend(*backend);
    const EndpointStatus capture = endpoint(status, kInputId);
    EXPECT_EQ(capture.state, "running");
    EXPECT_TRUE(capture.resamplerLocked);
    EXPECT_GT(capture.ringTargetMs, 500.0); // more than the set-up ring would hold
    EXPECT_EQ(capture.ringXrunFrames, 0u);
    EXPECT_EQ(status.error, "");
}

// Input and output of one interface wake in the same device period, so either worker may run
// first; a capture packet that lands after the master's read must not cost the input its lock.
TEST_F(SimulatedAggregateThreads, OneInterfaceKeepsItsInputWhenAPacketLandsAfterTheMastersRead) {
    SimulatedEndpoint output = simulatedEndpoint(kOutputId, "Out (Box)", DataFlow::Render);
    SimulatedEndpoint input = simulatedEndpoint(kInputId, "In (Box)", DataFlow::Capture);
    output.container = input.container = {PropertyValue::Kind::Guid, {}, kSubtypePcm};
    input.captureSignal = [](std::uint64_t, std::uint32_t) {
        return 0.25f;
    };
    system.addEndpoint(output);
    system.addEndpoint(input);
    AudioBackendConfig configuration = config({kInputId}, {kOutputId}, 48000, 256);
    configuration.deviceMode = 0;
    ASSERT_TRUE(start(configuration)) << error;
    // Locked on the third 10 ms period, after two periods of silent input.
    system.advance(0.035);
    const AudioStatus locked = snapshotStatus(*backend);
    ASSERT_EQ(endpoint(locked, kInputId).resamplerLocked, 1);
    EXPECT_EQ(locked.startupRingFrames, 960u);

    // The capture worker's next wake-up runs half a millisecond after the master's.
    const int calls = system.callCount(kInputId, SimulatedCall::GetNextPacketSize);
    system.failCall(kInputId, SimulatedCall::GetNextPacketSize, calls + 1, kHresultOk, 0.0005);
    system.advance(0.5);
    const AudioStatus status = snapshotStatus(*backend);
    stopAudioBackend(*backend);

    const EndpointStatus capture = endpoint(status, kInputId);
    EXPECT_EQ(status.xruns, 0u);
    EXPECT_EQ(capture.ringXrunFrames, 0u);
    EXPECT_TRUE(capture.resamplerLocked);
    EXPECT_EQ(status.startupRingFrames, 960u);
    EXPECT_EQ(status.underruns, 0u);
    EXPECT_EQ(status.error, "");
    EXPECT_NEAR(tone.lastInput, 0.25, 1e-6);
    // What the controller holds is still one block, one period and 64 frames.
    EXPECT_DOUBLE_EQ(capture.ringTargetMs, 800.0 * 1000.0 / 48000.0);
}

TEST_F(SimulatedAggregateThreads, PreparedWorkersStopCleanlyWhenAnotherFailsToPrepare) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint(kInputId, "Mic", DataFlow::Capture));
    system.failCall(kInputId, SimulatedCall::Initialize, 1, kAudclntUnsupportedFormat);
    EXPECT_FALSE(start(config({kInputId}, {kOutputId})));
    EXPECT_EQ(error, "Could not prepare audio input \"Mic\" (HRESULT 0x88890008).");
    const AudioStatus status = snapshotStatus(*backend);
    EXPECT_EQ(status.error, error);
    EXPECT_FALSE(status.running);
    EXPECT_EQ(endpoint(status, kInputId).state, "fault HRESULT 0x88890008");
    // The output was waiting for its activation: stopped, not faulted.
    EXPECT_EQ(endpoint(status, kOutputId).state, "stopped");
}

TEST_F(SimulatedAggregateThreads, AnEndpointThatNeverPreparesTimesOutAfterTenSeconds) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint(kInputId, "Mic", DataFlow::Capture));
    system.failCall(kInputId, SimulatedCall::Initialize, 1, kHresultOk, 12.0);
    const double before = system.seconds();
    EXPECT_FALSE(start(config({kInputId}, {kOutputId})));
    EXPECT_EQ(error, "Timed out waiting for audio input \"Mic\" to prepare (HRESULT 0x800705b4).");
    EXPECT_GE(system.seconds() - before, 10.0);
    const AudioStatus status = snapshotStatus(*backend);
    for (const EndpointStatus& entry : status.endpoints) {
        EXPECT_EQ(entry.state, "stopped") << entry.id;
    }
}

TEST_F(SimulatedAggregateThreads, ExclusiveModeFallsBackWhenTheDeviceIsInUse) {
    SimulatedEndpoint output = simulatedEndpoint(kOutputId, "Main", DataFlow::Render);
    output.exclusiveInUse = true;
    system.addEndpoint(output);
    AudioBackendConfig configuration = config({}, {kOutputId});
    configuration.preferExclusive = true;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(0.2);
    const AudioStatus status = snapshotStatus(*backend);
    EXPECT_EQ(endpoint(status, kOutputId).fallbackReason, "exclusive-device-in-use");
    EXPECT_EQ(endpoint(status, kOutputId).exclusiveActive, 0);
    EXPECT_EQ(endpoint(status, kOutputId).state, "running");
    stopAudioBackend(*backend);

    configuration.outputs[0].requireExclusive = true;
    EXPECT_FALSE(start(configuration));
    EXPECT_EQ(error, "Could not prepare audio output \"Main\" (HRESULT 0x8889000a).");
}

TEST_F(SimulatedAggregateThreads, AnUnalignedExclusiveBufferIsActivatedOnceMore) {
    SimulatedEndpoint output = simulatedEndpoint(kOutputId, "Main", DataFlow::Render);
    output.exclusiveLayouts = {{false, 32, 24}};
    output.exclusiveAlignmentFrames = 192;
    system.addEndpoint(output);
    AudioBackendConfig configuration = config({}, {kOutputId});
    configuration.outputs[0].requireExclusive = true;
    ASSERT_TRUE(start(configuration)) << error;
    system.advance(0.2);
    const AudioStatus status = snapshotStatus(*backend);
    stopAudioBackend(*backend);
    const EndpointStatus main = endpoint(status, kOutputId);
    EXPECT_TRUE(main.exclusiveActive);
    EXPECT_EQ(main.bufferFrames, 192u);
    EXPECT_EQ(main.periodFrames, 192u);
    // The mix format was refused; 24 valid bits in 32 were taken.
    EXPECT_EQ(main.bitsPerSample, 32u);
    EXPECT_EQ(main.validBits, 24u);
    // Once for the catalogue's mix format, once for set-up and once after the alignment.
    EXPECT_EQ(system.callCount(kOutputId, SimulatedCall::Activate), 3);
    EXPECT_EQ(system.callCount(kOutputId, SimulatedCall::Initialize), 2);
    EXPECT_EQ(status.error, "");
    EXPECT_GT(status.cycles, 0u);
    // A 192-frame period with a 128-frame block.
    EXPECT_EQ(std::vector<std::uint32_t>(tone.firstChunks.begin(), tone.firstChunks.begin() + 4),
              (std::vector<std::uint32_t>{128, 64, 128, 64}));
}

// The figures that only the status carries, each from its own source: the master's render
// target, the capture's packets, flags and resampler, the master's first wake-up and its late
// period.
TEST_F(SimulatedAggregateThreads, TheStatusCarriesEveryEndpointFigure) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    SimulatedEndpoint input = simulatedEndpoint(kInputId, "Mic", DataFlow::Capture);
    // The first packet's flag counts as start-up; a later discontinuity and a time-stamp error
    // count as glitches.
    input.packetFlags = [](std::uint64_t packet) -> std::uint32_t {
        return packet == 0 || packet == 3 ? kBufferFlagsDataDiscontinuity
               : packet == 5              ? kBufferFlagsTimestampError
                                          : 0;
    };
    system.addEndpoint(input);
    // The master's first wake-up finds its device buffer played out.
    system.failCall(kOutputId, SimulatedCall::GetCurrentPadding, 1, kHresultOk, 0.05);
    tone.firstCallStallMs = 25.0;
    ASSERT_TRUE(start(config({kInputId}, {kOutputId}))) << error;
    system.advance(0.5);
    stopAudioBackend(*backend);
    const AudioStatus status = snapshotStatus(*backend);
    const EndpointStatus& main = endpoint(status, kOutputId);
    const EndpointStatus& mic = endpoint(status, kInputId);

    // Shared mode keeps min(1440, max(480, 128 + 1.5 x 480)) frames queued.
    const double renderTargetMs = 848 * 1000.0 / 48000.0;
    const struct {
        const char* figure;
        double value;
        double least;
        double most;
    } rows[] = {
        {"renderTargetMs (master)", main.renderTargetMs, renderTargetMs, renderTargetMs},
        {"renderTargetMs (capture)", mic.renderTargetMs, 0.0, 0.0},
        {"targetQueueMs", status.targetQueueMs, renderTargetMs, renderTargetMs},
        {"resamplerDelayMs (master)", main.resamplerDelayMs, 0.0, 0.0},
        {"resamplerDelayMs (capture)", mic.resamplerDelayMs, 32000.0 / 48000.0, 32000.0 / 48000.0},
        {"maxPacketFrames (capture)", static_cast<double>(mic.maxPacketFrames), 480.0, 480.0},
        {"maxPacketFrames (master)", static_cast<double>(main.maxPacketFrames), 0.0, 0.0},
        {"captureGlitches", static_cast<double>(mic.captureGlitches), 2.0, 2.0},
        {"startupGlitches", static_cast<double>(mic.startupGlitches), 1.0, 1.0},
        {"startupUnderruns (master)", static_cast<double>(main.startupUnderruns), 1.0, 1.0},
        {"startupUnderruns (capture)", static_cast<double>(mic.startupUnderruns), 0.0, 0.0},
        {"startupUnderruns", static_cast<double>(status.startupUnderruns), 1.0, 1.0},
        // The stalled period; others may run late too on a busy machine.
        {"lateCycles", static_cast<double>(status.lateCycles), 1.0,
         static_cast<double>(status.cycles)},
        {"maxCycleMs", status.maxCycleMs, 25.0, 1e9},
    };
    for (const auto& row : rows) {
        EXPECT_GE(row.value, row.least) << row.figure;
        EXPECT_LE(row.value, row.most) << row.figure;
    }
    EXPECT_EQ(status.error, "");
}

TEST_F(SimulatedAggregateThreads, StoppingTwiceAndBeforeAnyStartIsHarmless) {
    stopAudioBackend(*backend);
    AudioStatus status = snapshotStatus(*backend);
    EXPECT_EQ(status.sampleRate, 0u);
    EXPECT_EQ(status.blockFrames, 0u);
    EXPECT_TRUE(status.endpoints.empty());
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    ASSERT_TRUE(start(config({}, {kOutputId}, 48000, 256))) << error;
    EXPECT_FALSE(start(config({}, {kOutputId})));
    EXPECT_EQ(error, "Backend already running; stop before reconfiguration.");
    system.advance(0.1);
    stopAudioBackend(*backend);
    stopAudioBackend(*backend);
    status = snapshotStatus(*backend);
    EXPECT_EQ(status.sampleRate, 48000u);
    EXPECT_EQ(status.blockFrames, 256u);
    ASSERT_EQ(status.endpoints.size(), 1u);
    EXPECT_EQ(status.endpoints[0].state, "stopped");
    EXPECT_EQ(status.error, "");
}

TEST_F(SimulatedAggregateThreads, AFailedActivationEventIsReportedByTheStatus) {
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.failCall("", SimulatedCall::CreateEvent, 1, kHresultFail);
    EXPECT_FALSE(start(config({}, {kOutputId})));
    EXPECT_EQ(error, "Cannot create backend activation event.");
    EXPECT_EQ(snapshotStatus(*backend).error, "Cannot create backend activation event.");
}

TEST_F(SimulatedAggregateThreads, TooManyNegotiatedChannelsFailAfterPreparing) {
    std::vector<std::string> outputs;
    for (int i = 0; i < 5; ++i) {
        const std::string id = "{out-" + std::to_string(i) + "}";
        system.addEndpoint(simulatedEndpoint(id, "Out " + std::to_string(i), DataFlow::Render,
                                             48000, 0.0, i == 4 ? 1 : 64));
        outputs.push_back(id);
    }
    AudioBackendConfig configuration = config({}, outputs);
    configuration.deviceMode = 1;
    EXPECT_FALSE(start(configuration));
    EXPECT_EQ(error, "Negotiated aggregate exceeds prepared channel limit.");
    EXPECT_EQ(snapshotStatus(*backend).error, error);
    system.removeEndpoint("{out-4}");
    configuration.outputs.pop_back();
    EXPECT_TRUE(start(configuration)) << error;
    system.advance(0.05);
    EXPECT_EQ(snapshotStatus(*backend).outputChannels, 256u);
}

} // namespace
} // namespace velkaphon::rack::testing
