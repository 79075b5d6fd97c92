#include "hosting/vst3_host.hpp"
#include "hosting/vst3_library.hpp"
#include "tests/hosting/vst3_test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

using namespace vst3;

TEST(Vst3HostThreads, PluginEditsReachTheAudioThreadInOrderAndTheLastOneLands) {
    auto host = std::make_unique<VstHostImpl::Host>();
    HostedParameter parameter;
    parameter.id = 7;
    host->parameters.push_back(parameter);
    host->parameterFlags.push_back(ParameterInfo::kCanAutomate);
    host->parameterSlots = std::vector<ParameterSlot>(1);
    host->parameterValues.reset(1);
    indexVstParameters(*host);

    constexpr int kEdits = 20000;
    std::atomic<bool> done{false};
    std::vector<double> seen;
    seen.reserve(kEdits);
    std::thread audio([&] {
        const auto take = [&] {
            host->parameterValues.takeEdits([&](std::size_t, double value) {
                seen.push_back(value);
                return true;
            });
        };
        while (!done.load(std::memory_order_acquire)) {
            take();
        }
        take();
    });
    std::thread plugin([&] {
        for (int i = 1; i <= kEdits; ++i) {
            host->performEdit(7, static_cast<double>(i) / kEdits);
            host->restartComponent(i % 2 == 0 ? kLatencyChanged : kIoChanged);
        }
    });
    plugin.join();
    done.store(true, std::memory_order_release);
    audio.join();

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 1.0);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        ASSERT_LE(seen[i - 1], seen[i]) << i;
    }
    EXPECT_EQ(host->restartFlags.load(), std::uint32_t(kLatencyChanged | kIoChanged));
    EXPECT_EQ(takeControllerValue(*host, 0), std::nullopt);
}

TEST(Vst3LibraryThreads, UsersOnManyThreadsShareOneLoad) {
    const testing::Vst3CallLog log;
    constexpr int kUsers = 6;
    std::vector<std::shared_ptr<LoadedModule>> modules(kUsers);
    std::vector<std::thread> users;
    for (int i = 0; i < kUsers; ++i) {
        users.emplace_back(
            [&modules, i] { modules[i] = acquireVstLibrary(testing::u16(VELKAPHON_TEST_VST3)); });
    }
    for (std::thread& user : users) {
        user.join();
    }
    for (const auto& module : modules) {
        EXPECT_EQ(module, modules[0]);
    }
    modules.clear();
    EXPECT_EQ(log.count("InitDll"), 1);
    EXPECT_EQ(log.count("ExitDll"), 1);
    EXPECT_EQ(log.count("unloaded"), 1);
}

} // namespace
} // namespace velkaphon::rack
