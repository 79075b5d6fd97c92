#include "engine/builtin.hpp"
#include "tests/engine/builtin_test_block.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::ModuleBlock;

// 5 ms at 48 kHz.
constexpr double kTimeConstantFrames = 240.0;

std::unique_ptr<Builtin> faders(const json& configuration, double sampleRate = 48000.0) {
    auto module = createBuiltin(NodeDefinition{"faders", "fader-bank", configuration});
    module->prepare(ProcessSpec{sampleRate, 4096});
    return module;
}

float decibels(double gainDb) {
    return static_cast<float>(std::pow(10.0, gainDb / 20.0));
}

// Runs blocks with a constant 1.0 on strip 0's first channel and collects what comes out.
std::vector<float> unitResponse(Builtin& module, ModuleBlock& block, std::uint32_t blocks) {
    std::vector<float> response;
    block.inputs.fill(0, 0, 1.0F);
    for (std::uint32_t index = 0; index < blocks; ++index) {
        block.run(module);
        const auto& channel = block.outputs.channel(0, 0);
        response.insert(response.end(), channel.begin(), channel.end());
    }
    return response;
}

TEST(BuiltinFaderBank, StartsAtItsGainWithoutARamp) {
    auto module = faders({{"strips", 3},
                          {"channels", {1, 2, 1}},
                          {"gainsDb", {-6, 12}},
                          {"mutes", {false, false, true}}});
    ModuleBlock block(*module, 16);
    block.inputs.fill(0, 0, 0.3F);
    block.inputs.fill(1, 0, 0.5F);
    block.inputs.fill(1, 1, -0.25F);
    block.inputs.fill(2, 0, 1.0F);
    block.run(*module);
    // The product is formed in double and rounded once.
    const auto expected = [](float sample, double gainDb) {
        return static_cast<float>(static_cast<double>(sample) * std::pow(10.0, gainDb / 20.0));
    };
    EXPECT_EQ(block.outputs.channel(0, 0), std::vector<float>(16, expected(0.3F, -6.0)));
    EXPECT_EQ(block.outputs.channel(1, 0), std::vector<float>(16, expected(0.5F, 12.0)));
    EXPECT_EQ(block.outputs.channel(1, 1), std::vector<float>(16, expected(-0.25F, 12.0)));
    EXPECT_EQ(block.outputs.channel(2, 0), std::vector<float>(16, 0.0F));
}

TEST(BuiltinFaderBank, MuteDecaysWithAFiveMillisecondTimeConstantToExactZero) {
    auto module = faders({{"channels", {1}}});
    ModuleBlock block(*module, 480);
    module->setControl(1, 1.0);
    const auto response = unitResponse(*module, block, 30);

    // Frame n holds the gain after n + 1 steps of the one-pole smoother.
    for (const std::size_t frame : {0u, 239u, 479u, 2399u}) {
        const double expected = std::exp(-static_cast<double>(frame + 1) / kTimeConstantFrames);
        EXPECT_NEAR(response[frame] / expected, 1.0, 1e-6) << frame;
    }
    for (std::size_t frame = 1; frame < response.size(); ++frame) {
        ASSERT_LE(response[frame], response[frame - 1]) << frame;
    }

    const auto firstZero = std::find(response.begin(), response.end(), 0.0F);
    ASSERT_NE(firstZero, response.end()) << "the smoothed gain must reach exact silence";
    ASSERT_NE(firstZero, response.begin());
    // The last gain kept is at the flush threshold, within one smoothing step of it.
    const double threshold = static_cast<double>(1e-20F);
    const double oneStep = std::exp(-1.0 / kTimeConstantFrames);
    EXPECT_GE(*(firstZero - 1), 1e-20F);
    EXPECT_LE(*(firstZero - 1), static_cast<float>(threshold / oneStep));
    EXPECT_TRUE(std::all_of(firstZero, response.end(), [](float gain) { return gain == 0.0F; }));
    EXPECT_EQ(module->status()["peaks"], json({0.0}));
    EXPECT_EQ(module->level(), 0.0F);
}

TEST(BuiltinFaderBank, UnmuteRisesBackFromSilence) {
    auto module = faders({{"channels", {1}}, {"mutes", {true}}});
    ModuleBlock block(*module, 240);
    EXPECT_EQ(unitResponse(*module, block, 1), std::vector<float>(240, 0.0F));
    module->setControl(1, 0.0);
    const auto response = unitResponse(*module, block, 40);
    EXPECT_NEAR(response[239], 1.0 - std::exp(-1.0), 1e-6);
    EXPECT_NEAR(response.back(), 1.0F, 1e-7);
}

TEST(BuiltinFaderBank, GainChangesAreSmoothedAndPrepareKeepsTheRamp) {
    auto module = faders({{"channels", {1}}}, 96000.0);
    ModuleBlock block(*module, 480);
    module->setControl(0, -80.0);
    const auto first = unitResponse(*module, block, 1);
    // Twice the rate, twice the frames for the same 5 ms.
    const double floor = std::pow(10.0, -4.0);
    EXPECT_NEAR(first[479], floor + (1.0 - floor) * std::exp(-1.0), 1e-6);

    module->prepare(ProcessSpec{96000.0, 4096});
    const auto second = unitResponse(*module, block, 1);
    EXPECT_LT(second[0], first[479]) << "prepare must not reset the smoothed gain";
    EXPECT_GT(second[0], 0.3F);

    const auto settled = unitResponse(*module, block, 100);
    EXPECT_NEAR(settled.back(), floor, 1e-9) << "-80 dB is quiet, not silent";
}

TEST(BuiltinFaderBank, ControlIndicesAddressGainAndMutePerStrip) {
    auto module = faders({{"strips", 3}});
    module->setControl(5, 1.0);
    module->setControl(4, 20.0);
    module->setControl(0, -100.0);
    module->setControl(3, 0.49);
    EXPECT_EQ(module->status()["gainsDb"], json({-80.0, 0.0, 12.0}));
    EXPECT_EQ(module->status()["mutes"], json({false, false, true}));

    module->setControl(3, 0.5);
    module->setControl(5, -1.0);
    module->setControl(2, 5.25);
    EXPECT_EQ(module->status()["gainsDb"], json({-80.0, 5.25, 12.0}));
    EXPECT_EQ(module->status()["mutes"], json({false, true, false}));
}

TEST(BuiltinFaderBank, ControlsOutsideTheBankOrNotFiniteAreIgnored) {
    auto module = faders({{"strips", 3}, {"gainsDb", {-3, -6, -9}}});
    const json before = module->status();
    module->setControl(6, 1.0);
    module->setControl(7, 1.0);
    module->setControl(std::numeric_limits<std::uint32_t>::max(), 1.0);
    module->setControl(0, std::numeric_limits<double>::quiet_NaN());
    module->setControl(1, std::numeric_limits<double>::infinity());
    module->setControl(2, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(module->status(), before);
}

TEST(BuiltinFaderBank, OtherKindsHaveNoControls) {
    for (const char* type : {"input", "output", "summing", "distributor", "breakout", "matrix"}) {
        SCOPED_TRACE(type);
        auto module = createBuiltin(NodeDefinition{"node", type, json::object()});
        module->prepare(ProcessSpec{});
        const json before = module->status();
        module->setControl(0, -20.0);
        module->setControl(1, 1.0);
        EXPECT_EQ(module->status(), before);
    }
    auto matrix = createBuiltin(NodeDefinition{"node", "matrix", json::object()});
    matrix->setControl(0, -80.0);
    ModuleBlock block(*matrix, 4);
    block.inputs.fill(0, 0, 0.5F);
    block.run(*matrix);
    EXPECT_EQ(block.outputs.channel(0, 0), std::vector<float>(4, 0.5F));
}

TEST(BuiltinFaderBank, PeaksArePerStripAndLevelIsTheLargest) {
    auto module = faders({{"strips", 2}, {"gainsDb", {0, -6}}});
    ModuleBlock block(*module, 32);
    block.inputs.channel(0, 1)[7] = -0.5F;
    block.inputs.channel(0, 0)[9] = 0.25F;
    block.inputs.channel(1, 0)[3] = 1.0F;
    block.run(*module);
    EXPECT_EQ(module->status()["peaks"], json({0.5F, decibels(-6.0)}));
    EXPECT_EQ(module->level(), decibels(-6.0));

    block.inputs.zero();
    block.run(*module);
    EXPECT_EQ(module->status()["peaks"], json({0.0, 0.0})) << "peaks belong to the last block";
}

// Gains and mutes arrive from the control queue on the audio thread and from the page on the
// control thread at once, while the control thread also reads peaks and levels.
TEST(BuiltinFaderBankThreads, ControlsAndStatusCrossThreadsWhileBlocksRun) {
    auto module = faders({{"strips", 2}, {"channels", {1, 1}}});
    std::atomic<bool> running{true};
    std::atomic<std::uint32_t> blocks{0};
    std::thread audio([&] {
        ModuleBlock block(*module, 64);
        block.inputs.fill(0, 0, 1.0F);
        block.inputs.fill(1, 0, 1.0F);
        while (running.load() || blocks.load() < 100) {
            module->setControl(1, blocks.load() % 2 == 0 ? 1.0 : 0.0);
            block.run(*module);
            blocks.fetch_add(1);
        }
        module->setControl(1, 0.0);
    });
    std::thread page([&] {
        for (int step = 0; step <= 2000; ++step) {
            module->setControl(2, -static_cast<double>(step % 81));
        }
        module->setControl(2, -20.0);
    });
    bool readingsValid = true;
    for (int reading = 0; reading < 200; ++reading) {
        const json status = module->status();
        const float peak = status["peaks"][1].get<float>();
        const double gain = status["gainsDb"][1].get<double>();
        readingsValid = readingsValid && peak >= 0.0F && peak <= 1.0F && gain >= -80.0 &&
                        gain <= 0.0 && module->level() <= 1.0F;
    }
    page.join();
    running.store(false);
    audio.join();
    EXPECT_TRUE(readingsValid);
    EXPECT_EQ(module->status()["gainsDb"], json({0.0, -20.0}));
    EXPECT_EQ(module->status()["mutes"], json({false, false}));
}

} // namespace
} // namespace velkaphon::rack
