#include "abi/vst3/controller.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace velkaphon::rack {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using json = nlohmann::json;

constexpr std::uint32_t kGain = 1000;
constexpr std::uint32_t kMeter = 1001;
constexpr std::uint32_t kProgram = 1002;
constexpr std::uint32_t kLookahead = 1003;
constexpr std::uint32_t kHidden = 1004;

// Value i of the test plug-in's state: after the magic and the count, one double each.
double stateValue(const json& status, std::size_t i) {
    const std::vector<std::uint8_t> bytes = status.at("componentState");
    double value = 0.0;
    std::memcpy(&value, bytes.data() + 8 + 8 * i, sizeof value);
    return value;
}

std::vector<std::uint32_t> listedIds(const HostedModule& module) {
    std::vector<std::uint32_t> ids;
    for (const HostedParameter& parameter : module.parameters()) {
        ids.push_back(parameter.id);
    }
    return ids;
}

void runBlock(HostedModule& module, float input) {
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0).assign(4, input);
    module.process(block.context);
}

// The saved values, the program change among them, would load the program over the restored
// state; after a state load the plug-in's own values hold, whatever the saved ones say.
TEST(VstParameterValues, ARestoredStateIsNotOverwrittenBySavedValues) {
    HeldVstPlugin plugin;
    auto first = preparedVstModule(vstConfiguration(Vst3TestClass::Programs));
    first->setControl(kGain, 0.8);
    first->setControl(kHidden, 0.1);
    runBlock(*first, 0.0f);
    json saved = first->status();
    first.reset();
    ASSERT_EQ(saved.at("componentState").size(), 56u);
    saved["parameters"][0]["value"] = 0.3;

    auto second = preparedVstModule(saved);
    runBlock(*second, 0.0f);
    EXPECT_EQ(plugin.probe().lastBlock.changeCount, 0);
    EXPECT_EQ(second->status().at("componentState"), saved.at("componentState"));
    EXPECT_DOUBLE_EQ(second->parameters()[0].value, 0.8);
    EXPECT_DOUBLE_EQ(second->status().at("parameters")[4].at("value").get<double>(), 0.1);
}

// Without a state the saved values are sent, except the program change and read-only ones;
// hidden parameters are saved and sent but not listed.
TEST(VstParameterValues, WithoutAStateSavedValuesAreSentAndHiddenOnesAreNotListed) {
    HeldVstPlugin plugin;
    json configuration = vstConfiguration(Vst3TestClass::Programs);
    configuration["parameters"] = {{{"id", kGain}, {"value", 0.8}},
                                   {{"id", kMeter}, {"value", 0.9}},
                                   {{"id", kProgram}, {"value", 0.7}},
                                   {{"id", kHidden}, {"value", 0.1}}};
    auto module = preparedVstModule(configuration);
    runBlock(*module, 0.0f);
    const Vst3TestBlock& seen = plugin.probe().lastBlock;
    ASSERT_EQ(seen.changeCount, 2);
    EXPECT_THAT(std::vector<std::uint32_t>(seen.changeIds, seen.changeIds + 2),
                ElementsAre(kGain, kHidden));
    EXPECT_THAT(listedIds(*module), ElementsAre(kGain, kMeter, kProgram, kLookahead));
    EXPECT_EQ(module->status().at("parameters").size(), 6u);
}

// The last point of the processor's meter reaches the page, and the controller at idle.
TEST(VstParameterValues, TheProcessorsOutputValuesReachTheParametersAndTheController) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Programs));
    runBlock(*module, 0.25f);
    EXPECT_DOUBLE_EQ(module->parameters()[1].value, 0.25);
    EXPECT_DOUBLE_EQ(stateValue(module->status(), 1), 0.5);
    module->idle();
    EXPECT_DOUBLE_EQ(stateValue(module->status(), 1), 0.25);
}

// A program sent from the page moves the other values; the plug-in says so from process and
// the values are read again on the control thread.
TEST(VstParameterValues, ValuesThePluginChangesItselfAreReadBackAtIdle) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Programs));
    module->setControl(kGain, 0.9);
    runBlock(*module, 0.0f);
    module->idle();
    module->setControl(kProgram, 0.3);
    runBlock(*module, 0.0f);
    EXPECT_DOUBLE_EQ(module->parameters()[0].value, 0.9);
    EXPECT_FALSE(module->restartRequested());
    module->idle();
    EXPECT_DOUBLE_EQ(module->parameters()[0].value, 0.5);
    EXPECT_DOUBLE_EQ(module->parameters()[2].value, 0.3);
}

// A latency change reported from process asks for a rebuild without silencing the audio, and
// the rebuilt module has the new latency; a report of the same latency asks for nothing.
TEST(VstParameterValues, ALatencyChangeAsksForARebuildThatReadsTheNewLatency) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Programs));
    EXPECT_EQ(module->latencySamples(), 480u);
    plugin.probe().restartComponent(vst3::kLatencyChanged);
    EXPECT_FALSE(module->restartRequested());

    module->setControl(kLookahead, 0.25);
    runBlock(*module, 0.5f);
    EXPECT_TRUE(module->restartRequested());
    EXPECT_EQ(module->processFault(), std::nullopt);
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0).assign(4, 0.5f);
    module->process(block.context);
    EXPECT_FLOAT_EQ(block.output(0, 0)[3], 0.5f);

    auto rebuilt = preparedVstModule(module->status());
    EXPECT_EQ(rebuilt->latencySamples(), 240u);
    EXPECT_FALSE(rebuilt->restartRequested());
}

} // namespace
} // namespace velkaphon::rack
