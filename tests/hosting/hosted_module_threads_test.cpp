#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

namespace velkaphon::rack {
namespace {

// Run once where the next edit has stored its value and not yet published it.
std::function<void()> insideNextEdit;
// Run once by the test plug-ins' next process call, after it took the block's values.
std::function<void()> duringNextProcess;

void runDuringNextProcess() {
    if (duringNextProcess) {
        std::exchange(duringNextProcess, nullptr)();
    }
}

} // namespace

void parameterEditStored() noexcept {
    if (insideNextEdit) {
        std::exchange(insideNextEdit, nullptr)();
    }
}

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

// The plug-in moves the very parameter the rack edits in the block the edit meets, whether the
// edit falls inside the block or the block inside the edit: the edit is newer, so the page shows
// it and the plug-in runs with it next.
TEST(HostedModuleEdits, AnEditMadeWhileABlockRunsWinsOverThePluginsOwnValue) {
    HeldVstPlugin vst;
    HeldClapPlugin clap;
    for (const bool isVst : {true, false}) {
        for (const bool blockInsideEdit : {false, true}) {
            SCOPED_TRACE(std::string(isVst ? "VST3" : "CLAP") +
                         (blockInsideEdit ? ", block inside the edit" : ", edit inside the block"));
            const auto setProbe = [&](double ownValue, void (*during)()) {
                (isVst ? vst.probe().ownValue : clap.probe().ownValue) = ownValue;
                (isVst ? vst.probe().duringProcess : clap.probe().duringProcess) = during;
            };
            // VST3 Gain scales by twice its normalised value, CLAP gain by its value.
            const std::uint32_t id = isVst ? vst3TestParameterId(0) : 100;
            const double own = isVst ? 0.2 : 0.4;
            const double edit = isVst ? 0.9 : 1.5;
            auto module = isVst ? preparedVstModule(vstConfiguration(Vst3TestClass::Gain))
                                : makeClapModule(clapConfiguration("velkaphon.test.gain"));
            HostedBlock block({2}, {2}, 64);
            std::fill(block.input(0, 0).begin(), block.input(0, 0).end(), 0.5f);

            setProbe(own, &runDuringNextProcess);
            module->process(block.context);
            EXPECT_DOUBLE_EQ(module->parameters()[0].value, own);
            if (blockInsideEdit) {
                insideNextEdit = [&] {
                    module->process(block.context);
                };
                module->setControl(id, edit);
            } else {
                duringNextProcess = [&] {
                    module->setControl(id, edit);
                };
                module->process(block.context);
            }
            EXPECT_DOUBLE_EQ(module->parameters()[0].value, edit);

            setProbe(-1.0, nullptr);
            module->process(block.context);
            EXPECT_DOUBLE_EQ(module->parameters()[0].value, edit);
            EXPECT_FLOAT_EQ(block.output(0, 0)[0],
                            static_cast<float>(0.5 * edit * (isVst ? 2 : 1)));
        }
    }
}

} // namespace
} // namespace velkaphon::rack
