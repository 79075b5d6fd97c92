#include "hosting/clap_library.hpp"
#include "hosting/clap_scan.hpp"
#include "tests/hosting/clap_test_plugin_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::ClapCallLog;

const std::string kPlugin = VELKAPHON_CLAP_TEST_PLUGIN;

TEST(ClapScan, ListsEveryDescriptorInOrderSkippingNullOnes) {
    const json entries = scanClapLibrary(kPlugin);
    ASSERT_TRUE(entries.is_array());
    // Thirteen plug-ins and one null slot before the last of them.
    ASSERT_EQ(entries.size(), 14u);
    EXPECT_EQ(entries[0], json({{"name", "Test Gain"},
                                {"pluginId", "velkaphon.test.gain"},
                                {"format", "CLAP"},
                                {"path", kPlugin}}));
    EXPECT_EQ(entries[1]["pluginId"], "velkaphon.test.latency");
    EXPECT_EQ(entries[11]["pluginId"], "velkaphon.test.init-fails");
    EXPECT_EQ(entries[12]["pluginId"], "velkaphon.test.own-presets");
    EXPECT_EQ(entries[13]["pluginId"], "velkaphon.test.bad-text");
}

TEST(ClapScan, ANameThatIsNotUtf8IsRepairedSoTheEntryCanBeWritten) {
    const json entries = scanClapLibrary(kPlugin);
    EXPECT_EQ(entries.back()["name"], "Bad \xEF\xBF\xBD\xEF\xBF\xBD Name \xEF\xBF\xBD");
    EXPECT_NO_THROW(static_cast<void>(entries.dump()));
}

TEST(ClapScan, AnIdThatIsNotUtf8IsRefusedSinceCreationCouldNotBeGivenItBack) {
    try {
        scanClapLibrary(VELKAPHON_CLAP_BAD_ID_PLUGIN);
        FAIL() << "scanned";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "A CLAP plugin in this file has an id that is not UTF-8.");
    }
}

TEST(ClapScan, ThePathIsTheCallersTextUnchanged) {
    const std::string relative =
        std::filesystem::relative(kPlugin, std::filesystem::current_path()).string();
    const json entries = scanClapLibrary(relative);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0]["path"], relative);
}

TEST(ClapScan, TheFileIsUnloadedAfterTheScanUnlessSomeoneHoldsIt) {
    {
        ClapCallLog log;
        scanClapLibrary(kPlugin);
        EXPECT_EQ(log.lines().back(), "unload");
    }
    ClapCallLog log;
    auto held = acquireClapLibrary(kPlugin);
    scanClapLibrary(kPlugin);
    EXPECT_EQ(log.lines().size(), 3u); // load, init, factory: nothing more
}

TEST(ClapScan, FactorySizeBoundaries) {
    EXPECT_EQ(scanClapLibrary(VELKAPHON_CLAP_EMPTY_FACTORY_PLUGIN), json::array());
    EXPECT_EQ(scanClapLibrary(VELKAPHON_CLAP_4096_PLUGINS_PLUGIN).size(), 4096u);

    ClapCallLog log;
    try {
        scanClapLibrary(VELKAPHON_CLAP_4097_PLUGINS_PLUGIN);
        ADD_FAILURE() << "a factory of 4097 plug-ins was scanned";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "CLAP factory too large.");
    }
    EXPECT_THAT(log.lines(), ::testing::ElementsAre(::testing::_, ::testing::_, ::testing::_,
                                                    "deinit", "unload"));
}

} // namespace
} // namespace velkaphon::rack
