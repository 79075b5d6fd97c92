#include "audio/endpoint_catalogue.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

AudioPort port(const std::string& id, bool input, const std::string& key,
               std::uint32_t rate = 48000, const std::string& name = "Port") {
    AudioPort result;
    result.id = id;
    result.name = name;
    result.interfaceKey = key;
    result.isInput = input;
    result.channels = 2;
    result.sampleRate = rate;
    result.mixKnown = true;
    return result;
}

AudioBackendConfig selection(std::vector<std::string> inputs, std::vector<std::string> outputs,
                             std::uint32_t rate = 48000) {
    AudioBackendConfig config;
    for (const std::string& id : inputs) {
        config.inputs.push_back({id, 0});
    }
    for (const std::string& id : outputs) {
        config.outputs.push_back({id, 0});
    }
    config.sampleRate = rate;
    config.blockFrames = 128;
    return config;
}

TEST(PortLabelKey, GroupsTheInterfacesOwnPortNames) {
    const std::string device = "BEHRINGER UMC 404HD 192k";
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 1-2 (" + device + ")", "a"),
              "umc404hd-label:" + device);
    EXPECT_EQ(interfaceKeyFromPortLabel("OUT 3-4 (" + device + ")", "b"),
              "umc404hd-label:" + device);
    EXPECT_EQ(interfaceKeyFromPortLabel("OUT 1-4 (2- " + device + ")", "c"),
              "umc404hd-label:2- " + device);
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 5-6 (" + device + ")", "d"), "d");
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 1-2 (- " + device + ")", "e"), "e");
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 1-2 (x- " + device + ")", "f"), "f");
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 1-2 (" + device + ") ", "g"), "g");
    EXPECT_EQ(interfaceKeyFromPortLabel("IN 1-2 (BEHRINGER UMC 404HD)", "h"), "h");
    EXPECT_EQ(interfaceKeyFromPortLabel(")", "i"), "i");
    EXPECT_EQ(interfaceKeyFromPortLabel(" ()", "j"), "j");
    EXPECT_EQ(interfaceKeyFromPortLabel("", "k"), "k");
}

TEST(EndpointSelection, OneEndpointPerInterfaceAndDirection) {
    const std::vector<AudioPort> ports = {port("in-a", true, "box", 48000, "In A"),
                                          port("in-b", true, "box", 48000, "In B"),
                                          port("out-a", false, "box")};
    std::string error;
    EXPECT_TRUE(checkEndpointSelection(selection({"in-a"}, {"out-a"}), ports, error));
    EXPECT_FALSE(checkEndpointSelection(selection({"in-a", "in-b"}, {"out-a"}), ports, error));
    EXPECT_EQ(error, "Select only one input endpoint per physical interface; overlapping endpoint "
                     "aliases are not additional inputs or outputs: In B");
    EXPECT_FALSE(checkEndpointSelection(selection({"out-a"}, {"out-a"}), ports, error));
    EXPECT_EQ(error, "Selected endpoint absent from current device catalogue or wrong direction: "
                     "out-a");
}

TEST(DeviceMode, SingleInterfaceNeedsOneKeyAndKnownMixFormats) {
    std::vector<AudioPort> ports = {port("in", true, "mic"), port("out", false, "box"),
                                    port("out2", false, "box")};
    std::string error;
    AudioBackendConfig config = selection({"in"}, {"out"});
    EXPECT_FALSE(checkDeviceMode(config, ports, error));
    EXPECT_EQ(error, "Single-interface mode requires input and output on the same audio "
                     "interface. Choose matching ports, or select Multiple interfaces for a "
                     "separate microphone and headphones.");
    config.deviceMode = 1;
    EXPECT_TRUE(checkDeviceMode(config, ports, error));
    config.deviceMode = 2;
    EXPECT_FALSE(checkDeviceMode(config, ports, error));
    EXPECT_EQ(error, "Unknown audio device mode.");
    config = selection({}, {"out"});
    ports[1].mixKnown = false;
    EXPECT_FALSE(checkDeviceMode(config, ports, error));
    EXPECT_EQ(error, "The selected audio endpoint is unavailable. Refresh devices and choose an "
                     "available input or output.");
}

TEST(MasterRate, TheMastersMixRateMustMatchUnlessExclusiveIsRequired) {
    const std::vector<AudioPort> ports = {port("out", false, "box", 44100, "Speakers (Box)")};
    std::string error;
    AudioBackendConfig config = selection({}, {"out"}, 48000);
    EXPECT_FALSE(checkMasterRate(config, ports, error));
    EXPECT_EQ(error,
              "Audio output \"Speakers (Box)\" uses 44100 Hz in Windows shared mode, but RACK "
              "requests 48000 Hz. Choose Automatic sample rate or match RACK to 44100 Hz in "
              "Advanced setup.");
    config.preferExclusive = true;
    EXPECT_FALSE(checkMasterRate(config, ports, error));
    config.outputs[0].requireExclusive = true;
    EXPECT_TRUE(checkMasterRate(config, ports, error));

    config = selection({}, {});
    EXPECT_FALSE(checkMasterRate(config, ports, error));
    EXPECT_EQ(error, "Choose an audio output before starting audio.");
    config = selection({}, {"out"}, 44100);
    config.masterId = "other";
    EXPECT_FALSE(checkMasterRate(config, ports, error));
    EXPECT_EQ(error, "Choose a clock master from the selected audio outputs.");
    config = selection({}, {"gone"}, 44100);
    EXPECT_FALSE(checkMasterRate(config, ports, error));
    EXPECT_EQ(error, "The selected clock output is unavailable. Refresh devices and choose an "
                     "available output.");
    config = selection({}, {"out"}, 44100);
    EXPECT_TRUE(checkMasterRate(config, ports, error));
}

TEST(PrepareFailure, TheFirstFailedEndpointIsNamedWithItsHresult) {
    const std::vector<std::string> labels = {"audio input \"Mic\"", "audio output \"Main\"",
                                             "audio output \"Phones\""};
    EXPECT_EQ(describePrepareFailure(labels, {0, 0x88890008u, 0}, 2, true),
              "Could not prepare audio output \"Main\" (HRESULT 0x88890008).");
    EXPECT_EQ(describePrepareFailure(labels, {0, 0, 0}, 2, true),
              "Timed out waiting for audio output \"Phones\" to prepare (HRESULT 0x800705b4).");
    EXPECT_EQ(
        describePrepareFailure(labels, {0, 1, 0}, 0, false),
        "Audio setup was cancelled while preparing audio input \"Mic\" (HRESULT 0x800704c7).");
    EXPECT_EQ(describePrepareFailure(labels, {0, 0, 0}, 3, false),
              "Audio setup was cancelled while preparing selected audio device (HRESULT "
              "0x800704c7).");
}

} // namespace
} // namespace velkaphon::rack
