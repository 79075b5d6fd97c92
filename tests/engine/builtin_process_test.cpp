#include "engine/builtin.hpp"
#include "tests/engine/builtin_test_block.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::ChannelSet;
using testing::hostChannels;
using testing::ModuleBlock;

constexpr std::uint32_t kFrames = 8;

std::unique_ptr<Builtin> make(const std::string& type, const json& configuration = json::object()) {
    auto module = createBuiltin(NodeDefinition{"node", type, configuration});
    module->prepare(ProcessSpec{48000.0, 512});
    return module;
}

// A distinct ramp per channel, so a sample that lands on the wrong channel shows.
void fillRamp(std::vector<float>& channel, float base) {
    for (std::size_t frame = 0; frame < channel.size(); ++frame) {
        channel[frame] = base + static_cast<float>(frame);
    }
}

// Channel c of the bus ramps from 10 x c.
void rampEveryChannel(ChannelSet& set, std::size_t bus, std::size_t channels) {
    for (std::size_t channel = 0; channel < channels; ++channel) {
        fillRamp(set.channel(bus, channel), 10.0F * static_cast<float>(channel));
    }
}

std::vector<float> ramp(float base) {
    std::vector<float> channel(kFrames);
    fillRamp(channel, base);
    return channel;
}

const std::vector<float> kSilence(kFrames, 0.0F);

TEST(BuiltinProcess, InputCopiesHostChannelsFromItsOffset) {
    auto input = make("input", {{"channels", 3}, {"offset", 2}});
    ModuleBlock block(*input, kFrames);
    auto host = hostChannels(4, kFrames);
    for (std::size_t channel = 0; channel < 4; ++channel) {
        fillRamp(host.channel(0, channel), 100.0F * static_cast<float>(channel));
    }
    block.context.hostInput = host.hostBus();
    block.run(*input);
    EXPECT_EQ(block.outputs.channel(0, 0), ramp(200.0F));
    EXPECT_EQ(block.outputs.channel(0, 1), ramp(300.0F));
    EXPECT_EQ(block.outputs.channel(0, 2), kSilence) << "host channel 4 does not exist";
}

TEST(BuiltinProcess, InputLeavesMissingHostBuffersSilent) {
    auto input = make("input");
    ModuleBlock block(*input, kFrames);
    auto host = hostChannels(2, kFrames);
    host.fill(0, 0, 0.5F);
    host.fill(0, 1, 0.25F);
    host.removeHostChannel(0);
    block.context.hostInput = host.hostBus();
    block.run(*input);
    EXPECT_EQ(block.outputs.channel(0, 0), kSilence);
    EXPECT_EQ(block.outputs.channel(0, 1), std::vector<float>(kFrames, 0.25F));

    block.context.hostInput = BusSpan{};
    block.run(*input);
    EXPECT_EQ(block.outputs.channel(0, 1), kSilence);
}

TEST(BuiltinProcess, OutputOverwritesHostChannelsAtItsOffset) {
    auto output = make("output", {{"offset", 1}});
    ModuleBlock block(*output, kFrames);
    fillRamp(block.inputs.channel(0, 0), 10.0F);
    fillRamp(block.inputs.channel(0, 1), 20.0F);
    auto host = hostChannels(4, kFrames);
    for (std::size_t channel = 0; channel < 4; ++channel) {
        host.fill(0, channel, 7.0F);
    }
    block.context.hostOutput = host.hostBus();
    block.run(*output);
    EXPECT_EQ(host.channel(0, 0), std::vector<float>(kFrames, 7.0F));
    EXPECT_EQ(host.channel(0, 1), ramp(10.0F));
    EXPECT_EQ(host.channel(0, 2), ramp(20.0F));
    EXPECT_EQ(host.channel(0, 3), std::vector<float>(kFrames, 7.0F));
}

TEST(BuiltinProcess, OutputPastTheHostBusWritesOnlyWhatExists) {
    auto output = make("output", {{"channels", 4}, {"offset", 4096}});
    ModuleBlock block(*output, kFrames);
    for (std::size_t channel = 0; channel < 4; ++channel) {
        fillRamp(block.inputs.channel(0, channel), 10.0F * static_cast<float>(channel + 1));
    }
    auto host = hostChannels(4098, kFrames);
    host.removeHostChannel(4097);
    block.context.hostOutput = host.hostBus();
    block.run(*output);
    EXPECT_EQ(host.channel(0, 4095), kSilence);
    EXPECT_EQ(host.channel(0, 4096), ramp(10.0F));
    EXPECT_EQ(host.channel(0, 4097), kSilence) << "no buffer behind a null pointer";

    auto narrow = hostChannels(2, kFrames);
    block.context.hostOutput = narrow.hostBus();
    block.run(*output);
    EXPECT_EQ(narrow.channel(0, 0), kSilence);
    EXPECT_EQ(narrow.channel(0, 1), kSilence);
}

TEST(BuiltinProcess, SummingAccumulatesInDoublePrecision) {
    auto summing = make("summing", {{"channels", 2}, {"inputs", 3}});
    ModuleBlock block(*summing, kFrames);
    // In float, 1 + 2^-30 rounds back to 1 and the tiny term is lost.
    const float tiny = std::ldexp(1.0F, -30);
    block.inputs.fill(0, 0, 1.0F);
    block.inputs.fill(1, 0, tiny);
    block.inputs.fill(2, 0, -1.0F);
    block.inputs.fill(0, 1, 16777216.0F);
    block.inputs.fill(1, 1, 1.0F);
    block.inputs.fill(2, 1, 1.0F);
    block.run(*summing);
    EXPECT_EQ(block.outputs.channel(0, 0), std::vector<float>(kFrames, tiny));
    EXPECT_EQ(block.outputs.channel(0, 1), std::vector<float>(kFrames, 16777218.0F));
}

TEST(BuiltinProcess, SummingAddsEveryInputPerChannelAcrossLongBlocks) {
    auto summing = make("summing", {{"channels", 2}, {"inputs", 64}});
    constexpr std::uint32_t frames = 600;
    ModuleBlock block(*summing, frames);
    for (std::size_t input = 0; input < 64; ++input) {
        fillRamp(block.inputs.channel(input, 0), static_cast<float>(input));
        block.inputs.fill(input, 1, -0.5F);
    }
    block.run(*summing);
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        ASSERT_EQ(block.outputs.channel(0, 0)[frame], 2016.0F + 64.0F * frame) << frame;
        ASSERT_EQ(block.outputs.channel(0, 1)[frame], -32.0F) << frame;
    }
}

TEST(BuiltinProcess, DistributorCopiesTheInputToEveryOutput) {
    auto distributor = make("distributor", {{"channels", 2}, {"outputs", 3}});
    ModuleBlock block(*distributor, kFrames);
    fillRamp(block.inputs.channel(0, 0), 1.0F);
    fillRamp(block.inputs.channel(0, 1), 50.0F);
    block.run(*distributor);
    for (std::size_t output = 0; output < 3; ++output) {
        EXPECT_EQ(block.outputs.channel(output, 0), ramp(1.0F));
        EXPECT_EQ(block.outputs.channel(output, 1), ramp(50.0F));
    }
}

TEST(BuiltinProcess, BreakoutGivesEachChannelItsOwnPort) {
    auto breakout = make("breakout", {{"channels", 3}});
    ModuleBlock block(*breakout, kFrames);
    rampEveryChannel(block.inputs, 0, 3);
    block.run(*breakout);
    EXPECT_EQ(block.outputs.channel(0, 0), ramp(0.0F));
    EXPECT_EQ(block.outputs.channel(1, 0), ramp(10.0F));
    EXPECT_EQ(block.outputs.channel(2, 0), ramp(20.0F));
}

TEST(BuiltinProcess, MatrixIsTheIdentityByDefaultWithUnmappedOutputsSilent) {
    auto matrix = make("matrix", {{"inputChannels", 2}, {"outputChannels", 4}});
    ModuleBlock block(*matrix, kFrames);
    fillRamp(block.inputs.channel(0, 0), 1.0F);
    fillRamp(block.inputs.channel(0, 1), 2.0F);
    block.run(*matrix);
    EXPECT_EQ(block.outputs.channel(0, 0), ramp(1.0F));
    EXPECT_EQ(block.outputs.channel(0, 1), ramp(2.0F));
    EXPECT_EQ(block.outputs.channel(0, 2), kSilence);
    EXPECT_EQ(block.outputs.channel(0, 3), kSilence);

    auto narrowing = make("matrix", {{"inputChannels", 3}, {"outputChannels", 2}});
    ModuleBlock narrow(*narrowing, kFrames);
    rampEveryChannel(narrow.inputs, 0, 3);
    narrowing->process(narrow.context);
    EXPECT_EQ(narrow.outputs.channel(0, 0), ramp(0.0F));
    EXPECT_EQ(narrow.outputs.channel(0, 1), ramp(10.0F));
}

TEST(BuiltinProcess, MatrixFollowsItsMapping) {
    auto matrix = make(
        "matrix",
        {{"inputChannels", 3}, {"outputChannels", 4}, {"mapping", {2, -1, 0, 2}}, {"channels", 1}});
    ModuleBlock block(*matrix, kFrames);
    rampEveryChannel(block.inputs, 0, 3);
    block.run(*matrix);
    EXPECT_EQ(block.outputs.channel(0, 0), ramp(20.0F));
    EXPECT_EQ(block.outputs.channel(0, 1), kSilence);
    EXPECT_EQ(block.outputs.channel(0, 2), ramp(0.0F));
    EXPECT_EQ(block.outputs.channel(0, 3), ramp(20.0F));
}

TEST(BuiltinProcess, LevelIsThePeakOfOutputsOrOfAnOutputModulesInputs) {
    auto distributor = make("distributor", {{"outputs", 2}});
    ModuleBlock block(*distributor, kFrames);
    block.inputs.channel(0, 1)[3] = -0.75F;
    block.inputs.channel(0, 0)[5] = 0.5F;
    block.run(*distributor);
    EXPECT_EQ(distributor->level(), 0.75F);

    block.inputs.zero();
    block.inputs.channel(0, 0)[2] = std::numeric_limits<float>::quiet_NaN();
    block.inputs.channel(0, 0)[4] = 0.125F;
    block.run(*distributor);
    EXPECT_EQ(distributor->level(), 0.125F) << "a NaN sample leaves the peak alone";

    auto output = make("output");
    ModuleBlock outputBlock(*output, kFrames);
    outputBlock.inputs.channel(0, 0)[0] = -0.25F;
    outputBlock.run(*output);
    EXPECT_EQ(output->level(), 0.25F) << "no host bus, yet the input is metered";

    auto input = make("input");
    ModuleBlock inputBlock(*input, kFrames);
    inputBlock.run(*input);
    EXPECT_EQ(input->level(), 0.0F);
}

// Events pass through every built-in module unchanged and in order.
TEST(BuiltinProcess, EventsPassThroughEveryKind) {
    const RackEvent events[] = {
        {RackEventKind::NoteOn, 1, 0x91, 60, 100},
        {RackEventKind::Start, 1, 0, 0, 0},
        {RackEventKind::Midi, 7, 0xB0, 7, 127},
    };
    for (const char* type :
         {"input", "output", "summing", "distributor", "breakout", "matrix", "faders"}) {
        SCOPED_TRACE(type);
        auto module = make(type);
        ModuleBlock block(*module, kFrames);
        EventList outputEvents;
        block.context.events = events;
        block.context.eventCount = 3;
        block.context.outputEvents = &outputEvents;
        block.run(*module);
        ASSERT_EQ(outputEvents.count, 3u);
        for (std::size_t index = 0; index < 3; ++index) {
            EXPECT_EQ(outputEvents.events[index], events[index]);
        }
        block.context.outputEvents = nullptr;
        block.run(*module);
    }
}

TEST(BuiltinProcess, EventsThatDoNotFitAreCounted) {
    auto matrix = make("matrix");
    ModuleBlock block(*matrix, kFrames);
    EventList outputEvents;
    for (std::uint32_t index = 0; index < EventList::kCapacity - 1; ++index) {
        outputEvents.push(RackEvent{});
    }
    const RackEvent events[] = {{RackEventKind::NoteOff, 2, 0x80, 1, 2},
                                {RackEventKind::NoteOff, 3, 0x80, 3, 4}};
    block.context.events = events;
    block.context.eventCount = 2;
    block.context.outputEvents = &outputEvents;
    block.run(*matrix);
    EXPECT_EQ(outputEvents.count, EventList::kCapacity);
    EXPECT_EQ(outputEvents.dropped, 1u);
    EXPECT_EQ(outputEvents.events.back(), events[0]);
}

TEST(BuiltinProcess, NoKindAllocatesWhileProcessing) {
    const std::pair<const char*, json> modules[] = {
        {"input", {{"channels", 4}}},    {"output", {{"channels", 4}}},
        {"summing", {{"inputs", 64}}},   {"distributor", {{"outputs", 8}}},
        {"breakout", {{"channels", 8}}}, {"matrix", {{"mapping", {1, 0}}}},
        {"faders", {{"strips", 64}}},
    };
    for (const auto& [type, configuration] : modules) {
        SCOPED_TRACE(type);
        auto module = make(type, configuration);
        ModuleBlock block(*module, 512);
        auto hostIn = hostChannels(4, 512);
        auto hostOut = hostChannels(4, 512);
        block.context.hostInput = hostIn.hostBus();
        block.context.hostOutput = hostOut.hostBus();
        const RackEvent event{RackEventKind::NoteOn, 0, 0x90, 60, 1};
        EventList outputEvents;
        block.context.events = &event;
        block.context.eventCount = 1;
        block.context.outputEvents = &outputEvents;

        testing::AllocationCounter counter;
        module->setControl(0, -12.0);
        module->setControl(3, 1.0);
        module->process(block.context);
        module->process(block.context);
        static_cast<void>(module->level());
        EXPECT_EQ(counter.allocations(), 0u);
    }
}

} // namespace
} // namespace velkaphon::rack
