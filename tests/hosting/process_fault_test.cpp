#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack {
namespace {

using namespace testing;

// How each kind of plug-in is made to fault in process, by a thrown exception or by its own
// error result, and the text the module then keeps.
struct VstKind {
    static constexpr const char* kThrownText = "The test plug-in failed on purpose";
    static constexpr const char* kErrorText = "process returned an error";

    HeldVstPlugin plugin;

    std::unique_ptr<HostedModule> faulting(bool throws) {
        plugin.probe().failAt = Vst3TestStep::Process;
        plugin.probe().throwOnFailure = throws;
        return preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    }
    std::uint32_t processCalls() {
        return static_cast<std::uint32_t>(plugin.probe().processCalls.load());
    }
};

struct ClapKind {
    static constexpr const char* kThrownText = "The CLAP test plug-in failed on purpose";
    static constexpr const char* kErrorText = "process returned CLAP_PROCESS_ERROR";

    HeldClapPlugin plugin;

    std::unique_ptr<HostedModule> faulting(bool throws) {
        return makeClapModule(
            clapConfiguration(throws ? "velkaphon.test.throws" : "velkaphon.test.process-error"));
    }
    std::uint32_t processCalls() { return plugin.probe().processCalls; }
};

template <class Kind>
class ProcessFault : public ::testing::Test {
protected:
    Kind kind;
};

using PluginKinds = ::testing::Types<VstKind, ClapKind>;
TYPED_TEST_SUITE(ProcessFault, PluginKinds);

TYPED_TEST(ProcessFault, AFaultSilencesTheBlockStopsThePluginAndKeepsItsText) {
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "thrown" : "error result");
        auto module = this->kind.faulting(throws);
        EXPECT_FALSE(module->restartRequested());
        EXPECT_EQ(module->processFault(), std::nullopt);
        HostedBlock block({2}, {2}, 16);
        block.input(0, 0).assign(16, 0.5f);
        block.fillOutputs(7.0f);
        module->process(block.context);
        EXPECT_EQ(block.output(0, 0), std::vector<float>(16, 0.0f));
        EXPECT_EQ(block.output(0, 1), std::vector<float>(16, 0.0f));
        EXPECT_TRUE(module->restartRequested());
        EXPECT_EQ(module->processFault(),
                  std::string(throws ? TypeParam::kThrownText : TypeParam::kErrorText));

        const std::uint32_t calls = this->kind.processCalls();
        block.fillOutputs(7.0f);
        module->process(block.context);
        EXPECT_EQ(this->kind.processCalls(), calls);
        EXPECT_EQ(block.output(0, 0), std::vector<float>(16, 0.0f));
    }
}

TYPED_TEST(ProcessFault, TheTextCrossesToTheControlSideWhileAudioRuns) {
    auto module = this->kind.faulting(true);
    std::thread audio([&] {
        HostedBlock block({2}, {2}, 16);
        module->process(block.context);
    });
    std::optional<std::string> text;
    while (!(text = module->processFault())) {
        std::this_thread::yield();
    }
    audio.join();
    EXPECT_EQ(*text, TypeParam::kThrownText);
}

} // namespace
} // namespace velkaphon::rack
