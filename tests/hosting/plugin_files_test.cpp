#include "hosting/plugin_files.hpp"
#include "hosting/vst3_class_id.hpp"
#include "tests/hosting/vst3_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace velkaphon::rack {
namespace {

using json = nlohmann::json;

const std::string kRefused =
    "Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not supported in this release.";

std::string describeError(const std::string& path) {
    try {
        describePluginFile(path);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

TEST(PluginFiles, OnlyVst3AndClapExtensionsAreScannedInAnyLetterCase) {
    for (const std::string path : {"x.vst3x", "x.dll", "x", "dir.vst3/", ".vst3", "x.vst3.bak"}) {
        EXPECT_EQ(describeError(path), kRefused) << path;
    }
    EXPECT_EQ(describeError("/no/such/Thing.VST3"), "VST3 module file does not exist.");
    EXPECT_NE(describeError("/no/such/Thing.CLAP"), kRefused);
    EXPECT_EQ(describeError("bad \xC3.vst3"), "Invalid UTF-8 path.");
}

TEST(PluginFiles, AVst3ModuleListsItsAudioClassesInFactoryOrder) {
    const json entries = describePluginFile(VELKAPHON_TEST_VST3);
    ASSERT_EQ(entries.size(), testing::kVst3TestClassCount);
    EXPECT_EQ(
        entries[0],
        json({{"name", "Test Gain"},
              {"classId", vstClassIdText(testing::vst3TestClassId(testing::Vst3TestClass::Gain))},
              {"format", "VST3"},
              {"path", VELKAPHON_TEST_VST3}}));
    EXPECT_EQ(entries[1]["name"], "Test Latency");
    EXPECT_EQ(entries[13]["name"], "Test 32-bit Only");
}

#ifndef _WIN32
TEST(PluginFiles, ALinuxModuleIsScannedAndMadeAfterItsEntryAndRefusedWhenItsEntryRefuses) {
    const testing::Vst3CallLog log;
    EXPECT_EQ(describePluginFile(VELKAPHON_TEST_VST3_MODULE_ENTRY).size(),
              testing::kVst3TestClassCount);
    EXPECT_NE(createHostedModule({"n", "vst3", {{"path", VELKAPHON_TEST_VST3_MODULE_ENTRY}}}),
              nullptr);
    EXPECT_EQ(describeError(VELKAPHON_TEST_VST3_MODULE_ENTRY_REFUSES), "VST3 module entry failed.");
    EXPECT_EQ(log.count("ModuleExit"), 2);
    EXPECT_EQ(log.count("unloaded"), 3);
}
#endif

TEST(PluginFiles, TheEntryKeepsTheCallersPathTextForAModuleFileToo) {
    const std::filesystem::path bundle = VELKAPHON_TEST_VST3;
#ifdef _WIN32
    const std::filesystem::path file = bundle / "Contents" / "x86_64-win" / bundle.filename();
#else
    const std::filesystem::path file =
        bundle / "Contents" / "x86_64-linux" / (bundle.stem().string() + ".so");
#endif
    // A module file itself is scanned by describePluginFile only with the .vst3 extension.
    const json entries = scanVstModule(file.string());
    EXPECT_EQ(entries[0]["path"], file.string());
}

TEST(PluginFiles, ClassIdsAreUpperCaseHexByteZeroFirst) {
    vst3::Uid id{};
    for (std::uint8_t i = 0; i < 16; ++i) {
        id[i] = i;
    }
    EXPECT_EQ(vstClassIdText(id), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(parseVstClassId("000102030405060708090a0b0c0d0e0f"), id);
    id.fill(0xFF);
    EXPECT_EQ(parseVstClassId(vstClassIdText(id)), id);
}

TEST(PluginFiles, OnlyTheExactLowerCaseTypesAreHostedModules) {
    EXPECT_EQ(createHostedModule({"n", "VST3", {{"path", VELKAPHON_TEST_VST3}}}), nullptr);
    EXPECT_EQ(createHostedModule({"n", "Clap", json::object()}), nullptr);
    EXPECT_EQ(createHostedModule({"n", "fader-bank", json::object()}), nullptr);
    EXPECT_NE(createHostedModule({"n", "vst3", {{"path", VELKAPHON_TEST_VST3}}}), nullptr);
    EXPECT_NE(createHostedModule({"n", "clap", {{"path", VELKAPHON_CLAP_TEST_PLUGIN}}}), nullptr);
    EXPECT_THROW(createHostedModule({"n", "vst3", {{"path", "/no/such.vst3"}}}),
                 std::runtime_error);
}

} // namespace
} // namespace velkaphon::rack
