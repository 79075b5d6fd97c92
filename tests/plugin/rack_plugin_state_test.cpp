#include "tests/plugin/rack_plugin_host.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::blobOf;
using testing::RackInstance;
using testing::rackPluginModule;
using testing::textOf;

json stateObject(RackInstance& rack) {
    return json::parse(textOf(rack.state()));
}

TEST(RackPluginState, BlobIsALittleEndianLengthAndCompactSortedText) {
    RackInstance rack(*rackPluginModule()->factory);
    const std::vector<std::uint8_t> blob = rack.state();
    ASSERT_GT(blob.size(), 4u);
    const std::uint32_t length =
        blob[0] | blob[1] << 8 | blob[2] << 16 | static_cast<std::uint32_t>(blob[3]) << 24;
    EXPECT_EQ(length, blob.size() - 4);
    const std::string text = textOf(blob);
    EXPECT_THAT(text, ::testing::StartsWith("{\"bypass\":false,\"project\":{"));
    EXPECT_THAT(text, ::testing::EndsWith(",\"schema\":1}"));
    EXPECT_EQ(text, json::parse(text).dump());
    EXPECT_EQ(json::parse(text)["project"]["product"], "VELKAPHON RACK");
}

TEST(RackPluginState, RoundTripRestoresPatchLayoutAndBypass) {
    RackInstance source(*rackPluginModule()->factory);
    json changed = stateObject(source);
    changed["bypass"] = true;
    changed["project"]["layout"]["faders"] = {{"x", 500}, {"y", 90}};
    for (json& node : changed["project"]["graph"]["nodes"]) {
        if (node.at("id").get<std::string>() == "faders") {
            node["configuration"]["gainsDb"] = json::array({-6.5});
        }
    }
    ASSERT_EQ(source.restore(blobOf(changed.dump())), vst3::kResultOk);
    EXPECT_EQ(source.controller->getParamNormalized(0), 1.0);
    const std::vector<std::uint8_t> saved = source.state();

    RackInstance target(*rackPluginModule()->factory);
    ASSERT_EQ(target.restore(saved), vst3::kResultOk);
    EXPECT_EQ(target.state(), saved);
    const json restored = json::parse(textOf(saved));
    EXPECT_EQ(restored["bypass"], true);
    EXPECT_EQ(restored["project"]["layout"]["faders"]["x"], 500);
    // The controller side takes the blob's Bypass value and leaves the patch as it was.
    RackInstance third(*rackPluginModule()->factory);
    json untouched = stateObject(third);
    MemoryStream stream(saved);
    ASSERT_EQ(third.controller->setComponentState(&stream), vst3::kResultOk);
    untouched["bypass"] = true;
    EXPECT_EQ(stateObject(third), untouched);
    EXPECT_EQ(third.controller->getParamNormalized(0), 1.0);
    // Nothing about the latency changed, so the host hears nothing.
    EXPECT_TRUE(target.handler.restarts.empty());
}

TEST(RackPluginState, EveryMalformedBlobIsRefusedAndChangesNothing) {
    RackInstance rack(*rackPluginModule()->factory);
    const std::vector<std::uint8_t> before = rack.state();
    const json good = json::parse(textOf(before));

    std::vector<std::vector<std::uint8_t>> blobs;
    blobs.push_back({0, 0, 0, 0});
    blobs.push_back({0xFF, 0xFF, 0xFF, 0xFF});
    blobs.push_back({0x01, 0x00, 0x80, 0x00});
    blobs.push_back({0x01, 0x02});
    std::vector<std::uint8_t> truncated = blobOf(good.dump());
    truncated.pop_back();
    blobs.push_back(truncated);
    json noSchema = good;
    noSchema.erase("schema");
    noSchema["bypass"] = true;
    blobs.push_back(blobOf(noSchema.dump()));
    json schemaTwo = good;
    schemaTwo["schema"] = 2;
    blobs.push_back(blobOf(schemaTwo.dump()));
    json schemaText = good;
    schemaText["schema"] = "1";
    blobs.push_back(blobOf(schemaText.dump()));
    json bypassNumber = good;
    bypassNumber["bypass"] = 1;
    blobs.push_back(blobOf(bypassNumber.dump()));
    json noBypass = good;
    noBypass.erase("bypass");
    blobs.push_back(blobOf(noBypass.dump()));
    json noProject = good;
    noProject.erase("project");
    blobs.push_back(blobOf(noProject.dump()));
    json foreign = good;
    foreign["project"]["product"] = "OTHER RACK";
    foreign["bypass"] = true;
    blobs.push_back(blobOf(foreign.dump()));
    blobs.push_back(blobOf("[1,2]"));
    blobs.push_back(blobOf(good.dump() + " x"));
    blobs.push_back(blobOf(R"({"schema":1,"bypass":false,"project":)" + std::string(200000, '[') +
                           std::string(200000, ']') + "}"));

    for (std::size_t i = 0; i < blobs.size(); ++i) {
        EXPECT_EQ(rack.restore(blobs[i]), vst3::kResultFalse) << i;
        EXPECT_EQ(rack.state(), before) << i;
    }
    EXPECT_EQ(rack.component->setState(nullptr), vst3::kResultFalse);
    EXPECT_EQ(rack.component->getState(nullptr), vst3::kInvalidArgument);
}

TEST(RackPluginState, LengthAtTheLimitIsAccepted) {
    RackInstance rack(*rackPluginModule()->factory);
    json changed = stateObject(rack);
    changed["bypass"] = true;
    std::string text = changed.dump();
    text.append(8 * 1024 * 1024 - text.size(), ' ');
    ASSERT_EQ(rack.restore(blobOf(text)), vst3::kResultOk);
    EXPECT_EQ(stateObject(rack)["bypass"], true);
}

// Hosts may give the state while processing; the latency is reported then too.
TEST(RackPluginState, AChangedLatencyIsReportedOnceAndASteadyOneNever) {
    RackInstance rack(*rackPluginModule()->factory);
    const json plain = stateObject(rack);
    json latent = plain;
    latent["project"] = testing::projectThrough(plain["project"], testing::Vst3TestClass::Latency);
    rack.start(vst3::kSample32, 64);

    ASSERT_EQ(rack.restore(blobOf(latent.dump())), vst3::kResultOk);
    EXPECT_EQ(rack.processor->getLatencySamples(), testing::kVst3TestLatency);
    EXPECT_EQ(rack.handler.restarts, std::vector<vst3::int32>{vst3::kLatencyChanged});

    ASSERT_EQ(rack.restore(blobOf(latent.dump())), vst3::kResultOk);
    EXPECT_EQ(rack.handler.restarts.size(), 1u);

    ASSERT_EQ(rack.restore(blobOf(plain.dump())), vst3::kResultOk);
    EXPECT_EQ(rack.processor->getLatencySamples(), 0u);
    EXPECT_EQ(rack.handler.restarts,
              (std::vector<vst3::int32>{vst3::kLatencyChanged, vst3::kLatencyChanged}));
    rack.finish();
}

} // namespace
} // namespace velkaphon::rack
