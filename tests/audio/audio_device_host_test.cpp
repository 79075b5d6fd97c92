#include "audio/audio_device_host.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

constexpr const char* kRateOrBlock =
    "Choose a valid sample rate (Automatic or 8-192 kHz) and a block from 16 to 4096 frames.";

AudioPort port(const std::string& id, bool input, bool known = true) {
    AudioPort result;
    result.id = id;
    result.isInput = input;
    result.mixKnown = known;
    result.sampleRate = 48000;
    return result;
}

std::vector<AudioDevice> devices() {
    return {AudioDevice{"box", "Box", {port("in", true)}, {port("out", false)}},
            AudioDevice{"mic", "Mic", {port("usb-in", true)}, {}},
            AudioDevice{"old", "Old", {}, {port("stale", false, false)}}};
}

AudioDeviceSettings settings(std::uint32_t rate, std::uint32_t block) {
    AudioDeviceSettings result;
    result.outputId = "out";
    result.sampleRate = rate;
    result.blockFrames = block;
    return result;
}

TEST(CheckSettings, BlockAndRateBoundaries) {
    std::string error;
    for (std::uint32_t block : {15u, 4097u, 0u}) {
        EXPECT_FALSE(AudioDeviceHost::checkSettings(settings(0, block), devices(), error)) << block;
        EXPECT_EQ(error, kRateOrBlock);
    }
    for (std::uint32_t rate : {7999u, 192001u}) {
        EXPECT_FALSE(AudioDeviceHost::checkSettings(settings(rate, 128), devices(), error)) << rate;
        EXPECT_EQ(error, kRateOrBlock);
    }
    for (std::uint32_t rate : {0u, 8000u, 192000u}) {
        for (std::uint32_t block : {16u, 4096u}) {
            EXPECT_TRUE(AudioDeviceHost::checkSettings(settings(rate, block), devices(), error));
            EXPECT_EQ(error, "");
        }
    }
}

TEST(CheckSettings, TheOrderOfRefusals) {
    std::string error;
    AudioDeviceSettings bad = settings(5, 5);
    bad.outputId.clear();
    bad.backendKind = 1;
    EXPECT_FALSE(AudioDeviceHost::checkSettings(bad, {}, error));
    EXPECT_EQ(error, "ASIO is not included in this build. Choose WASAPI. ASIO requires a licensed "
                     "backend; no ASIO driver is opened.");
    bad.backendKind = 0;
    EXPECT_FALSE(AudioDeviceHost::checkSettings(bad, {}, error));
    EXPECT_EQ(error, "Choose an output on your audio interface.");
    bad.outputId = "out";
    EXPECT_FALSE(AudioDeviceHost::checkSettings(bad, {}, error));
    EXPECT_EQ(error, kRateOrBlock);
    EXPECT_FALSE(AudioDeviceHost::checkSettings(settings(0, 128), {}, error));
    EXPECT_EQ(error,
              "The selected output is unavailable. Find devices and choose an available output.");
}

TEST(CheckSettings, PortsMustBeKnownAndOnOneInterface) {
    std::string error;
    AudioDeviceSettings chosen = settings(0, 128);
    chosen.outputId = "stale";
    EXPECT_FALSE(AudioDeviceHost::checkSettings(chosen, devices(), error));
    EXPECT_EQ(error,
              "The selected output is unavailable. Find devices and choose an available output.");
    chosen.outputId = "out";
    chosen.inputId = "nowhere";
    EXPECT_FALSE(AudioDeviceHost::checkSettings(chosen, devices(), error));
    EXPECT_EQ(error,
              "The selected input is unavailable. Find devices and choose an available input.");
    chosen.inputId = "usb-in";
    EXPECT_FALSE(AudioDeviceHost::checkSettings(chosen, devices(), error));
    EXPECT_EQ(error, "RACK uses one audio interface. Choose input and output ports of the same "
                     "device, or use output only for file processing.");
    chosen.inputId = "in";
    EXPECT_TRUE(AudioDeviceHost::checkSettings(chosen, devices(), error));
    chosen.inputId = "IN";
    EXPECT_FALSE(AudioDeviceHost::checkSettings(chosen, devices(), error));
}

} // namespace
} // namespace velkaphon::rack
