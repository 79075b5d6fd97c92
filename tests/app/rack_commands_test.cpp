#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using ::testing::EndsWith;
using testing::FakeModuleLog;
using testing::fakeModules;
using ::testing::HasSubstr;
using testing::refusal;
using testing::request;

constexpr const char* kInvalidParameter = "Invalid module parameter.";
constexpr const char* kStripRange = "Strip parameter out of range.";

class RackCommands : public ::testing::Test {
protected:
    json faders() {
        return rack.handleCommand(
            request("state"))["project"]["graph"]["nodes"][1]["configuration"];
    }
    json parameter(const std::string& node, json index, json value) {
        return request("parameter", {{"node", node}, {"parameter", index}, {"value", value}});
    }
    // Runs blocks of a constant input through the rack and answers the last output sample.
    float settledOutput(float input) {
        float in[256];
        float out[256];
        for (float& sample : in) {
            sample = input;
        }
        float* inputs[] = {in, in};
        float* outputs[] = {out, out};
        for (int block = 0; block < 200; ++block) {
            rack.processHostBlock(256, {inputs, 2}, {outputs, 2}, {}, nullptr, 0);
        }
        return out[255];
    }

    FakeModuleLog log;
    RackApplication rack{true, platformAudioSystem(), fakeModules(log)};
};

TEST_F(RackCommands, MethodsAreComparedByteForByte) {
    EXPECT_EQ(refusal(rack, request("STATE")), "Unknown rack command: STATE");
    EXPECT_EQ(refusal(rack, request("inspect ")), "Unknown rack command: inspect ");
}

TEST_F(RackCommands, MalformedRequestsFailWithTheJsonLibrarysOwnErrors) {
    EXPECT_THAT(refusal(rack, json::array({"state"})), EndsWith("cannot use at() with array"));
    EXPECT_THAT(refusal(rack, json{{"params", {}}}), EndsWith("key 'method' not found"));
    EXPECT_THAT(refusal(rack, json{{"method", 3}}), EndsWith("type must be string, but is number"));
}

TEST_F(RackCommands, MissingParamsMeanPlayAndRecordTrueAndStartLacksItsOutput) {
    EXPECT_EQ(rack.handleCommand(json{{"method", "play"}})["playing"], true);
    EXPECT_EQ(refusal(rack, json{{"method", "record"}}),
              "Add a Recorder and choose an output file first.");
    RackApplication standalone(false);
    EXPECT_THAT(refusal(standalone, json{{"method", "start"}}),
                EndsWith("key 'outputId' not found"));
}

TEST_F(RackCommands, PlayTogglesTheTransport) {
    EXPECT_EQ(rack.handleCommand(request("play", {{"playing", true}}))["playing"], true);
    EXPECT_EQ(rack.handleCommand(request("play", {{"playing", false}}))["playing"], false);
    EXPECT_THAT(refusal(rack, request("play", {{"playing", 1}})),
                HasSubstr("type must be boolean, but is number"));
}

TEST_F(RackCommands, FaderGainsAreClampedQueuedAndStored) {
    EXPECT_EQ(rack.handleCommand(parameter("faders", 0, 20)), json::object());
    EXPECT_EQ(faders()["gainsDb"], json::array({12.0}));
    EXPECT_TRUE(faders()["gainsDb"][0].is_number_float());
    // +12 dB is four times the amplitude, less the rounding of 10^(12/20).
    EXPECT_NEAR(settledOutput(0.125f), 0.125f * 3.981f, 1e-3);

    rack.handleCommand(parameter("faders", 0, -500.5));
    EXPECT_EQ(faders()["gainsDb"], json::array({-80.0}));
}

TEST_F(RackCommands, FaderMutesAreStoredAsBooleansAndSilenceTheStrip) {
    rack.handleCommand(parameter("faders", 1, 0.7));
    EXPECT_EQ(faders()["mutes"], json::array({true}));
    EXPECT_FLOAT_EQ(settledOutput(0.5f), 0.0f);
    rack.handleCommand(parameter("faders", 1, 0.5));
    EXPECT_EQ(faders()["mutes"], json::array({false}));
    EXPECT_NEAR(settledOutput(0.5f), 0.5f, 1e-4);
}

TEST_F(RackCommands, StripIndicesPastTheBankAreRefusedBeforeAnythingChanges) {
    EXPECT_EQ(refusal(rack, parameter("faders", 2, 0)), kStripRange);
    EXPECT_EQ(refusal(rack, parameter("faders", 4294967295u, 0)), kStripRange);
    EXPECT_FALSE(faders().contains("mutes"));
    EXPECT_EQ(faders()["gainsDb"], json::array({0}));
}

TEST_F(RackCommands, ParameterNumbersAreNeverWrappedOrTakenFromBooleans) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(refusal(rack, parameter("faders", 0, nan)), kInvalidParameter);
    EXPECT_EQ(refusal(rack, parameter("faders", 0, -infinity)), kInvalidParameter);
    EXPECT_EQ(refusal(rack, parameter("nobody", 0, 1.0)), kInvalidParameter);
    // Once -1 and 2^32 + 1 would have become strip mutes; now they are no index at all.
    EXPECT_EQ(refusal(rack, parameter("faders", -1, 1.0)), kInvalidParameter);
    EXPECT_EQ(refusal(rack, parameter("faders", 4294967297ll, 1.0)), kInvalidParameter);
    EXPECT_EQ(refusal(rack, parameter("faders", 0.5, 1.0)), kInvalidParameter);
    EXPECT_THAT(refusal(rack, parameter("faders", true, 1.0)),
                HasSubstr("type must be number, but is boolean"));
    EXPECT_THAT(refusal(rack, parameter("faders", 0, true)),
                HasSubstr("type must be number, but is boolean"));
    EXPECT_THAT(refusal(rack, parameter("faders", 0, "3")),
                HasSubstr("type must be number, but is string"));
    EXPECT_THAT(refusal(rack, request("parameter", {{"node", "faders"}, {"parameter", 0}})),
                EndsWith("key 'value' not found"));
    EXPECT_EQ(faders()["gainsDb"], json::array({0}));
}

TEST_F(RackCommands, AFullControlQueueWhileAudioRunsIsReportedAndTheRefusedValueIsNotStored) {
    // The host's first block: audio runs from here, and no block drains the queue meanwhile.
    settledOutput(0.0f);
    int accepted = 0;
    std::string text;
    for (int attempt = 0; attempt < 2000 && text.empty(); ++attempt) {
        try {
            rack.handleCommand(parameter("faders", 0, attempt % 10));
            ++accepted;
        } catch (const std::runtime_error& error) {
            text = error.what();
        }
    }
    EXPECT_EQ(text, "Control queue is full; try again.");
    EXPECT_EQ(accepted, 1023);
    EXPECT_EQ(faders()["gainsDb"], json::array({(accepted - 1) % 10}));
}

TEST_F(RackCommands, WithAudioStoppedEveryMoveIsAppliedAndStored) {
    for (int move = 0; move < 2000; ++move) {
        ASSERT_EQ(rack.handleCommand(parameter("faders", 0, move % 13 - 6)), json::object())
            << move;
    }
    // The last move is 1999 % 13 - 6 = 4 dB.
    EXPECT_EQ(faders()["gainsDb"], json::array({4}));
    EXPECT_NEAR(settledOutput(0.125f), 0.125f * 1.5849f, 1e-3);
}

TEST_F(RackCommands, AMoveQueuedForARunThatStoppedNeverLandsAfterANewerOne) {
    settledOutput(0.125f);
    rack.handleCommand(parameter("faders", 1, 1.0));
    rack.stop();
    rack.handleCommand(parameter("faders", 1, 0.0));
    EXPECT_NEAR(settledOutput(0.125f), 0.125f, 1e-4);
    EXPECT_EQ(faders()["mutes"], json::array({false}));
}

TEST_F(RackCommands, AnAliasOfTheFaderBankIsCheckedAndStoredAsOne) {
    json patch = chain({{"bank", "faders"}});
    patch["nodes"][1]["configuration"] = {{"strips", 2}, {"channels", {2, 2}}};
    patch["cables"][0]["input"] = "in0";
    patch["cables"][1]["output"] = "out0";
    rack.handleCommand(request("graph", patch));
    EXPECT_EQ(refusal(rack, parameter("bank", 4, 0.0)), kStripRange);
    rack.handleCommand(parameter("bank", 3, 0.7));
    rack.handleCommand(parameter("bank", 0, 20));
    const json stored =
        rack.handleCommand(request("state"))["project"]["graph"]["nodes"][1]["configuration"];
    EXPECT_EQ(stored["mutes"], json::array({false, true}));
    EXPECT_EQ(stored["gainsDb"], json::array({12.0}));
}

TEST_F(RackCommands, OtherModulesGetTheChangeAtOnceAndStoreNothing) {
    rack.handleCommand(request("graph", chain({{"d", "delay"}})));
    rack.handleCommand(parameter("d", 3, 0.75));
    ASSERT_EQ(log["d"].controls.size(), 1u);
    EXPECT_EQ(log["d"].controls[0], (std::pair<std::uint32_t, double>{3, 0.75}));
    const json graph = rack.handleCommand(request("state"))["project"]["graph"];
    EXPECT_EQ(graph["nodes"][1]["configuration"], json::object());
}

TEST_F(RackCommands, LayoutsUpToSixtyFourKibibytesOfUtf8AreKept) {
    // {"k":"…"} is 8 bytes around the text; "é" is two bytes of UTF-8 (six if escaped).
    const std::string text = std::string(65'526, 'x') + "é";
    const json exact = {{"k", text}};
    ASSERT_EQ(exact.dump().size(), 65'536u);
    EXPECT_EQ(rack.handleCommand(request("layout", exact)), json::object());
    EXPECT_EQ(rack.handleCommand(request("state"))["project"]["layout"], exact);

    const json over = {{"k", text + "x"}};
    EXPECT_EQ(refusal(rack, request("layout", over)), "Invalid rack layout.");
    EXPECT_EQ(refusal(rack, request("layout", json::array())), "Invalid rack layout.");
    EXPECT_EQ(refusal(rack, json{{"method", "layout"}, {"params", nullptr}}),
              "Invalid rack layout.");
    EXPECT_EQ(rack.handleCommand(request("state"))["project"]["layout"], exact);
}

TEST_F(RackCommands, GraphAnswersTheStateAndReplacesThePatch) {
    const json result = rack.handleCommand(request("graph", chain({{"d", "delay"}})));
    EXPECT_EQ(result, rack.handleCommand(request("state")));
    EXPECT_EQ(result["project"]["graph"], chain({{"d", "delay"}}));
    EXPECT_TRUE(result["ports"].contains("d"));
    EXPECT_FALSE(result["ports"].contains("faders"));
}

TEST_F(RackCommands, GraphRefusesDocumentsOfAnotherSchema) {
    json graph = chain({});
    graph["schema"] = true;
    EXPECT_EQ(refusal(rack, request("graph", graph)), "Unsupported rack project schema");
    graph["schema"] = 2;
    EXPECT_EQ(refusal(rack, request("graph", graph)), "Unsupported rack project schema");
}

TEST_F(RackCommands, RecordWithoutARecorderIsRefusedAndStoppingAlwaysSucceeds) {
    EXPECT_EQ(refusal(rack, request("record", {{"recording", true}})),
              "Add a Recorder and choose an output file first.");
    EXPECT_EQ(rack.handleCommand(request("status"))["recordingRequested"], false);
    const json status = rack.handleCommand(request("record", {{"recording", false}}));
    EXPECT_EQ(status["recordingRequested"], false);
}

TEST_F(RackCommands, StartInThePluginIsRefusedBeforeAnyParameterIsRead) {
    EXPECT_EQ(refusal(rack, request("start", json::array({1, 2}))),
              "Your DAW controls audio. Rack uses the DAW ports.");
    EXPECT_EQ(refusal(rack, request("start")), "Your DAW controls audio. Rack uses the DAW ports.");
}

TEST(RackStartSettings, NumbersFollowTheJsonRule) {
    RackApplication rack(false);
    const std::string rateOrBlock = "Rack supports 8..384 kHz and blocks up to 4096 frames.";
    const json output = {{"outputId", "no-such-output"}};
    json params = output;
    params["blockFrames"] = true;
    EXPECT_THAT(refusal(rack, request("start", params)),
                HasSubstr("type must be number, but is boolean"));
    params["blockFrames"] = -1;
    EXPECT_EQ(refusal(rack, request("start", params)), rateOrBlock);
    params = output;
    params["sampleRate"] = 4294967297ll;
    EXPECT_EQ(refusal(rack, request("start", params)), rateOrBlock);
    params["sampleRate"] = 48000.5;
    EXPECT_EQ(refusal(rack, request("start", params)), rateOrBlock);
    EXPECT_THAT(refusal(rack, request("start", json::array())),
                HasSubstr("cannot use value() with array"));
    EXPECT_EQ(rack.handleCommand(request("status"))["running"], false);
}

TEST(RackStartSettings, TheBackEndsRefusalBecomesTheErrorAndStaysInTheStatus) {
    RackApplication rack(false);
    const std::string unavailable =
        "The selected output is unavailable. Find devices and choose an available output.";
    EXPECT_EQ(refusal(rack, request("start", {{"outputId", "no-such-output"}})), unavailable);
    EXPECT_EQ(rack.handleCommand(request("status"))["error"], unavailable);
    EXPECT_EQ(refusal(rack, request("start", {{"outputId", ""}})),
              "Choose an output on your audio interface.");
}

} // namespace
} // namespace velkaphon::rack
