#include "engine/builtin.hpp"
#include "engine/graph_compiler.hpp"
#include "engine/media_module.hpp"
#include "tests/engine/test_module.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::cable;
using testing::node;
using testing::port;
using testing::TestModuleFactory;
using testing::TestModuleSetup;

constexpr const char* kBudget = "Prepared graph exceeds 256 MiB memory budget";
constexpr const char* kCycle = "Feedback cycles require an explicit delayed-feedback "
                               "implementation; cycles are rejected";

std::string failure(const GraphDefinition& definition, TestModuleFactory& modules,
                    const ProcessSpec& spec = {}) {
    try {
        compileGraph(definition, spec, modules.factory());
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "no error";
}

TestModuleSetup through(std::uint32_t channels, std::uint32_t latency = 0) {
    TestModuleSetup setup;
    setup.inputs = {port("in", channels)};
    setup.outputs = {port("out", channels)};
    setup.latencyAnswers = {latency};
    return setup;
}

TestModuleSetup source(std::uint32_t channels, std::uint32_t latency = 0) {
    TestModuleSetup setup;
    setup.outputs = {port("out", channels)};
    setup.latencyAnswers = {latency};
    return setup;
}

TestModuleSetup sink(std::uint32_t channels) {
    TestModuleSetup setup;
    setup.inputs = {port("in", channels)};
    return setup;
}

const PreparedNode& findNode(const PreparedGraph& graph, const std::string& id) {
    for (const PreparedNode& prepared : graph.state().nodes) {
        if (prepared.id == id) {
            return prepared;
        }
    }
    throw std::out_of_range(id);
}

std::vector<std::string> order(const PreparedGraph& graph) {
    std::vector<std::string> ids;
    for (const PreparedNode& prepared : graph.state().nodes) {
        ids.push_back(prepared.id);
    }
    return ids;
}

TEST(GraphCompilerLimits, SampleRateAndBlockSizeBoundsAreInclusive) {
    TestModuleFactory modules;
    for (const ProcessSpec spec : {ProcessSpec{8000.0, 1}, ProcessSpec{384000.0, 4096}}) {
        EXPECT_EQ(failure({}, modules, spec), "no error") << spec.sampleRate;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const ProcessSpec spec :
         {ProcessSpec{7999.9, 512}, ProcessSpec{384000.1, 512}, ProcessSpec{nan, 512},
          ProcessSpec{infinity, 512}, ProcessSpec{48000.0, 0}, ProcessSpec{48000.0, 4097}}) {
        EXPECT_EQ(failure({}, modules, spec), "Invalid sample rate or maximum block size")
            << spec.sampleRate << " " << spec.maxBlockSize;
    }
}

TEST(GraphCompilerLimits, CountsAreRefusedBeforeAnyModuleIsMade) {
    TestModuleFactory modules;
    GraphDefinition tooMany;
    tooMany.nodes.assign(129, node("unknown"));
    EXPECT_EQ(failure(tooMany, modules, {7000.0, 512}),
              "Invalid sample rate or maximum block size");
    EXPECT_EQ(failure(tooMany, modules), "Rack graph exceeds documented capacity");

    GraphDefinition cables;
    cables.cables.assign(4097, cable("a", "out", "b", "in"));
    EXPECT_EQ(failure(cables, modules), "Rack graph exceeds documented capacity");
    cables.cables.resize(4096);
    EXPECT_EQ(failure(cables, modules), "Cable references missing node: a");

    GraphDefinition events;
    events.eventCables.assign(4097, {"a", "b"});
    EXPECT_EQ(failure(events, modules), "Rack graph exceeds documented capacity");
    EXPECT_EQ(modules.created(), 0);
}

TEST(GraphCompilerNodes, EmptyDefinitionCompilesWithoutNodesOrLatency) {
    TestModuleFactory modules;
    const auto graph = compileGraph({}, {44100.0, 256}, modules.factory());
    EXPECT_TRUE(graph->state().nodes.empty());
    EXPECT_EQ(graphLatency(*graph), 0u);
    EXPECT_EQ(graph->state().hostInputBuffer, nullptr);
    EXPECT_EQ(graph->state().spec.sampleRate, 44100.0);
    EXPECT_EQ(graph->state().spec.maxBlockSize, 256u);
}

TEST(GraphCompilerNodes, NullConfigurationBecomesAnObjectAndOthersAreRefused) {
    TestModuleFactory modules;
    modules.add("a", source(1));
    GraphDefinition definition{{node("a", "test", json())}, {}, {}};
    const auto graph = compileGraph(definition, {}, modules.factory());
    EXPECT_EQ(graph->state().definition.nodes[0].configuration, json::object());

    for (const json& configuration : {json(3), json::array(), json("x"), json(true)}) {
        definition.nodes[0].configuration = configuration;
        EXPECT_EQ(failure(definition, modules), "Invalid or duplicate stable node ID")
            << configuration.dump();
    }
}

TEST(GraphCompilerNodes, IdsAreOneToOneHundredTwentyEightBytesUniqueAndWithoutNul) {
    TestModuleFactory modules;
    const std::string longest(128, 'n');
    modules.add(longest, source(1));
    modules.add("a", source(1));
    EXPECT_EQ(failure({{node(longest)}, {}, {}}, modules), "no error");

    for (const std::string& id : {std::string(129, 'n'), std::string(), std::string("a\0b", 3)}) {
        EXPECT_EQ(failure({{node(id)}, {}, {}}, modules), "Invalid or duplicate stable node ID")
            << id.size();
    }
    EXPECT_EQ(failure({{node("a"), node("a")}, {}, {}}, modules),
              "Invalid or duplicate stable node ID");
    // The first "a" was made before the second was refused, and is gone again.
    EXPECT_EQ(modules.log().alive.load(), 0);
    EXPECT_EQ(modules.log().destroyed.back(), "a");
}

TEST(GraphCompilerNodes, FactoryAndPrepareFailuresPassThroughUnchanged) {
    TestModuleFactory modules;
    modules.add("a", source(1));
    TestModuleSetup failing = source(1);
    failing.prepareError = "Plugin would not load.";
    modules.add("b", failing);
    EXPECT_EQ(failure({{node("a"), node("x", "vst9")}, {}, {}}, modules), "Unknown module: vst9");

    try {
        compileGraph({{node("a"), node("b")}, {}, {}}, {}, modules.factory());
        FAIL() << "prepare's exception was swallowed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Plugin would not load.");
    }
    EXPECT_EQ(modules.record("b").prepares, 1);

    const ModuleFactory throwing = [](const NodeDefinition&) -> std::unique_ptr<Module> {
        throw std::logic_error("factory broke");
    };
    EXPECT_THROW(compileGraph({{node("a")}, {}, {}}, {}, throwing), std::logic_error);
    EXPECT_THROW(compileGraph({{node("a")}, {}, {}}, {}, ModuleFactory()), std::bad_function_call);
    EXPECT_EQ(modules.log().alive.load(), 0);
}

TEST(GraphCompilerPorts, ListsAndPortsAreValidatedInputsFirst) {
    TestModuleFactory modules;
    TestModuleSetup many;
    for (int p = 0; p < 128; ++p) {
        many.inputs.push_back(port("in" + std::to_string(p), 1));
    }
    modules.add("many", many);
    EXPECT_EQ(failure({{node("many")}, {}, {}}, modules), "no error");

    many.inputs.push_back(port("in128", 1));
    modules.add("tooMany", many);
    EXPECT_EQ(failure({{node("tooMany")}, {}, {}}, modules), "Module has too many ports");

    // A bad input port is found before an output list that is too long.
    TestModuleSetup badInput;
    badInput.inputs = {port("in", 0)};
    badInput.outputs = many.inputs;
    modules.add("badInput", badInput);
    EXPECT_EQ(failure({{node("badInput")}, {}, {}}, modules), "Invalid or duplicate module port");

    const std::vector<std::vector<PortSpec>> badLists = {
        {port("", 1)},
        {port(std::string(129, 'p'), 1)},
        {port("a", 1), port("a", 2)},
        {port("a", 65)},
        {port("a", 0)},
    };
    for (std::size_t i = 0; i < badLists.size(); ++i) {
        TestModuleSetup setup;
        setup.outputs = badLists[i];
        const std::string id = "bad" + std::to_string(i);
        modules.add(id, setup);
        EXPECT_EQ(failure({{node(id)}, {}, {}}, modules), "Invalid or duplicate module port") << i;
    }

    TestModuleSetup fine;
    fine.inputs = {port(std::string(128, 'p'), 64)};
    fine.outputs = {port(std::string(128, 'p'), 1)};
    modules.add("fine", fine);
    EXPECT_EQ(failure({{node("fine")}, {}, {}}, modules), "no error");
}

TEST(GraphCompilerPorts, ChannelCapacityIsRefusedAtTheFirstPortPastTheLimit) {
    TestModuleFactory modules;
    GraphDefinition definition;
    for (int i = 0; i < 128; ++i) {
        const std::string id = "n" + std::to_string(i);
        modules.add(id, through(64));
        definition.nodes.push_back(node(id));
    }
    EXPECT_EQ(failure(definition, modules, {48000.0, 1}), "Graph channel capacity exceeded");
    // 64 modules make exactly 8192 channels; the 65th one's input port passes them.
    EXPECT_EQ(modules.created(), 65);

    definition.nodes.resize(64);
    EXPECT_EQ(failure(definition, modules, {48000.0, 1}), "no error");
}

TEST(GraphCompilerCables, ErrorsComeInTheirOrder) {
    TestModuleFactory modules;
    modules.add("a", source(2));
    modules.add("b", sink(2));
    modules.add("m", sink(1));
    const auto compile = [&](std::vector<CableDefinition> cables) {
        return failure({{node("a"), node("b"), node("m")}, std::move(cables), {}}, modules);
    };
    EXPECT_EQ(compile({cable("x", "out", "y", "in")}), "Cable references missing node: x");
    EXPECT_EQ(compile({cable("a", "out", "y", "in")}), "Cable references missing node: y");
    EXPECT_EQ(compile({cable("a", "left", "b", "right")}), "Cable references missing port: left");
    EXPECT_EQ(compile({cable("a", "out", "b", "right")}), "Cable references missing port: right");
    // Ids compare byte for byte.
    EXPECT_EQ(compile({cable("a", "Out", "b", "in")}), "Cable references missing port: Out");
    EXPECT_EQ(compile({cable("a", "out", "m", "in")}),
              "Cable channel widths differ; use a Breakout/Matrix module");

    modules.add("c", source(1));
    modules.add("d", source(2));
    const GraphDefinition twoIntoOne{{node("a"), node("b"), node("c"), node("d")},
                                     {cable("a", "out", "b", "in"), cable("c", "out", "b", "in")},
                                     {}};
    EXPECT_EQ(failure(twoIntoOne, modules),
              "Cable channel widths differ; use a Breakout/Matrix module");
    GraphDefinition matching = twoIntoOne;
    matching.cables[1].from = "d";
    EXPECT_EQ(failure(matching, modules),
              "Multiple sources on one port; use an explicit Summing module");
}

TEST(GraphCompilerCables, EventCablesAreLookedUpAndMayNotRepeat) {
    TestModuleFactory modules;
    modules.add("a", source(1));
    modules.add("b", sink(1));
    const auto compile = [&](std::vector<EventCableDefinition> cables) {
        return failure({{node("a"), node("b")}, {}, std::move(cables)}, modules);
    };
    EXPECT_EQ(compile({{"x", "y"}}), "Cable references missing node: x");
    EXPECT_EQ(compile({{"a", "y"}}), "Cable references missing node: y");
    EXPECT_EQ(compile({{"a", "b"}, {"a", "b"}}), "Duplicate event cable");
    EXPECT_EQ(compile({{"a", "b"}, {"b", "a"}}), kCycle);
}

TEST(GraphCompilerCables, ASelfCableIsACycle) {
    TestModuleFactory modules;
    modules.add("loop", through(2));
    EXPECT_EQ(failure({{node("loop")}, {cable("loop", "out", "loop", "in")}, {}}, modules), kCycle);
    EXPECT_EQ(failure({{node("loop")}, {}, {{"loop", "loop"}}}, modules), kCycle);
}

TEST(GraphCompilerCables, OutputModulesMayNotShareHostChannels) {
    TestModuleFactory modules;
    modules.add("left", sink(2));
    modules.add("right", sink(2));
    const auto compile = [&](const json& first, const json& second) {
        return failure({{node("left", "output", first), node("right", "output", second)}, {}, {}},
                       modules);
    };
    EXPECT_EQ(compile({{"offset", 0}}, {{"offset", 1}}),
              "Output modules overlap host channels; use explicit Summing");
    EXPECT_EQ(compile({{"offset", 0}}, {{"offset", 2}}), "no error");
    EXPECT_EQ(compile({{"offset", 3}, {"channels", 1}}, {{"offset", 2}}),
              "Output modules overlap host channels; use explicit Summing");
    EXPECT_EQ(compile(json::object(), json::object()),
              "Output modules overlap host channels; use explicit Summing");
}

TEST(GraphCompilerOrder, UnconnectedNodesKeepDefinitionOrder) {
    TestModuleFactory modules;
    modules.add("P", through(1));
    modules.add("Q", through(1));
    modules.add("R", through(1));
    const GraphDefinition loose{{node("P"), node("Q"), node("R")}, {}, {}};
    EXPECT_EQ(order(*compileGraph(loose, {}, modules.factory())),
              (std::vector<std::string>{"P", "Q", "R"}));

    GraphDefinition linked = loose;
    linked.cables = {cable("R", "out", "P", "in")};
    const auto graph = compileGraph(linked, {}, modules.factory());
    EXPECT_EQ(order(*graph), (std::vector<std::string>{"Q", "R", "P"}));
    EXPECT_EQ(findNode(*graph, "P").definitionIndex, 0u);
    EXPECT_EQ(findNode(*graph, "R").definitionIndex, 2u);
    // Sources are named by processing position once the order is known.
    EXPECT_EQ(findNode(*graph, "P").audioConnections[0].sourceNode, 1u);
}

TEST(GraphCompilerOrder, ModulesAreDestroyedInProcessingOrder) {
    TestModuleFactory modules;
    modules.add("P", through(1));
    modules.add("Q", through(1));
    modules.add("R", through(1));
    auto graph = compileGraph(
        {{node("P"), node("Q"), node("R")}, {cable("R", "out", "P", "in")}, {{"P", "Q"}}}, {},
        modules.factory());
    EXPECT_EQ(order(*graph), (std::vector<std::string>{"R", "P", "Q"}));
    graph.reset();
    EXPECT_EQ(modules.log().destroyed, (std::vector<std::string>{"R", "P", "Q"}));
}

TEST(GraphCompilerLatency, ShorterParallelPathsAreDelayedOnTheirCables) {
    TestModuleFactory modules;
    TestModuleSetup p = source(1);
    p.outputs = {port("a", 1), port("b", 1)};
    modules.add("P", p);
    modules.add("R", through(1, 64));
    TestModuleSetup q;
    q.inputs = {port("fromP", 1), port("fromR", 1)};
    q.latencyAnswers = {5};
    modules.add("Q", q);
    const auto graph = compileGraph({{node("P"), node("Q"), node("R")},
                                     {cable("P", "a", "Q", "fromP"), cable("P", "b", "R", "in"),
                                      cable("R", "out", "Q", "fromR")},
                                     {}},
                                    {}, modules.factory());
    const PreparedNode& qNode = findNode(*graph, "Q");
    ASSERT_EQ(qNode.audioConnections.size(), 2u);
    EXPECT_EQ(qNode.audioConnections[0].delay, 64u);
    EXPECT_EQ(qNode.audioConnections[0].delayLine.size(), 64u);
    EXPECT_EQ(qNode.audioConnections[1].delay, 0u);
    EXPECT_TRUE(qNode.audioConnections[1].delayLine.empty());
    EXPECT_EQ(qNode.pathLatency, 69u);
    EXPECT_EQ(findNode(*graph, "R").pathLatency, 64u);
    // Without an output module the graph itself has no latency.
    EXPECT_EQ(graphLatency(*graph), 0u);
}

TEST(GraphCompilerLatency, OutputModulesAreAlignedToTheGraphLatency) {
    TestModuleFactory modules;
    modules.add("fast", source(2, 10));
    modules.add("slow", source(2, 30));
    modules.add("out1", sink(2));
    modules.add("out2", sink(2));
    const auto graph =
        compileGraph({{node("fast"), node("slow"), node("out1", "output"),
                       node("out2", "output", {{"offset", 2}})},
                      {cable("fast", "out", "out1", "in"), cable("slow", "out", "out2", "in")},
                      {{"fast", "out1"}, {"slow", "out2"}}},
                     {}, modules.factory());
    EXPECT_EQ(graphLatency(*graph), 30u);
    const PreparedNode& first = findNode(*graph, "out1");
    const PreparedNode& second = findNode(*graph, "out2");
    EXPECT_EQ(first.pathLatency, 30u);
    EXPECT_EQ(second.pathLatency, 30u);
    EXPECT_EQ(first.audioConnections[0].delay, 20u);
    EXPECT_EQ(first.audioConnections[0].delayLine.size(), 40u);
    EXPECT_EQ(first.eventConnections[0].delay, 20u);
    EXPECT_EQ(second.audioConnections[0].delay, 0u);
    EXPECT_EQ(second.eventConnections[0].delay, 0u);
}

TEST(GraphCompilerLatency, EventSourcesNeverRaiseTheAlignmentPoint) {
    TestModuleFactory modules;
    modules.add("late", source(1, 100));
    modules.add("early", source(1, 0));
    modules.add("slow", source(1, 50));
    modules.add("d", sink(1));
    modules.add("e", sink(1));
    const auto graph =
        compileGraph({{node("late"), node("early"), node("slow"), node("d"), node("e")},
                      {cable("early", "out", "d", "in"), cable("slow", "out", "e", "in")},
                      {{"late", "d"}, {"early", "e"}}},
                     {}, modules.factory());
    EXPECT_EQ(findNode(*graph, "d").eventConnections[0].delay, 0u);
    EXPECT_EQ(findNode(*graph, "d").pathLatency, 0u);
    EXPECT_EQ(findNode(*graph, "e").eventConnections[0].delay, 50u);
}

TEST(GraphCompilerLatency, ModuleAndPathLatencyLimits) {
    TestModuleFactory modules;
    modules.add("max", source(1, 1048576));
    modules.add("over", source(1, 1048577));
    modules.add("one", through(1, 1));
    modules.add("zero", through(1, 0));
    EXPECT_EQ(
        failure({{node("max"), node("zero")}, {cable("max", "out", "zero", "in")}, {}}, modules),
        "no error");
    EXPECT_EQ(failure({{node("over")}, {}, {}}, modules), "Module latency exceeds capacity");
    EXPECT_EQ(
        failure({{node("max"), node("one")}, {cable("max", "out", "one", "in")}, {}}, modules),
        "Graph path latency exceeds capacity");
}

TEST(GraphCompilerLatency, TheLatencyThatWasCheckedIsTheOneUsed) {
    TestModuleFactory modules;
    TestModuleSetup changing = source(1);
    changing.latencyAnswers = {10, std::numeric_limits<std::uint32_t>::max()};
    modules.add("changing", changing);
    modules.add("out", sink(1));
    const auto graph = compileGraph(
        {{node("changing"), node("out", "output")}, {cable("changing", "out", "out", "in")}, {}},
        {}, modules.factory());
    EXPECT_EQ(findNode(*graph, "changing").pathLatency, 10u);
    EXPECT_EQ(graphLatency(*graph), 10u);
}

// Four 64-channel port buffers of one frame take 1024 bytes; the 64-channel delay line of the
// short path takes 256 bytes a frame of delay.
GraphDefinition delayedPair(TestModuleFactory& modules, std::uint32_t longLatency) {
    modules.add("long", source(64, longLatency));
    modules.add("short", source(64));
    TestModuleSetup join;
    join.inputs = {port("a", 64), port("b", 64)};
    modules.add("join", join);
    return {{node("long"), node("short"), node("join")},
            {cable("long", "out", "join", "a"), cable("short", "out", "join", "b")},
            {}};
}

TEST(GraphCompilerBudget, AChargeThatExactlyFillsTheBudgetIsAllowed) {
    TestModuleFactory modules;
    const GraphDefinition exact = delayedPair(modules, 1048572);
    const auto graph = compileGraph(exact, {48000.0, 1}, modules.factory());
    EXPECT_EQ(findNode(*graph, "join").audioConnections[1].delayLine.size(), 64u * 1048572u);
}

TEST(GraphCompilerBudget, OneFrameMoreOfDelayIsRefused) {
    TestModuleFactory modules;
    EXPECT_EQ(failure(delayedPair(modules, 1048573), modules, {48000.0, 1}), kBudget);
    EXPECT_EQ(modules.log().alive.load(), 0);
}

TEST(GraphCompilerBudget, AFullLengthDelayLineDoesNotFitBesideThePortBuffers) {
    TestModuleFactory modules;
    EXPECT_EQ(failure(delayedPair(modules, 1048576), modules, {48000.0, 1}), kBudget);
}

// Two one-channel port buffers of 4096 frames take 32768 bytes; the host input copy 16384 bytes a
// channel, so a width of 16382 fills the rest exactly, unless an event cable took 10256 of it.
TEST(GraphCompilerBudget, EventCablesAreChargedBeforeTheHostInputCopy) {
    TestModuleFactory modules;
    modules.add("in", source(1));
    modules.add("sink", sink(1));
    GraphDefinition definition{
        {node("in", "input", {{"channels", 1}, {"offset", 16381}}), node("sink")}, {}, {}};
    const auto graph = compileGraph(definition, {48000.0, 4096}, modules.factory());
    EXPECT_EQ(graph->state().hostInputBuffer->samples.size(), 16382u * 4096u);

    definition.eventCables = {{"in", "sink"}};
    EXPECT_EQ(failure(definition, modules, {48000.0, 4096}), kBudget);
}

std::unique_ptr<Module> mediaOrBuiltin(const NodeDefinition& node) {
    if (auto media = createMediaModule(node)) {
        return media;
    }
    return createBuiltin(node);
}

// Recorders' rings count against the budget, and a patch that is refused, for the budget or for
// channel capacity, is refused before any ring or port buffer is allocated.
TEST(GraphCompilerBudget, RecorderRingsAreChargedAndNothingBigIsAllocatedBeforeARefusal) {
    struct Case {
        const char* type;
        int count;
        json configuration;
        std::uint32_t maxBlock;
        const char* expected;
    };
    // 63 rings of 4 MiB and their small ports fit in 256 MiB; 64 do not. 65 summing nodes of 128
    // channels pass 8192 channels with 1 MiB port buffers, well inside the budget.
    const Case cases[] = {
        {"recorder", 63, {{"channels", 1}}, 64, "no error"},
        {"recorder", 64, {{"channels", 1}}, 64, kBudget},
        {"recorder", 127, {{"channels", 64}}, 4096, kBudget},
        {"summing", 65, {{"channels", 64}, {"inputs", 1}}, 4096, "Graph channel capacity exceeded"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.type) + " x" + std::to_string(test.count));
        GraphDefinition definition;
        for (int n = 0; n < test.count; ++n) {
            definition.nodes.push_back(node("n" + std::to_string(n), test.type, test.configuration));
        }
        std::string message = "no error";
        testing::AllocationCounter counter;
        try {
            compileGraph(definition, {48000.0, test.maxBlock}, mediaOrBuiltin);
        } catch (const std::invalid_argument& error) {
            message = error.what();
        }
        EXPECT_EQ(message, test.expected);
        if (message != "no error") {
            EXPECT_LT(counter.largestAllocation(), std::size_t{256} * 1024);
        }
    }
}

TEST(GraphCompilerHostInput, WidthCoversEveryInputModule) {
    TestModuleFactory modules;
    modules.add("in1", source(2));
    modules.add("in2", source(4));
    const auto graph = compileGraph({{node("in1", "input", {{"channels", 2}, {"offset", 3}}),
                                      node("in2", "input", {{"channels", 4}})},
                                     {},
                                     {}},
                                    {48000.0, 32}, modules.factory());
    ASSERT_NE(graph->state().hostInputBuffer, nullptr);
    EXPECT_EQ(graph->state().hostInputChannels.size(), 5u);
    EXPECT_EQ(graph->state().hostInputBuffer->samples.size(), 5u * 32u);
    EXPECT_EQ(graph->state().hostInputChannels[1],
              graph->state().hostInputBuffer->samples.data() + 32);
}

TEST(GraphCompilerHostInput, HostChannelSumsDoNotWrap) {
    TestModuleFactory modules;
    modules.add("in", source(2));
    // In 32 bits 2 + 4294967295 would wrap to a one-channel buffer.
    EXPECT_EQ(failure({{node("in", "input", {{"offset", 4294967295u}})}, {}, {}}, modules),
              kBudget);
    EXPECT_EQ(failure({{node("in", "input", {{"offset", -1}})}, {}, {}}, modules),
              "Host channel offset exceeds capacity");
    EXPECT_EQ(failure({{node("in", "input", {{"channels", 4294967296u}})}, {}, {}}, modules),
              "channels is outside supported capacity");
}

} // namespace
} // namespace velkaphon::rack
