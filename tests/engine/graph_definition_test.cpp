#include "engine/graph_definition.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::HasSubstr;

constexpr const char* kUnsupportedSchema = "Unsupported rack project schema";
constexpr const char* kOverCapacity = "Rack graph exceeds documented capacity";

// The message of whatever the read throws, with the library's "[json.exception.…] " prefix cut.
std::string readFailure(const json& document) {
    try {
        readGraphDefinition(document);
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    } catch (const json::exception& error) {
        const std::string text = error.what();
        return text.substr(text.find("] ") + 2);
    }
    return "no error";
}

json emptyGraph() {
    return {{"schema", 1}, {"nodes", json::array()}, {"cables", json::array()}};
}

json nodes(std::size_t count) {
    json list = json::array();
    for (std::size_t i = 0; i < count; ++i) {
        list.push_back({{"id", "n" + std::to_string(i)}, {"type", "summing"}});
    }
    return list;
}

json cables(std::size_t count) {
    json list = json::array();
    for (std::size_t i = 0; i < count; ++i) {
        list.push_back({{"from", "a"}, {"output", "out"}, {"to", "b"}, {"input", "in"}});
    }
    return list;
}

json eventCables(std::size_t count) {
    json list = json::array();
    for (std::size_t i = 0; i < count; ++i) {
        list.push_back({{"from", "a"}, {"to", "b"}});
    }
    return list;
}

const std::string unsupported = std::string("invalid_argument: ") + kUnsupportedSchema;
const std::string overCapacity = std::string("invalid_argument: ") + kOverCapacity;

TEST(GraphDefinitionSchema, NonObjectsAndMissingSchemaAreUnsupported) {
    EXPECT_EQ(readFailure(json::object()), unsupported);
    EXPECT_EQ(readFailure(json::array({1})), unsupported);
    EXPECT_EQ(readFailure(json("graph")), unsupported);
}

TEST(GraphDefinitionSchema, OnlyTheNumberOneIsAccepted) {
    for (const json& schema : {json(1), json(1.0), json(1u)}) {
        json document = emptyGraph();
        document["schema"] = schema;
        EXPECT_NO_THROW(readGraphDefinition(document)) << schema.dump();
    }
    // A boolean, a fraction, a value that wraps to 1 in 32 bits and other numbers are refused.
    for (const json& schema :
         {json(true), json(false), json(1.5), json(1.9), json(0.5), json(2), json(0), json(-1),
          json(4294967297LL), json(18446744073709551615ULL), json(1e300)}) {
        json document = emptyGraph();
        document["schema"] = schema;
        EXPECT_EQ(readFailure(document), unsupported) << schema.dump();
    }
}

TEST(GraphDefinitionSchema, NonNumbersKeepTheLibrarysTypeError) {
    json document = emptyGraph();
    document["schema"] = "1";
    EXPECT_EQ(readFailure(document), "type must be number, but is string");
    document["schema"] = nullptr;
    EXPECT_EQ(readFailure(document), "type must be number, but is null");
    document["schema"] = json::array({1});
    EXPECT_EQ(readFailure(document), "type must be number, but is array");
}

TEST(GraphDefinitionShape, MissingListsNameTheKey) {
    EXPECT_EQ(readFailure({{"schema", 1}}), "key 'nodes' not found");
    EXPECT_EQ(readFailure({{"schema", 1}, {"nodes", json::array()}}), "key 'cables' not found");
}

TEST(GraphDefinitionShape, EmptyGraphHasNoEventCables) {
    const GraphDefinition graph = readGraphDefinition(emptyGraph());
    EXPECT_TRUE(graph.nodes.empty());
    EXPECT_TRUE(graph.cables.empty());
    EXPECT_TRUE(graph.eventCables.empty());
}

TEST(GraphDefinitionShape, ListsThatAreNotArraysExceedCapacity) {
    json document = emptyGraph();
    document["eventCables"] = nullptr;
    EXPECT_EQ(readFailure(document), overCapacity);
    document = emptyGraph();
    document["nodes"] = json::object();
    EXPECT_EQ(readFailure(document), overCapacity);
    document = emptyGraph();
    document["cables"] = "none";
    EXPECT_EQ(readFailure(document), overCapacity);
}

TEST(GraphDefinitionCapacity, LimitsAreInclusive) {
    json document = emptyGraph();
    document["nodes"] = nodes(128);
    document["cables"] = cables(4096);
    document["eventCables"] = eventCables(4096);
    const GraphDefinition graph = readGraphDefinition(document);
    EXPECT_EQ(graph.nodes.size(), 128u);
    EXPECT_EQ(graph.cables.size(), 4096u);
    EXPECT_EQ(graph.eventCables.size(), 4096u);
}

TEST(GraphDefinitionCapacity, OneOverIsRefusedBeforeAnyElementIsRead) {
    // Every list carries a malformed first element: capacity must still be the error.
    const json malformed = json::array({42});
    json document = emptyGraph();
    document["nodes"] = nodes(129);
    document["nodes"][0] = 42;
    EXPECT_EQ(readFailure(document), overCapacity);

    document = emptyGraph();
    document["nodes"] = malformed;
    document["cables"] = cables(4097);
    document["cables"][0] = json::object();
    EXPECT_EQ(readFailure(document), overCapacity);

    document = emptyGraph();
    document["nodes"] = malformed;
    document["eventCables"] = eventCables(4097);
    EXPECT_EQ(readFailure(document), overCapacity);
}

TEST(GraphDefinitionElements, MalformedElementsRaiseTheLibrarysErrors) {
    json document = emptyGraph();
    document["nodes"] = json::array({42});
    EXPECT_THAT(readFailure(document), HasSubstr("cannot use at() with number"));

    document["nodes"] = json::array({{{"id", "a"}}});
    EXPECT_EQ(readFailure(document), "key 'type' not found");

    document["nodes"] = json::array({{{"id", 7}, {"type", "input"}}});
    EXPECT_EQ(readFailure(document), "type must be string, but is number");

    document["nodes"] = json::array();
    document["cables"] = json::array({{{"from", "a"}, {"output", "o"}, {"to", "b"}}});
    EXPECT_EQ(readFailure(document), "key 'input' not found");

    document["cables"] = json::array();
    document["eventCables"] = json::array({{{"from", "a"}}});
    EXPECT_EQ(readFailure(document), "key 'to' not found");
}

TEST(GraphDefinitionElements, ConfigurationIsKeptAsGiven) {
    json document = emptyGraph();
    document["nodes"] = json::array({{{"id", "a"}, {"type", "player"}, {"configuration", nullptr}},
                                     {{"id", "b"}, {"type", "input"}},
                                     {{"id", "c"}, {"type", "vst3"}, {"configuration", {1, 2}}}});
    const GraphDefinition graph = readGraphDefinition(document);
    ASSERT_EQ(graph.nodes.size(), 3u);
    EXPECT_TRUE(graph.nodes[0].configuration.is_null());
    EXPECT_EQ(graph.nodes[1].configuration, json::object());
    EXPECT_EQ(graph.nodes[2].configuration, json::array({1, 2}));
}

TEST(GraphDefinitionElements, ContentsAreLeftToTheCompiler) {
    json document = emptyGraph();
    document["nodes"] = json::array(
        {{{"id", "a"}, {"type", "input"}}, {{"id", "a"}, {"type", "output"}, {"extra", true}}});
    document["cables"] =
        json::array({{{"from", "a"}, {"output", "x"}, {"to", "missing"}, {"input", "y"}}});
    document["unknown"] = "ignored";
    const GraphDefinition graph = readGraphDefinition(document);
    EXPECT_EQ(graph.nodes.size(), 2u);
    EXPECT_EQ(graph.cables[0].to, "missing");
}

GraphDefinition sampleGraph() {
    GraphDefinition graph;
    graph.nodes.push_back({"input", "input", {{"channels", 2}}});
    graph.nodes.push_back(
        {"faders", "fader-bank", {{"gainsDb", {0.0, -6.5}}, {"mutes", {false, true}}}});
    graph.nodes.push_back({"out", "output", json::object()});
    graph.cables.push_back({"input", "out", "faders", "in"});
    graph.cables.push_back({"faders", "out", "out", "in"});
    graph.eventCables.push_back({"input", "faders"});
    return graph;
}

TEST(GraphDefinitionWrite, KeysComeOutInByteOrder) {
    const std::string text = writeGraphDefinition(sampleGraph()).dump();
    EXPECT_EQ(
        text,
        R"({"cables":[{"from":"input","input":"in","output":"out","to":"faders"},)"
        R"({"from":"faders","input":"in","output":"out","to":"out"}],)"
        R"("eventCables":[{"from":"input","to":"faders"}],)"
        R"("nodes":[{"configuration":{"channels":2},"id":"input","type":"input"},)"
        R"({"configuration":{"gainsDb":[0.0,-6.5],"mutes":[false,true]},"id":"faders","type":"fader-bank"},)"
        R"({"configuration":{},"id":"out","type":"output"}],"schema":1})");
}

TEST(GraphDefinitionWrite, EmptyGraphStillWritesEveryList) {
    EXPECT_EQ(writeGraphDefinition(GraphDefinition{}).dump(),
              R"({"cables":[],"eventCables":[],"nodes":[],"schema":1})");
}

TEST(GraphDefinitionWrite, RoundTripGivesAnEqualGraph) {
    const GraphDefinition graph = sampleGraph();
    EXPECT_EQ(readGraphDefinition(writeGraphDefinition(graph)), graph);
    // Also through text, as the project file and the plug-in state carry it.
    const json reparsed = json::parse(writeGraphDefinition(graph).dump(2));
    EXPECT_EQ(readGraphDefinition(reparsed), graph);
}

} // namespace
} // namespace velkaphon::rack
