// The real WASAPI code against Wine's own Core Audio on the ALSA null device.
#include "audio/audio_device_host.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <windows.h>

namespace velkaphon::rack {
namespace {

struct CountingCallback {
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint32_t> largestChunk{0};

    static void call(void* context, const float* const*, std::uint32_t, float* const* outputs,
                     std::uint32_t outputChannels, std::uint32_t count, double) {
        auto& self = *static_cast<CountingCallback*>(context);
        for (std::uint32_t row = 0; row < outputChannels; ++row) {
            outputs[row][0] = 0.25f;
        }
        self.calls.fetch_add(1);
        self.frames.fetch_add(count);
        if (count > self.largestChunk.load()) {
            self.largestChunk.store(count);
        }
    }
};

TEST(WasapiBackend, ListsWhatWineOffers) {
    auto backend = createAudioBackend();
    std::vector<AudioPort> ports;
    std::string error = "untouched";
    EXPECT_TRUE(enumerateDevices(*backend, ports, error));
    EXPECT_EQ(error, "");
    const auto render = std::count_if(ports.begin(), ports.end(),
                                      [](const AudioPort& port) { return !port.isInput; });
    EXPECT_GE(render, 1);
    ASSERT_FALSE(ports.empty());
    EXPECT_TRUE(ports.front().isInput) << "capture ports come first";
    for (const AudioPort& port : ports) {
        EXPECT_FALSE(port.id.empty());
        EXPECT_TRUE(port.mixKnown) << port.id;
        EXPECT_GE(port.sampleRate, 8000u);
        EXPECT_GE(port.channels, 1u);
        EXPECT_FALSE(port.interfaceKey.empty());
    }
    destroyAudioBackend(backend);
}

TEST(WasapiBackend, RunsTheDefaultOutputAsMasterForOneSecond) {
    auto backend = createAudioBackend();
    std::vector<AudioDevice> devices;
    std::string error;
    AudioDeviceHost::listDevices(backend, devices, error);
    ASSERT_EQ(error, "");
    const auto withOutput = std::find_if(devices.begin(), devices.end(),
                                         [](const AudioDevice& d) { return !d.outputs.empty(); });
    ASSERT_NE(withOutput, devices.end());
    const AudioPort output = withOutput->outputs.front();

    AudioDeviceSettings settings;
    settings.outputId = output.id;
    settings.blockFrames = 128;
    CountingCallback callback;
    ASSERT_TRUE(AudioDeviceHost::start(backend, settings, CountingCallback::call, &callback, error))
        << error;
    EXPECT_EQ(error, "");
    Sleep(1000);
    const AudioStatus running = AudioDeviceHost::status(*backend);
    AudioDeviceHost::stop(*backend);
    const AudioStatus stopped = AudioDeviceHost::status(*backend);

    EXPECT_TRUE(running.running);
    EXPECT_EQ(running.error, "");
    EXPECT_EQ(running.sampleRate, output.sampleRate);
    EXPECT_EQ(running.blockFrames, 128u);
    EXPECT_GT(running.periodFrames, 0u);
    ASSERT_EQ(running.endpoints.size(), 1u);
    EXPECT_EQ(running.endpoints[0].state, "running");
    EXPECT_EQ(running.endpoints[0].name, output.name);

    // About a second of audio in blocks of at most 128 frames.
    const double seconds = static_cast<double>(callback.frames.load()) / output.sampleRate;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 1.6);
    EXPECT_LE(callback.largestChunk.load(), 128u);
    EXPECT_GE(callback.calls.load(), callback.frames.load() / 128);

    EXPECT_FALSE(stopped.running);
    EXPECT_EQ(stopped.error, "");
    EXPECT_EQ(stopped.cycles, callback.calls.load());
    ASSERT_EQ(stopped.endpoints.size(), 1u);
    EXPECT_EQ(stopped.endpoints[0].state, "stopped");
    destroyAudioBackend(backend);
}

} // namespace
} // namespace velkaphon::rack
