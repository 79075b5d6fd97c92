#include "hosting/clap_library.hpp"
#include "tests/hosting/clap_test_plugin_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

using testing::ClapCallLog;
using ::testing::ElementsAre;

const std::string kPlugin = VELKAPHON_CLAP_TEST_PLUGIN;

// What the plug-in's init is given for a path: the absolute form of what the file was loaded by.
std::string initLine(const std::string& path) {
    return "init " + std::filesystem::absolute(std::filesystem::path(path)).string();
}

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

TEST(ClapLibrary, LoadsInitialisesWithTheAbsolutePathAndFreesInOrder) {
    ClapCallLog log;
    // A relative path: init must still name the file absolutely, as it was loaded.
    const std::string relative =
        std::filesystem::relative(kPlugin, std::filesystem::current_path()).string();
    ASSERT_TRUE(std::filesystem::path(relative).is_relative());

    auto library = acquireClapLibrary(relative);
    ASSERT_NE(library->module, nullptr);
    EXPECT_NE(library->factory, nullptr);
    EXPECT_EQ(library->entry->clap_version.major, 1u);
    EXPECT_TRUE(library->initialised);
    EXPECT_THAT(log.lines(),
                ElementsAre("load", initLine(relative), "factory clap.plugin-factory"));
    EXPECT_TRUE(std::filesystem::path(log.lines()[1].substr(5)).is_absolute());

    library.reset();
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(relative), "factory clap.plugin-factory",
                                         "deinit", "unload"));
}

TEST(ClapLibrary, TwoUsersShareOneLibraryThatGoesWithTheSecond) {
    ClapCallLog log;
    auto first = acquireClapLibrary(kPlugin);
    auto second = acquireClapLibrary(kPlugin);
    EXPECT_EQ(first, second);
    EXPECT_EQ(testing::clapTestProbe(*first).initCalls, 1u);
    EXPECT_EQ(testing::clapTestProbe(*first).deinitCalls, 0u);

    first.reset();
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(kPlugin), "factory clap.plugin-factory"));
    second.reset();
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(kPlugin), "factory clap.plugin-factory",
                                         "deinit", "unload"));
}

TEST(ClapLibrary, APathWithDotPartsNamesTheSameCacheEntry) {
    ClapCallLog log;
    const std::filesystem::path plugin(kPlugin);
    const std::string roundabout =
        (plugin.parent_path() / "." / ".." / plugin.parent_path().filename() / plugin.filename())
            .string();
    auto direct = acquireClapLibrary(kPlugin);
    auto indirect = acquireClapLibrary(roundabout);
    EXPECT_EQ(direct, indirect);
    EXPECT_EQ(testing::clapTestProbe(*direct).initCalls, 1u);
}

TEST(ClapLibrary, AFileLetGoIsLoadedAfreshOnTheNextAcquire) {
    ClapCallLog log;
    acquireClapLibrary(kPlugin).reset();
    auto again = acquireClapLibrary(kPlugin);
    EXPECT_THAT(log.lines(),
                ElementsAre("load", initLine(kPlugin), "factory clap.plugin-factory", "deinit",
                            "unload", "load", initLine(kPlugin), "factory clap.plugin-factory"));
    EXPECT_EQ(testing::clapTestProbe(*again).initCalls, 1u);
}

TEST(ClapLibrary, AMissingFileGivesTheSystemErrorCode) {
    const auto missing = std::filesystem::path(kPlugin).parent_path() / "no-such-plugin.clap";
    EXPECT_EQ(failureOf([&] { acquireClapLibrary(missing.string()); }),
              "Cannot load CLAP module; Windows error 126");
}

TEST(ClapLibrary, AnEntryThatIsMissingOrOfVersionZeroIsRefusedAndUnloaded) {
    for (const std::string path :
         {VELKAPHON_CLAP_NO_ENTRY_PLUGIN, VELKAPHON_CLAP_VERSION_ZERO_PLUGIN}) {
        ClapCallLog log;
        EXPECT_EQ(failureOf([&] { acquireClapLibrary(path); }), "Incompatible CLAP entry.");
        EXPECT_THAT(log.lines(), ElementsAre("load", "unload")) << path;
    }
}

TEST(ClapLibrary, AFailedInitIsNotDeinitialisedAndIsTriedAgainNextTime) {
    ClapCallLog log;
    const std::string path = VELKAPHON_CLAP_INIT_FAILS_PLUGIN;
    EXPECT_EQ(failureOf([&] { acquireClapLibrary(path); }), "CLAP initialization failed.");
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(path), "unload"));
    EXPECT_EQ(failureOf([&] { acquireClapLibrary(path); }), "CLAP initialization failed.");
    EXPECT_THAT(log.lines(),
                ElementsAre("load", initLine(path), "unload", "load", initLine(path), "unload"));
}

TEST(ClapLibrary, AMissingFactoryIsDeinitialisedBeforeTheUnload) {
    ClapCallLog log;
    const std::string path = VELKAPHON_CLAP_NO_FACTORY_PLUGIN;
    EXPECT_EQ(failureOf([&] { acquireClapLibrary(path); }), "CLAP plugin factory missing.");
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(path), "factory clap.plugin-factory",
                                         "deinit", "unload"));
}

TEST(ClapLibrary, APathThatIsNotUtf8IsRefusedBeforeAnythingLoads) {
    ClapCallLog log;
    EXPECT_EQ(failureOf([] { acquireClapLibrary("plugins/\xC0\xAF.clap"); }),
              "Invalid UTF-8 path.");
    EXPECT_EQ(failureOf([] { loadClapLibrary(std::string(kPlugin) + '\xFF'); }),
              "Invalid UTF-8 path.");
    EXPECT_TRUE(log.lines().empty());
}

TEST(ClapLibrary, LoadingDirectlyBypassesTheCache) {
    ClapCallLog log;
    auto cached = acquireClapLibrary(kPlugin);
    auto own = loadClapLibrary(kPlugin);
    EXPECT_NE(own.get(), cached.get());
    // One image in the process, initialised by each owner.
    EXPECT_EQ(own->module, cached->module);
    EXPECT_EQ(testing::clapTestProbe(*own).initCalls, 2u);
    own.reset();
    EXPECT_EQ(testing::clapTestProbe(*cached).deinitCalls, 1u);
}

TEST(ClapLibrary, DestroyingTwiceDoesNothingTheSecondTime) {
    ClapCallLog log;
    auto library = loadClapLibrary(kPlugin);
    destroyClapLibrary(*library);
    EXPECT_EQ(library->module, nullptr);
    EXPECT_FALSE(library->initialised);
    library.reset();
    EXPECT_THAT(log.lines(), ElementsAre("load", initLine(kPlugin), "factory clap.plugin-factory",
                                         "deinit", "unload"));
}

TEST(ClapLibraryThreads, ConcurrentUsersShareOneLoad) {
    ClapCallLog log;
    std::vector<std::shared_ptr<ClapLibrary>> libraries(8);
    std::vector<std::thread> threads;
    for (auto& library : libraries) {
        threads.emplace_back([&library] { library = acquireClapLibrary(kPlugin); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& library : libraries) {
        EXPECT_EQ(library, libraries[0]);
    }
    EXPECT_EQ(testing::clapTestProbe(*libraries[0]).initCalls, 1u);
}

// A user letting go on one thread while another acquires: the file's deinit must always come
// before its next init, never after it.
TEST(ClapLibraryThreads, InitAndDeinitAlternateWhenUsersComeAndGo) {
    ClapCallLog log;
    const auto comeAndGo = [] {
        for (int i = 0; i < 40; ++i) {
            acquireClapLibrary(kPlugin).reset();
        }
    };
    std::thread first(comeAndGo);
    std::thread second(comeAndGo);
    first.join();
    second.join();

    std::vector<std::string> calls;
    for (const std::string& line : log.lines()) {
        if (line.starts_with("init ") || line == "deinit") {
            calls.push_back(line == "deinit" ? "deinit" : "init");
        }
    }
    ASSERT_FALSE(calls.empty());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i], i % 2 == 0 ? "init" : "deinit") << "call " << i;
    }
    EXPECT_EQ(calls.size() % 2, 0u);
}

} // namespace
} // namespace velkaphon::rack
