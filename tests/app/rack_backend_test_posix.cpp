#include "app/rack_application.hpp"
#include "engine/wav_file.hpp"
#include "tests/app/rack_test_modules.hpp"
#include "tests/audio/simulated_endpoints.hpp"
#include "tests/hosting/clap_module_test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using testing::clapConfiguration;
using testing::ClapTestProbe;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::HeldClapPlugin;
using testing::kOutputId;
using testing::pluginChain;
using testing::refusal;
using testing::request;
using testing::simulatedEndpoint;

constexpr const char* kSlowOutputId = "{0.0.0.00000000}.{out-44k}";

// A standalone rack on endpoints in simulated time: audio runs only while the test advances.
class RackStandaloneThreads : public ::testing::Test {
protected:
    RackStandaloneThreads() {
        system.addEndpoint(simulatedEndpoint(kOutputId, "Speakers (Box)", DataFlow::Render));
        system.addEndpoint(
            simulatedEndpoint(kSlowOutputId, "Phones (Dock)", DataFlow::Render, 44100));
    }
    json command(const std::string& method, json params = json()) {
        return rack.handleCommand(request(method, std::move(params)));
    }
    std::uint64_t callbacks() { return command("status")["callbacks"].get<std::uint64_t>(); }

    SimulatedAudioSystem system;
    FakeModuleLog log;
    RackApplication rack{false, system, fakeModules(log)};
};

TEST_F(RackStandaloneThreads, DevicesStartPlayStatusAndStop) {
    const json devices = command("devices");
    // Interfaces in key order.
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0]["outputs"][0]["rate"], 44100);
    EXPECT_EQ(devices[1]["id"], kOutputId);
    EXPECT_EQ(devices[1]["name"], "Speakers (Box)");
    EXPECT_EQ(devices[1]["inputs"], json::array());
    EXPECT_EQ(devices[1]["outputs"], json::parse(R"j([{"id": "{0.0.0.00000000}.{out-main}",
        "name": "Speakers (Box)", "channels": 2, "rate": 48000}])j"));

    command("graph", chain({{"probe", "probe"}}));
    json status = command("start", {{"outputId", kOutputId}, {"blockFrames", 256}});
    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["error"], "");
    EXPECT_EQ(status["device"]["running"], true);
    system.advance(0.1);
    status = command("play");
    EXPECT_EQ(status["playing"], true);
    system.advance(0.1);
    status = command("status");
    EXPECT_GT(status["callbacks"].get<std::uint64_t>(), 30u);
    EXPECT_EQ(status["device"]["blockFrames"], 256);
    EXPECT_EQ(status["device"]["periodFrames"], 480);
    EXPECT_TRUE(status["device"]["latencyMs"].is_number());
    EXPECT_EQ(status["device"]["xruns"], 0);
    // The device figures the page shows, and no others.
    std::vector<std::string> keys;
    for (const auto& item : status["device"].items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"blockFrames", "error", "latencyMs", "maxCallbackMs",
                                              "periodFrames", "queueMs", "running", "xruns"}));
    EXPECT_EQ(status["device"]["latencyMs"], 10.0);
    EXPECT_GT(status["device"]["maxCallbackMs"].get<double>(), 0.0);
    // Queued in the 1440-frame device buffer.
    EXPECT_GT(status["device"]["queueMs"].get<double>(), 0.0);
    EXPECT_LE(status["device"]["queueMs"].get<double>(), 30.0);
    // The device path counts frames from the start: 200 ms at 48 kHz, within one block.
    EXPECT_NEAR(static_cast<double>(log["probe"].lastPosition.load()), 9600.0, 480.0);

    status = command("stop");
    EXPECT_EQ(status["running"], false);
    EXPECT_EQ(status["playing"], false);
    EXPECT_EQ(status["device"]["running"], false);
    const std::uint64_t stoppedAt = callbacks();
    system.advance(0.05);
    EXPECT_EQ(callbacks(), stoppedAt);
}

TEST_F(RackStandaloneThreads, StartWhileRunningAnswersWithoutRestarting) {
    command("graph", chain({{"probe", "probe"}}));
    command("start", {{"outputId", kOutputId}});
    system.advance(0.05);
    const int created = log["probe"].created.load();
    const json status = command("start", {{"outputId", "no-such-output"}});
    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["device"]["running"], true);
    EXPECT_EQ(status["error"], "");
    EXPECT_EQ(log["probe"].created.load(), created);
}

// More moves than the control queue holds, before, during and after a run of the device.
TEST_F(RackStandaloneThreads, FaderMovesLandAndAreStoredWhetherOrNotTheDeviceRuns) {
    const auto move = [&](int step) {
        return command("parameter",
                       {{"node", "faders"}, {"parameter", 0}, {"value", step % 13 - 6}});
    };
    for (int step = 0; step < 1500; ++step) {
        ASSERT_EQ(move(step), json::object()) << step;
    }
    command("start", {{"outputId", kOutputId}});
    system.advance(0.05);
    // Queued while the device runs; its worker waits meanwhile, so fewer than the queue holds.
    for (int step = 0; step < 1000; ++step) {
        ASSERT_EQ(move(step), json::object()) << step;
    }
    system.advance(0.05);
    command("stop");
    for (int step = 0; step < 1500; ++step) {
        ASSERT_EQ(move(step), json::object()) << step;
    }
    const json stored = command("state")["project"]["graph"]["nodes"][1]["configuration"];
    // The last move is 1499 % 13 - 6 = -2 dB.
    EXPECT_EQ(stored["gainsDb"], json::array({-2}));
    EXPECT_EQ(command("status")["error"], "");
}

TEST_F(RackStandaloneThreads, TheOutputsOwnRateIsUsedAndAMatchingRateIsNotRecompiled) {
    command("graph", chain({{"probe", "probe"}}));
    const int created = log["probe"].created.load();
    command("start", {{"outputId", kOutputId}, {"sampleRate", 0}});
    EXPECT_EQ(log["probe"].created.load(), created);
    command("stop");

    const json status = command("start", {{"outputId", kSlowOutputId}});
    EXPECT_EQ(status["sampleRate"], 44100.0);
    EXPECT_EQ(log["probe"].created.load(), created + 1);
    EXPECT_EQ(log["probe"].preparedRate, 44100.0);
}

TEST_F(RackStandaloneThreads, AFailedCompileIsRetriedByTheNextStart) {
    json patch = chain({{"d", "delay"}});
    patch["nodes"][1]["configuration"]["refuseRate"] = 44100;
    command("graph", patch);
    const json start = request("start", {{"outputId", kSlowOutputId}});
    EXPECT_EQ(refusal(rack, start), "delay cannot run at this rate");
    EXPECT_EQ(command("status")["sampleRate"], 48000.0);
    // Once the new rate was stored before its compile, and the retry ran the old graph.
    EXPECT_EQ(refusal(rack, start), "delay cannot run at this rate");
    const json status = command("status");
    EXPECT_EQ(status["running"], false);
    EXPECT_EQ(status["device"]["running"], false);
    EXPECT_EQ(log["d"].preparedRate, 48000.0);
}

TEST_F(RackStandaloneThreads, AFaultedBackEndIsStartedAgain) {
    command("start", {{"outputId", kOutputId}});
    system.advance(0.05);
    const int buffers = system.callCount(kOutputId, SimulatedCall::GetBuffer);
    system.failCall(kOutputId, SimulatedCall::GetBuffer, buffers + 1, kHresultFail);
    system.advance(0.05);
    json status = command("status");
    // The rack still counts as running; its device does not.
    EXPECT_EQ(status["running"], true);
    ASSERT_EQ(status["device"]["running"], false);
    EXPECT_NE(status["device"]["error"], "");

    status = command("start", {{"outputId", kOutputId}});
    EXPECT_EQ(status["device"]["running"], true);
    EXPECT_EQ(status["device"]["error"], "");
    const std::uint64_t restartedAt = status["callbacks"].get<std::uint64_t>();
    system.advance(0.05);
    EXPECT_GT(callbacks(), restartedAt);
}

// The device's audio thread ends each run, stopped or failed, by stopping the plug-in there; a
// new start starts it again.
TEST_F(RackStandaloneThreads, APluginStopsProcessingOnTheAudioThreadWhenTheDeviceStops) {
    HeldClapPlugin plugin;
    plugin.probe() = ClapTestProbe{};
    command("graph", pluginChain("clap", clapConfiguration("velkaphon.test.own-presets")));
    for (const bool deviceFails : {false, true, false}) {
        command("start", {{"outputId", kOutputId}});
        system.advance(0.05);
        if (deviceFails) {
            const int buffers = system.callCount(kOutputId, SimulatedCall::GetBuffer);
            system.failCall(kOutputId, SimulatedCall::GetBuffer, buffers + 1, kHresultFail);
            system.advance(0.05);
            ASSERT_EQ(command("status")["device"]["running"], false);
        }
        // Joins the audio thread, so that its last calls can be read.
        command("stop");
        EXPECT_EQ(plugin.probe().stopProcessingCalls, plugin.probe().startProcessingCalls);
    }
    EXPECT_EQ(plugin.probe().startProcessingCalls, 3u);
    EXPECT_GT(plugin.probe().processCalls, 2u);
    EXPECT_EQ(plugin.probe().stopProcessingOffAudioThread, 0u);
}

} // namespace
} // namespace velkaphon::rack

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// The rack's own players and recorders, with no stand-ins.
class RackMediaThreads : public ::testing::Test {
protected:
    RackMediaThreads() {
        system.addEndpoint(simulatedEndpoint(kOutputId, "Speakers (Box)", DataFlow::Render));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~RackMediaThreads() override { fs::remove_all(folder); }
    json command(const std::string& method, json params = json()) {
        return rack.handleCommand(request(method, std::move(params)));
    }
    // A 32-bit float WAV at 48 kHz made by sox in the folder from its synth arguments.
    fs::path soxWav(const std::string& name, int channels, const std::string& synth) const {
        const fs::path path = folder / name;
        const std::string make = "sox -n -r 48000 -c " + std::to_string(channels) +
                                 " -b 32 -e floating-point '" + path.string() + "' synth " + synth;
        EXPECT_EQ(std::system(make.c_str()), 0) << make;
        return path;
    }
    static json playerNode(const fs::path& song, int channels) {
        return {{"id", "player"},
                {"type", "player"},
                {"configuration", {{"path", song.string()}, {"channels", channels}}}};
    }

    const fs::path folder = fs::temp_directory_path() / "velkaphon-rack-media-test";
    SimulatedAudioSystem system;
    RackApplication rack{false, system};
};

TEST_F(RackMediaThreads, APlayerFeedingARecorderIsTakenSampleForSample) {
    const fs::path song = soxWav("song.wav", 2, "0.5 sine 440 sine 660 gain -6");
    ASSERT_FALSE(HasFailure());
    const fs::path take = folder / "take.wav";
    const json patch = {
        {"schema", 1},
        {"nodes",
         {playerNode(song, 2),
          {{"id", "rec"},
           {"type", "recorder"},
           {"configuration", {{"path", take.string()}, {"channels", 2}}}},
          {{"id", "output"}, {"type", "output"}, {"configuration", {{"channels", 2}}}}}},
        {"cables",
         {{{"from", "player"}, {"output", "out"}, {"to", "rec"}, {"input", "in"}},
          {{"from", "rec"}, {"output", "out"}, {"to", "output"}, {"input", "in"}}}}};
    command("graph", patch);
    command("start", {{"outputId", kOutputId}});
    system.advance(0.05);
    // No block runs while this thread is busy, so both begin in the same block.
    command("record");
    json status = command("play");
    EXPECT_EQ(status["recordingRequested"], true);
    system.advance(0.2);
    status = command("status");
    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["recording"], true);
    EXPECT_EQ(status["media"]["rec"]["recording"], true);
    system.advance(0.6);
    status = command("stop");
    EXPECT_EQ(status["media"]["rec"]["finalized"], true);
    const json stored = command("state")["project"]["graph"]["nodes"][1]["configuration"];
    EXPECT_EQ(stored["armed"], false);

    const WavAudio original = readWavFile(song, wavPreloadLimit);
    const WavAudio recorded = readWavFile(stored["path"].get<std::string>(), wavPreloadLimit);
    ASSERT_EQ(recorded.channels, 2u);
    EXPECT_EQ(recorded.sampleRate, 48000u);
    ASSERT_EQ(original.samples.size(), 48000u);
    ASSERT_GE(recorded.samples.size(), original.samples.size());
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < original.samples.size(); ++i) {
        mismatches += recorded.samples[i] != original.samples[i] ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0u);
    for (std::size_t i = original.samples.size(); i < recorded.samples.size(); ++i) {
        ASSERT_EQ(recorded.samples[i], 0.0f) << "after the song, frame " << i / 2;
    }
}

TEST_F(RackMediaThreads, APlayingSineRunsOnUnbrokenThroughTwoHundredPatchEdits) {
    const fs::path sine = soxWav("sine.wav", 1, "1 sine 440 gain -6");
    ASSERT_FALSE(HasFailure());
    const WavAudio original = readWavFile(sine, wavPreloadLimit);
    const json patch = {
        {"schema", 1},
        {"nodes",
         {playerNode(sine, 1),
          {{"id", "output"}, {"type", "output"}, {"configuration", {{"channels", 1}}}}}},
        {"cables", {{{"from", "player"}, {"output", "out"}, {"to", "output"}, {"input", "in"}}}}};
    RackApplication host{true, system};
    host.handleCommand(request("graph", patch));
    // The host's thread plays on while this one edits, at most two blocks ahead of the edits.
    constexpr std::uint32_t kFrames = 32;
    constexpr int kEdits = 200;
    std::vector<float> played(2 * kEdits * kFrames);
    std::atomic<int> edits{0};
    std::thread audio([&] {
        TransportInfo transport;
        transport.playing = true;
        for (int block = 0; block < 2 * kEdits; ++block) {
            while (block >= 2 * (edits.load() + 1)) {
                std::this_thread::yield();
            }
            float* rows[] = {played.data() + block * kFrames};
            transport.samplePosition = block * kFrames;
            host.processHostBlock(kFrames, {}, {rows, 1}, transport, nullptr, 0);
        }
    });
    for (int edit = 0; edit < kEdits; ++edit) {
        host.handleCommand(request("graph", patch));
        edits.store(edit + 1);
    }
    audio.join();
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < played.size(); ++i) {
        breaks += played[i] != original.samples.at(i) ? 1 : 0;
    }
    EXPECT_EQ(breaks, 0u);
}

} // namespace
} // namespace velkaphon::rack
