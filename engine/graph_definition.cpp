#include "engine/graph_definition.hpp"

#include "engine/json_number.hpp"

#include <stdexcept>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

constexpr const char* kUnsupportedSchema = "Unsupported rack project schema";
constexpr const char* kOverCapacity = "Rack graph exceeds documented capacity";

// Only the exact number 1 is schema 1: a boolean, 1.5 or a value that wraps to 1 is not.
void requireSchemaOne(const json& document) {
    const auto found = document.find("schema");
    if (found == document.end() || found->is_boolean()) {
        throw std::invalid_argument(kUnsupportedSchema);
    }
    if (jsonInteger(*found, 1, 1) != 1) {
        throw std::invalid_argument(kUnsupportedSchema);
    }
}

bool withinCapacity(const json& list, std::size_t capacity) {
    return list.is_array() && list.size() <= capacity;
}

std::string readText(const json& element, const char* key) {
    return element.at(key).get<std::string>();
}

} // namespace

GraphDefinition readGraphDefinition(const json& document) {
    if (!document.is_object()) {
        throw std::invalid_argument(kUnsupportedSchema);
    }
    requireSchemaOne(document);

    const json& nodes = document.at("nodes");
    const json& cables = document.at("cables");
    const auto eventCablesFound = document.find("eventCables");
    const json eventCables = eventCablesFound != document.end() ? *eventCablesFound : json::array();

    // Capacity is checked before any element is read, so an oversized document costs nothing.
    if (!withinCapacity(nodes, kMaxGraphNodes) || !withinCapacity(cables, kMaxGraphCables) ||
        !withinCapacity(eventCables, kMaxGraphEventCables)) {
        throw std::invalid_argument(kOverCapacity);
    }

    GraphDefinition graph;
    graph.nodes.reserve(nodes.size());
    for (const json& element : nodes) {
        NodeDefinition node;
        node.id = readText(element, "id");
        node.type = readText(element, "type");
        const auto configuration = element.find("configuration");
        if (configuration != element.end()) {
            node.configuration = *configuration;
        }
        graph.nodes.push_back(std::move(node));
    }

    graph.cables.reserve(cables.size());
    for (const json& element : cables) {
        graph.cables.push_back({readText(element, "from"), readText(element, "output"),
                                readText(element, "to"), readText(element, "input")});
    }

    graph.eventCables.reserve(eventCables.size());
    for (const json& element : eventCables) {
        graph.eventCables.push_back({readText(element, "from"), readText(element, "to")});
    }
    return graph;
}

json writeGraphDefinition(const GraphDefinition& graph) {
    json document = {{"schema", 1},
                     {"nodes", json::array()},
                     {"cables", json::array()},
                     {"eventCables", json::array()}};
    json& nodes = document["nodes"];
    for (const NodeDefinition& node : graph.nodes) {
        nodes.push_back(
            {{"id", node.id}, {"type", node.type}, {"configuration", node.configuration}});
    }
    json& cables = document["cables"];
    for (const CableDefinition& cable : graph.cables) {
        cables.push_back({{"from", cable.from},
                          {"output", cable.output},
                          {"to", cable.to},
                          {"input", cable.input}});
    }
    json& eventCables = document["eventCables"];
    for (const EventCableDefinition& cable : graph.eventCables) {
        eventCables.push_back({{"from", cable.from}, {"to", cable.to}});
    }
    return document;
}

} // namespace velkaphon::rack
