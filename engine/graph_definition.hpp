#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace velkaphon::rack {

inline constexpr std::size_t kMaxGraphNodes = 128;
inline constexpr std::size_t kMaxGraphCables = 4096;
inline constexpr std::size_t kMaxGraphEventCables = 4096;

struct NodeDefinition {
    std::string id;
    std::string type;
    nlohmann::json configuration = nlohmann::json::object();

    bool operator==(const NodeDefinition&) const = default;
};

struct CableDefinition {
    std::string from;
    std::string output;
    std::string to;
    std::string input;

    bool operator==(const CableDefinition&) const = default;
};

struct EventCableDefinition {
    std::string from;
    std::string to;

    bool operator==(const EventCableDefinition&) const = default;
};

// The patch as plain data; only its shape and capacity are checked here, the rest by the compiler.
struct GraphDefinition {
    std::vector<NodeDefinition> nodes;
    std::vector<CableDefinition> cables;
    std::vector<EventCableDefinition> eventCables;

    bool operator==(const GraphDefinition&) const = default;
};

// Reads project-graph JSON. Throws std::invalid_argument for a wrong schema or a graph over
// capacity; errors of the JSON library pass through unchanged.
GraphDefinition readGraphDefinition(const nlohmann::json& document);

nlohmann::json writeGraphDefinition(const GraphDefinition& graph);

} // namespace velkaphon::rack
