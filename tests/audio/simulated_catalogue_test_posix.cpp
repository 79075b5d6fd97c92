#include "audio/audio_device_host.hpp"
#include "simulated_endpoints.hpp"

#include <chrono>

namespace velkaphon::rack::testing {
namespace {

const Guid kBoxContainer{
    0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};

PropertyValue guidValue(const Guid& guid) {
    return {PropertyValue::Kind::Guid, {}, guid};
}

using SimulatedCatalogue = SimulatedBackendTest;

TEST_F(SimulatedCatalogue, NoEndpointsGiveAnEmptyListAndNoError) {
    std::vector<AudioPort> ports{AudioPort{}};
    error = "old";
    EXPECT_TRUE(enumerateDevices(*backend, ports, error));
    EXPECT_TRUE(ports.empty());
    EXPECT_EQ(error, "");
}

TEST_F(SimulatedCatalogue, CaptureFirstThenByIdWithKeysAndMixFormats) {
    SimulatedEndpoint out = simulatedEndpoint("{b}", "Speakers (Box)", DataFlow::Render, 44100);
    out.container = guidValue(kBoxContainer);
    system.addEndpoint(out);
    SimulatedEndpoint in = simulatedEndpoint("{c}", "Line (Box)", DataFlow::Capture);
    in.container = {PropertyValue::Kind::Text, u"{12345678-9ABC-def0-0123-456789abcdef}", {}};
    system.addEndpoint(in);
    SimulatedEndpoint builtIn = simulatedEndpoint("{a}", "Speakers (Laptop)", DataFlow::Render);
    builtIn.container = guidValue(Guid{0, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}});
    system.addEndpoint(builtIn);
    SimulatedEndpoint broken = simulatedEndpoint("{d}", "Odd", DataFlow::Render);
    broken.mixFormat.format.channels = 65;
    system.addEndpoint(broken);

    std::vector<AudioPort> ports;
    ASSERT_TRUE(enumerateDevices(*backend, ports, error)) << error;
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].id, "{c}");
    EXPECT_TRUE(ports[0].isInput);
    EXPECT_EQ(ports[0].interfaceKey, "container:{12345678-9ABC-DEF0-0123-456789ABCDEF}");
    EXPECT_EQ(ports[1].id, "{a}");
    EXPECT_EQ(ports[1].interfaceKey, "{a}");
    EXPECT_EQ(ports[2].id, "{b}");
    EXPECT_EQ(ports[2].interfaceKey, ports[0].interfaceKey);
    EXPECT_EQ(ports[2].sampleRate, 44100u);
    EXPECT_EQ(ports[2].channels, 2u);
    EXPECT_EQ(ports[2].name, "Speakers (Box)");
    EXPECT_FALSE(ports[3].mixKnown);
    EXPECT_EQ(ports[3].sampleRate, 0u);

    std::vector<AudioDevice> devices;
    AudioDeviceHost::listDevices(backend, devices, error);
    ASSERT_EQ(devices.size(), 2u);
    // Sorted by key: the container before the bare id.
    EXPECT_EQ(devices[0].key, "container:{12345678-9ABC-DEF0-0123-456789ABCDEF}");
    EXPECT_EQ(devices[0].name, "Speakers (Box)"); // the render port renames it
    EXPECT_EQ(devices[0].inputs.size(), 1u);
    EXPECT_EQ(devices[0].outputs.size(), 1u);
    EXPECT_EQ(devices[1].key, "{a}");
}

TEST_F(SimulatedCatalogue, ComFailuresBecomeHresultTexts) {
    system.addEndpoint(simulatedEndpoint("{out}", "Out", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint("{in}", "In", DataFlow::Capture));
    std::vector<AudioPort> ports;
    system.failCall("", SimulatedCall::EnterApartment, 1, kHresultChangedMode);
    EXPECT_TRUE(enumerateDevices(*backend, ports, error));
    EXPECT_EQ(ports.size(), 2u);
    system.failCall("", SimulatedCall::EnterApartment, 2, kHresultOutOfMemory);
    EXPECT_FALSE(enumerateDevices(*backend, ports, error));
    EXPECT_EQ(error, "HRESULT 0x8007000e");
    EXPECT_TRUE(ports.empty());
    // The capture flow fails; the render flow is still listed. (Counts run over the test.)
    system.failCall("", SimulatedCall::EnumerateActive, 3, kHresultFail);
    EXPECT_FALSE(enumerateDevices(*backend, ports, error));
    EXPECT_EQ(error, "HRESULT 0x80004005");
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].id, "{out}");
    // An id that cannot be read leaves the endpoint out.
    system.failCall("{in}", SimulatedCall::GetId, 2, kHresultFail);
    EXPECT_TRUE(enumerateDevices(*backend, ports, error));
    EXPECT_EQ(ports.size(), 1u);
    // A mix format that cannot be read keeps the port, unavailable.
    system.failCall("{out}", SimulatedCall::GetMixFormat, 4, kHresultFail);
    EXPECT_TRUE(enumerateDevices(*backend, ports, error));
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_FALSE(ports[1].mixKnown);
}

using SimulatedStartThreads = SimulatedBackendTest;

TEST_F(SimulatedStartThreads, AutomaticRateTakesTheOutputsMixRate) {
    system.addEndpoint(simulatedEndpoint("{out}", "Speakers", DataFlow::Render, 44100));
    AudioDeviceSettings settings;
    settings.outputId = "{out}";
    settings.blockFrames = 256;
    ASSERT_TRUE(AudioDeviceHost::start(backend, settings, ToneCallback::call, &tone, error))
        << error;
    system.advance(0.1);
    EXPECT_EQ(AudioDeviceHost::status(*backend).sampleRate, 44100u);
    AudioDeviceHost::stop(*backend);

    settings.sampleRate = 48000;
    settings.exclusive = true;
    EXPECT_FALSE(AudioDeviceHost::start(backend, settings, ToneCallback::call, &tone, error));
    EXPECT_EQ(error, "Audio output \"Speakers\" uses 44100 Hz in Windows shared mode, but RACK "
                     "requests 48000 Hz. Choose Automatic sample rate or match RACK to 44100 Hz in "
                     "Advanced setup.");
    EXPECT_FALSE(AudioDeviceHost::start(backend, settings, nullptr, &tone, error));
    EXPECT_EQ(error, "An audio processing callback is required.");
}

TEST_F(SimulatedStartThreads, RefusalsBeforeAnyWorkerStarts) {
    system.addEndpoint(simulatedEndpoint("{out}", "Speakers", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint("{in}", "Mic", DataFlow::Capture));
    ASSERT_TRUE(start(config({}, {"{out}"}))) << error;
    system.advance(0.05);
    stopAudioBackend(*backend);
    const std::uint64_t cycles = snapshotStatus(*backend).cycles;

    const std::string invalid = "Invalid callback/device/rate/block configuration.";
    EXPECT_FALSE(configureAndStart(*backend, config({}, {"{out}"}), nullptr, &tone, error));
    EXPECT_EQ(error, invalid);
    EXPECT_FALSE(start(config({}, {})));
    EXPECT_EQ(error, invalid);
    EXPECT_FALSE(start(config({}, {"{out}"}, 7999)));
    EXPECT_EQ(error, invalid);
    EXPECT_FALSE(start(config({}, {"{out}"}, 48000, 15)));
    EXPECT_EQ(error, invalid);
    std::vector<std::string> many(65, "{x}");
    EXPECT_FALSE(start(config({}, many)));
    EXPECT_EQ(error, invalid);
    many.pop_back();
    EXPECT_FALSE(start(config({}, many)));
    EXPECT_EQ(error, "Empty, invalid or duplicated endpoint ID.");
    EXPECT_FALSE(start(config({"{out}"}, {"{out}"})));
    EXPECT_EQ(error, "Empty, invalid or duplicated endpoint ID.");
    EXPECT_FALSE(start(config({}, {"\xFF"})));
    EXPECT_EQ(error, "Empty, invalid or duplicated endpoint ID.");
    AudioBackendConfig wrongMaster = config({}, {"{out}"});
    wrongMaster.masterId = "{in}";
    EXPECT_FALSE(start(wrongMaster));
    EXPECT_EQ(error, "Master must be an explicitly selected render endpoint.");
    EXPECT_FALSE(start(config({"{out}"}, {"{in}"})));
    EXPECT_EQ(error,
              "Selected endpoint absent from current device catalogue or wrong direction: {out}");
    // None of them touched the last run.
    const AudioStatus status = snapshotStatus(*backend);
    EXPECT_EQ(status.cycles, cycles);
    ASSERT_EQ(status.endpoints.size(), 1u);
    EXPECT_EQ(status.endpoints[0].state, "stopped");
}

// Listing opens a client on every endpoint, as the page does while audio runs.
TEST_F(SimulatedStartThreads, ListingDevicesLeavesRunningStreamsRunning) {
    SimulatedEndpoint out = simulatedEndpoint("{out}", "Speakers (Box)", DataFlow::Render);
    out.container = guidValue(kBoxContainer);
    system.addEndpoint(out);
    SimulatedEndpoint in = simulatedEndpoint("{in}", "Line (Box)", DataFlow::Capture);
    in.container = guidValue(kBoxContainer);
    system.addEndpoint(in);
    AudioDeviceSettings settings;
    settings.inputId = "{in}";
    settings.outputId = "{out}";
    settings.blockFrames = 128;
    ASSERT_TRUE(AudioDeviceHost::start(backend, settings, ToneCallback::call, &tone, error))
        << error;
    system.advance(0.5);
    const int activations = system.callCount("{out}", SimulatedCall::Activate);
    for (int listing = 0; listing < 3; ++listing) {
        const std::uint64_t before = tone.calls.load();
        std::vector<AudioDevice> devices;
        AudioDeviceHost::listDevices(backend, devices, error);
        EXPECT_EQ(error, "");
        ASSERT_EQ(devices.size(), 1u);
        // Past the two-second time-out of a worker whose events stopped.
        system.advance(3.0);
        const AudioStatus status = AudioDeviceHost::status(*backend);
        // 300 periods of 480 frames in 128-frame calls.
        EXPECT_EQ(tone.calls.load() - before, 1200u) << "listing " << listing;
        EXPECT_TRUE(status.running);
        EXPECT_EQ(status.xruns, 0u);
        EXPECT_EQ(status.error, "");
        for (const EndpointStatus& entry : status.endpoints) {
            EXPECT_EQ(entry.state, "running") << entry.id;
            EXPECT_EQ(entry.underruns, 0u) << entry.id;
            EXPECT_EQ(entry.captureGlitches, 0u) << entry.id;
        }
    }
    AudioDeviceHost::stop(*backend);
    EXPECT_EQ(system.callCount("{out}", SimulatedCall::Activate) - activations, 3);
}

TEST(SimulatedRealTimeThreads, TheWorkersRunOnTheirOwnClock) {
    SimulatedAudioSystem system(true);
    system.addEndpoint(simulatedEndpoint(kOutputId, "Main", DataFlow::Render));
    system.addEndpoint(simulatedEndpoint(kInputId, "Mic", DataFlow::Capture, 48000, 48003.0));
    auto backend = createAudioBackend(system);
    ToneCallback tone;
    std::string error;
    AudioBackendConfig configuration;
    configuration.inputs.push_back({kInputId, 0});
    configuration.outputs.push_back({kOutputId, 0});
    configuration.sampleRate = 48000;
    configuration.blockFrames = 128;
    configuration.deviceMode = 1;
    ASSERT_TRUE(configureAndStart(*backend, configuration, ToneCallback::call, &tone, error))
        << error;
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const AudioStatus running = snapshotStatus(*backend);
    destroyAudioBackend(backend);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_TRUE(running.running);
    EXPECT_EQ(running.error, "");
    // About as many frames as the time that passed, give or take the device buffer.
    EXPECT_GT(static_cast<double>(tone.frames.load()), 48000.0 * 0.25);
    EXPECT_LT(static_cast<double>(tone.frames.load()), 48000.0 * (seconds + 0.1));
    EXPECT_EQ(tone.inputChannels.load(), 2u);
}

} // namespace
} // namespace velkaphon::rack::testing
