#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace velkaphon::rack {
namespace {

using namespace testing;

// The audio thread runs blocks while the UI thread edits, reads and idles; the last edit made
// before the audio thread stops is the one the plug-in ends with.
void editWhileRunning(HostedModule& module, std::uint32_t parameterId, double last) {
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        HostedBlock block({2}, {2}, 64);
        while (!stop.load()) {
            module.process(block.context);
            blocks.fetch_add(1);
        }
    });
    for (int i = 0; i < 500; ++i) {
        module.setControl(parameterId, (i % 10) / 10.0);
        module.idle();
        module.parameters();
    }
    module.setControl(parameterId, last);
    while (blocks.load() < 20) {
        std::this_thread::yield();
    }
    const int seen = blocks.load();
    while (blocks.load() < seen + 2) {
        std::this_thread::yield();
    }
    stop = true;
    audio.join();
    EXPECT_FALSE(module.restartRequested());
}

// Programs also sends its meter back from every block.
TEST(HostedModuleThreads, VstEditsCrossToTheAudioThread) {
    HeldVstPlugin plugin;
    for (auto audioClass : {Vst3TestClass::SeparateController, Vst3TestClass::Programs}) {
        auto module = preparedVstModule(vstConfiguration(audioClass));
        editWhileRunning(*module, 1000, 0.75);
        // The plug-in's own value, as its state reports it, is the last edit.
        auto restored = preparedVstModule(module->status());
        EXPECT_DOUBLE_EQ(restored->parameters()[0].value, 0.75);
    }
}

TEST(HostedModuleThreads, ClapEditsCrossToTheAudioThread) {
    auto module = makeClapModule(clapConfiguration("velkaphon.test.gain"));
    editWhileRunning(*module, 100, 1.5);
    auto restored = makeClapModule(module->status());
    EXPECT_DOUBLE_EQ(restored->parameters()[0].value, 1.5);
}

} // namespace
} // namespace velkaphon::rack
