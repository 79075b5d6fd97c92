#include "hosting/vst3_library.hpp"
#include "hosting/vst3_module_file.hpp"
#include "tests/hosting/vst3_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

namespace velkaphon::rack {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::u16;
using testing::Vst3CallLog;

const std::filesystem::path kBundle = VELKAPHON_TEST_VST3;

std::filesystem::path moduleInside(const std::filesystem::path& bundle) {
#ifdef _WIN32
    return bundle / "Contents" / "x86_64-win" / bundle.filename();
#else
    return bundle / "Contents" / "x86_64-linux" / (bundle.stem().string() + ".so");
#endif
}

std::string loadError(const char* path) {
    try {
        acquireVstLibrary(u16(path));
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(loaded)";
}

// A folder of this test's own, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / ("velkaphon-" + name)) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

TEST(Vst3ModulePath, ABundleResolvesToItsModuleAndAModuleToItself) {
    const auto expected = std::filesystem::weakly_canonical(moduleInside(kBundle));
    ASSERT_TRUE(std::filesystem::is_regular_file(expected));
    EXPECT_EQ(resolveVstModulePath(kBundle), expected);
    EXPECT_EQ(resolveVstModulePath(moduleInside(kBundle)), expected);
}

TEST(Vst3ModulePath, MissingModulesAndTrailingSeparatorsAreRefused) {
    const ScratchFolder scratch("vst3-paths");
    const auto emptyBundle = scratch.path() / "Empty.vst3";
    std::filesystem::create_directories(emptyBundle / "Contents" / "x86_64-win");
    std::filesystem::create_directories(emptyBundle / "Contents" / "x86_64-linux");
    for (const auto& path : {scratch.path() / "Missing.vst3", emptyBundle, kBundle / "",
                             scratch.path() / "Missing.vst3" / "deeper"}) {
        try {
            resolveVstModulePath(path);
            ADD_FAILURE() << path << " resolved";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "VST3 module file does not exist.") << path;
        }
    }
}

TEST(Vst3ModulePath, BundlesKeepTheWindowsLayoutWithTheLinuxModuleBeside) {
#ifdef _WIN32
    EXPECT_EQ(vstBundleModuleFile("C:/Plug-ins/Delay.vst3"),
              std::filesystem::path("C:/Plug-ins/Delay.vst3/Contents/x86_64-win/Delay.vst3"));
#else
    EXPECT_EQ(vstBundleModuleFile("/plug-ins/Delay.vst3"),
              std::filesystem::path("/plug-ins/Delay.vst3/Contents/x86_64-linux/Delay.so"));
#endif
}

TEST(Vst3ModulePath, PathsCompareOrdinallyIgnoringCase) {
    EXPECT_EQ(compareVstModulePaths(u"C:\\Plug-ins\\Delay.vst3", u"c:\\PLUG-INS\\delay.VST3"), 0);
    EXPECT_LT(compareVstModulePaths(u"a.vst3", u"B.vst3"), 0);
    EXPECT_GT(compareVstModulePaths(u"b.vst3", u"A.vst3"), 0);
    EXPECT_LT(compareVstModulePaths(u"Delay", u"delay.vst3"), 0);
    EXPECT_GT(compareVstModulePaths(u"delay.vst3", u"DELAY"), 0);
}

TEST(Vst3Library, LoadsOnceForTwoUsersAndUnloadsAfterTheLast) {
    const Vst3CallLog log;
    auto first = acquireVstLibrary(u16(VELKAPHON_TEST_VST3));
    auto second = acquireVstLibrary(moduleInside(kBundle).u16string());
    ASSERT_EQ(first, second);
    EXPECT_EQ(first->defaultClass, testing::vst3TestClassId(testing::Vst3TestClass::Gain));
    EXPECT_TRUE(first->initDllRan);
    EXPECT_NE(first->exitDll, nullptr);

    const auto probe = reinterpret_cast<testing::Vst3TestProbeFunction>(
        findLibraryExport(first->library, testing::kVst3TestProbeExport));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe()->initDllCalls.load(), 1);
    EXPECT_EQ(probe()->exitDllCalls.load(), 0);

    first.reset();
    EXPECT_THAT(log.lines(), ElementsAre("InitDll", "GetPluginFactory"));
    second.reset();
    EXPECT_THAT(log.lines(), ElementsAre("InitDll", "GetPluginFactory", "factory released",
                                         "ExitDll", "unloaded"));

    // Nobody holds it any more: the next user loads it afresh.
    auto again = acquireVstLibrary(u16(VELKAPHON_TEST_VST3));
    EXPECT_EQ(log.count("InitDll"), 2);
    again.reset();
    EXPECT_EQ(log.count("unloaded"), 2);
}

#ifdef _WIN32
TEST(Vst3Library, PathsThatDifferInLetterCaseShareOneModule) {
    const Vst3CallLog log;
    std::string upper = VELKAPHON_TEST_VST3;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    auto first = acquireVstLibrary(u16(VELKAPHON_TEST_VST3));
    auto second = acquireVstLibrary(u16(upper.c_str()));
    EXPECT_EQ(first, second);
    EXPECT_EQ(log.count("InitDll"), 1);
}
#endif

TEST(Vst3Library, AModuleWithoutInitDllStillGetsExitDll) {
    const Vst3CallLog log;
    auto module = acquireVstLibrary(u16(VELKAPHON_TEST_VST3_NO_INIT));
    EXPECT_TRUE(module->initDllRan);
    module.reset();
    EXPECT_THAT(log.lines(),
                ElementsAre("GetPluginFactory", "factory released", "ExitDll", "unloaded"));
}

#ifndef _WIN32
TEST(Vst3Library, ALinuxModuleIsEnteredWithItsHandleBeforeItsFactoryAndExitedLast) {
    const Vst3CallLog log;
    auto module = acquireVstLibrary(u16(VELKAPHON_TEST_VST3_MODULE_ENTRY));
    EXPECT_EQ(module->defaultClass, testing::vst3TestClassId(testing::Vst3TestClass::Gain));
    module.reset();
    EXPECT_THAT(log.lines(), ElementsAre("ModuleEntry", "GetPluginFactory", "factory released",
                                         "ModuleExit", "unloaded"));
}
#endif

struct LoadFailure {
    const char* name;
    const char* path;
    const char* message;
    std::vector<std::string> calls;
};

class Vst3LibraryFailure : public ::testing::TestWithParam<LoadFailure> {};

TEST_P(Vst3LibraryFailure, RaisesItsMessageAndLeavesNothingLoadedOrCached) {
    const LoadFailure& failure = GetParam();
    const Vst3CallLog log;
    EXPECT_EQ(loadError(failure.path), failure.message);
    EXPECT_EQ(log.lines(), failure.calls);

    // Nothing was kept: a second try goes through the whole load again.
    EXPECT_EQ(loadError(failure.path), failure.message);
    std::vector<std::string> twice = failure.calls;
    twice.insert(twice.end(), failure.calls.begin(), failure.calls.end());
    EXPECT_EQ(log.lines(), twice);
}

const std::vector<std::string> kFailedAfterFactory = {"InitDll", "GetPluginFactory",
                                                      "factory released", "ExitDll", "unloaded"};

INSTANTIATE_TEST_SUITE_P(
    EveryLoadTimeFault, Vst3LibraryFailure,
    ::testing::Values(
        // InitDll said no: ExitDll is not owed.
        LoadFailure{"InitFails",
                    VELKAPHON_TEST_VST3_INIT_FAILS,
                    "VST3 module initialization failed.",
                    {"InitDll", "unloaded"}},
        LoadFailure{"NoFactory",
                    VELKAPHON_TEST_VST3_NO_FACTORY,
                    "VST3 factory is missing.",
                    {"InitDll", "GetPluginFactory", "ExitDll", "unloaded"}},
        LoadFailure{"NoClasses", VELKAPHON_TEST_VST3_NO_CLASSES,
                    "Invalid VST3 factory class count.", kFailedAfterFactory},
        LoadFailure{"TooManyClasses", VELKAPHON_TEST_VST3_TOO_MANY_CLASSES,
                    "Invalid VST3 factory class count.", kFailedAfterFactory},
        LoadFailure{"ControllersOnly", VELKAPHON_TEST_VST3_CONTROLLERS_ONLY,
                    "No VST3 audio-effect class found.", kFailedAfterFactory},
        // An exception from inside the module passes on unchanged, after the same clean-up.
        LoadFailure{"ThrowingFactory", VELKAPHON_TEST_VST3_THROWING_FACTORY,
                    "The test factory failed on purpose.", kFailedAfterFactory}),
    [](const ::testing::TestParamInfo<LoadFailure>& info) { return info.param.name; });

#ifndef _WIN32
// ModuleEntry said no: ModuleExit is not owed.
INSTANTIATE_TEST_SUITE_P(LinuxModuleEntry, Vst3LibraryFailure,
                         ::testing::Values(LoadFailure{"Refuses",
                                                       VELKAPHON_TEST_VST3_MODULE_ENTRY_REFUSES,
                                                       "VST3 module entry failed.",
                                                       {"ModuleEntry", "unloaded"}}),
                         [](const ::testing::TestParamInfo<LoadFailure>& info) {
                             return info.param.name;
                         });
#endif

TEST(Vst3Library, AFileThatIsNoLibraryGivesTheSystemError) {
    const ScratchFolder scratch("vst3-not-a-library");
    const auto file = scratch.path() / "Broken.vst3";
    std::ofstream(file) << "not a library";
    const std::string message = loadError(file.string().c_str());
#ifdef _WIN32
    EXPECT_THAT(message, HasSubstr("Cannot load VST3 module (Windows error "));
    EXPECT_NE(message, "Cannot load VST3 module (Windows error 0).");
#else
    EXPECT_EQ(message, "Cannot load VST3 module (Windows error 126).");
#endif
}

TEST(Vst3Library, AMissingFileIsRefusedBeforeAnythingLoads) {
    const Vst3CallLog log;
    EXPECT_EQ(loadError((kBundle.parent_path() / "Nothing.vst3").string().c_str()),
              "VST3 module file does not exist.");
    EXPECT_TRUE(log.lines().empty());
}

} // namespace
} // namespace velkaphon::rack
