#include "engine/graph_compiler.hpp"

#include "engine/graph_limits.hpp"
#include "engine/json_number.hpp"
#include "engine/run_list.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

constexpr const char* kInvalidSpec = "Invalid sample rate or maximum block size";
constexpr const char* kOverCapacity = "Rack graph exceeds documented capacity";
constexpr const char* kBadNodeId = "Invalid or duplicate stable node ID";
constexpr const char* kUnknownModule = "Unknown module: ";
constexpr const char* kTooManyPorts = "Module has too many ports";
constexpr const char* kBadPort = "Invalid or duplicate module port";
constexpr const char* kChannelCapacity = "Graph channel capacity exceeded";
constexpr const char* kModuleLatency = "Module latency exceeds capacity";
constexpr const char* kMissingNode = "Cable references missing node: ";
constexpr const char* kMissingPort = "Cable references missing port: ";
constexpr const char* kWidthsDiffer = "Cable channel widths differ; use a Breakout/Matrix module";
constexpr const char* kMultipleSources =
    "Multiple sources on one port; use an explicit Summing module";
constexpr const char* kDuplicateEventCable = "Duplicate event cable";
constexpr const char* kOverBudget = "Prepared graph exceeds 256 MiB memory budget";
constexpr const char* kOutputsOverlap =
    "Output modules overlap host channels; use explicit Summing";
constexpr const char* kCycle = "Feedback cycles require an explicit delayed-feedback "
                               "implementation; cycles are rejected";
constexpr const char* kPathLatency = "Graph path latency exceeds capacity";
// A host input or output module's own texts, for a configuration its module did not refuse.
constexpr const char* kChannelsOutOfRange = "channels is outside supported capacity";
constexpr const char* kOffsetOutOfRange = "Host channel offset exceeds capacity";

constexpr std::uint64_t kSampleBytes = sizeof(float);

// Every byte the audio thread will use, counted in 64 bits so that no charge can wrap.
class MemoryBudget {
public:
    void charge(std::uint64_t bytes) {
        if (bytes > kGraphMemoryBudget - used_) {
            throw std::invalid_argument(kOverBudget);
        }
        used_ += bytes;
    }

private:
    std::uint64_t used_ = 0;
};

// The host channels that an "input" or "output" node covers, from its configuration.
struct HostChannelRange {
    std::uint64_t offset = 0;
    std::uint64_t channels = 0;
};

std::uint64_t configuredCount(const json& configuration, const char* key, std::int64_t fallback,
                              const char* outOfRange) {
    const auto found = configuration.find(key);
    if (found == configuration.end()) {
        return static_cast<std::uint64_t>(fallback);
    }
    const auto value = jsonInteger(*found, 0, std::numeric_limits<std::uint32_t>::max());
    if (!value) {
        throw std::invalid_argument(outOfRange);
    }
    return static_cast<std::uint64_t>(*value);
}

HostChannelRange hostChannels(const json& configuration) {
    return {configuredCount(configuration, "offset", 0, kOffsetOutOfRange),
            configuredCount(configuration, "channels", 2, kChannelsOutOfRange)};
}

bool validNodeId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxNodeIdBytes && id.find('\0') == std::string::npos;
}

class GraphCompiler {
public:
    GraphCompiler(const GraphDefinition& definition, const ProcessSpec& spec,
                  const ModuleFactory& factory)
        : state_(std::make_unique<PreparedGraphState>()), factory_(factory) {
        state_->definition = definition;
        state_->spec = spec;
        for (NodeDefinition& node : state_->definition.nodes) {
            if (node.configuration.is_null()) {
                node.configuration = json::object();
            }
        }
    }

    std::unique_ptr<PreparedGraph> compile() {
        for (std::uint32_t i = 0; i < definition().nodes.size(); ++i) {
            addNode(i);
        }
        successors_.resize(built_.size());
        inDegree_.assign(built_.size(), 0);
        for (const CableDefinition& cable : definition().cables) {
            addCable(cable);
        }
        for (const EventCableDefinition& cable : definition().eventCables) {
            addEventCable(cable);
        }
        checkOutputOverlap();
        placeInProcessingOrder();
        computeLatency();
        alignOutputs();
        chargeHostInput();
        // Every check has passed: only now does the graph take its memory.
        allocate();
        buildRunList(*state_);
        return std::make_unique<PreparedGraph>(std::move(state_));
    }

private:
    const GraphDefinition& definition() const { return state_->definition; }
    std::uint32_t maxBlock() const { return state_->spec.maxBlockSize; }

    void addNode(std::uint32_t index) {
        const NodeDefinition& node = definition().nodes[index];
        if (!validNodeId(node.id) || !node.configuration.is_object() ||
            !indexById_.emplace(node.id, index).second) {
            throw std::invalid_argument(kBadNodeId);
        }
        PreparedNode prepared;
        prepared.id = node.id;
        prepared.definitionIndex = index;
        prepared.module = factory_(node);
        if (!prepared.module) {
            throw std::invalid_argument(kUnknownModule + node.type);
        }
        prepared.module->prepare(state_->spec);
        prepared.inputPorts = prepared.module->inputs();
        prepared.outputPorts = prepared.module->outputs();
        validatePorts(prepared.inputPorts);
        validatePorts(prepared.outputPorts);
        budget_.charge(prepared.module->storageBytes());
        // The one answer that was checked is the one used: a module must not change it later.
        const std::uint32_t latency = prepared.module->latencySamples();
        if (latency > kMaxLatencyFrames) {
            throw std::invalid_argument(kModuleLatency);
        }
        moduleLatency_.push_back(latency);
        built_.push_back(std::move(prepared));
        if (node.type == "input") {
            const HostChannelRange range = hostChannels(node.configuration);
            hostInputWidth_ = std::max(hostInputWidth_, range.offset + range.channels);
        }
    }

    void validatePorts(const std::vector<PortSpec>& ports) {
        if (ports.size() > kMaxPortsPerList) {
            throw std::invalid_argument(kTooManyPorts);
        }
        for (std::size_t p = 0; p < ports.size(); ++p) {
            const PortSpec& port = ports[p];
            const bool repeated =
                std::any_of(ports.begin(), ports.begin() + static_cast<std::ptrdiff_t>(p),
                            [&](const PortSpec& earlier) { return earlier.id == port.id; });
            if (port.id.empty() || port.id.size() > kMaxPortIdBytes || repeated ||
                port.channels < 1 || port.channels > kMaxPortChannels) {
                throw std::invalid_argument(kBadPort);
            }
            channelsInAll_ += port.channels;
            if (channelsInAll_ > kMaxGraphChannels) {
                throw std::invalid_argument(kChannelCapacity);
            }
            budget_.charge(std::uint64_t{maxBlock()} * port.channels * kSampleBytes);
        }
    }

    void makeBuses(const std::vector<PortSpec>& ports, std::vector<AudioBuffer>& buffers,
                   std::vector<PortBusSpan>& buses) const {
        buffers.reserve(ports.size());
        buses.reserve(ports.size());
        for (const PortSpec& port : ports) {
            buffers.emplace_back(port.channels, maxBlock());
            buses.push_back({buffers.back().channelPointers.data(), port.channels});
        }
    }

    std::uint32_t nodeIndex(const std::string& id) const {
        const auto found = indexById_.find(id);
        if (found == indexById_.end()) {
            throw std::invalid_argument(kMissingNode + id);
        }
        return found->second;
    }

    static std::uint32_t portIndex(const std::vector<PortSpec>& ports, const std::string& id) {
        for (std::uint32_t p = 0; p < ports.size(); ++p) {
            if (ports[p].id == id) {
                return p;
            }
        }
        throw std::invalid_argument(kMissingPort + id);
    }

    void link(std::uint32_t source, std::uint32_t destination) {
        successors_[source].push_back(destination);
        ++inDegree_[destination];
    }

    void addCable(const CableDefinition& cable) {
        const std::uint32_t source = nodeIndex(cable.from);
        const std::uint32_t destination = nodeIndex(cable.to);
        const std::uint32_t sourcePort = portIndex(built_[source].outputPorts, cable.output);
        PreparedNode& target = built_[destination];
        const std::uint32_t destinationPort = portIndex(target.inputPorts, cable.input);
        if (built_[source].outputPorts[sourcePort].channels !=
            target.inputPorts[destinationPort].channels) {
            throw std::invalid_argument(kWidthsDiffer);
        }
        const bool taken =
            std::any_of(target.audioConnections.begin(), target.audioConnections.end(),
                        [&](const AudioConnection& existing) {
                            return existing.destinationPort == destinationPort;
                        });
        if (taken) {
            throw std::invalid_argument(kMultipleSources);
        }
        AudioConnection connection;
        connection.sourceNode = source;
        connection.sourcePort = sourcePort;
        connection.destinationPort = destinationPort;
        target.audioConnections.push_back(std::move(connection));
        link(source, destination);
    }

    void addEventCable(const EventCableDefinition& cable) {
        const std::uint32_t source = nodeIndex(cable.from);
        const std::uint32_t destination = nodeIndex(cable.to);
        PreparedNode& target = built_[destination];
        const bool duplicate = std::any_of(
            target.eventConnections.begin(), target.eventConnections.end(),
            [&](const EventConnection& existing) { return existing.sourceNode == source; });
        if (duplicate) {
            throw std::invalid_argument(kDuplicateEventCable);
        }
        budget_.charge(kEventCableBytes);
        target.eventConnections.emplace_back().sourceNode = source;
        link(source, destination);
    }

    void checkOutputOverlap() const {
        std::vector<HostChannelRange> claimed;
        for (const NodeDefinition& node : definition().nodes) {
            if (node.type != "output") {
                continue;
            }
            const HostChannelRange range = hostChannels(node.configuration);
            for (const HostChannelRange& earlier : claimed) {
                if (range.offset < earlier.offset + earlier.channels &&
                    earlier.offset < range.offset + range.channels) {
                    throw std::invalid_argument(kOutputsOverlap);
                }
            }
            claimed.push_back(range);
        }
    }

    // Kahn's algorithm with a first-in first-out queue, so unconnected nodes keep definition order.
    void placeInProcessingOrder() {
        std::deque<std::uint32_t> queue;
        for (std::uint32_t i = 0; i < built_.size(); ++i) {
            if (inDegree_[i] == 0) {
                queue.push_back(i);
            }
        }
        std::vector<std::uint32_t> order;
        order.reserve(built_.size());
        while (!queue.empty()) {
            const std::uint32_t taken = queue.front();
            queue.pop_front();
            order.push_back(taken);
            for (const std::uint32_t next : successors_[taken]) {
                if (--inDegree_[next] == 0) {
                    queue.push_back(next);
                }
            }
        }
        if (order.size() < built_.size()) {
            throw std::invalid_argument(kCycle);
        }
        position_.resize(built_.size());
        state_->nodes.reserve(built_.size());
        for (const std::uint32_t index : order) {
            position_[index] = static_cast<std::uint32_t>(state_->nodes.size());
            state_->nodes.push_back(std::move(built_[index]));
        }
        built_.clear();
    }

    void computeLatency() {
        std::vector<PreparedNode>& nodes = state_->nodes;
        for (PreparedNode& node : nodes) {
            std::uint64_t maxIn = 0;
            for (AudioConnection& connection : node.audioConnections) {
                connection.sourceNode = position_[connection.sourceNode];
                maxIn = std::max<std::uint64_t>(maxIn, nodes[connection.sourceNode].pathLatency);
            }
            for (EventConnection& connection : node.eventConnections) {
                connection.sourceNode = position_[connection.sourceNode];
                const std::uint64_t source = nodes[connection.sourceNode].pathLatency;
                connection.delay = static_cast<std::uint32_t>(maxIn > source ? maxIn - source : 0);
            }
            for (AudioConnection& connection : node.audioConnections) {
                connection.delay =
                    static_cast<std::uint32_t>(maxIn - nodes[connection.sourceNode].pathLatency);
            }
            const std::uint64_t own = moduleLatency_[node.definitionIndex];
            if (maxIn + own > kMaxLatencyFrames) {
                throw std::invalid_argument(kPathLatency);
            }
            node.pathLatency = static_cast<std::uint32_t>(maxIn + own);
            if (isOutput(node)) {
                state_->latency = std::max(state_->latency, node.pathLatency);
            }
        }
    }

    void alignOutputs() {
        for (PreparedNode& node : state_->nodes) {
            if (isOutput(node)) {
                const std::uint32_t extra = state_->latency - node.pathLatency;
                for (AudioConnection& connection : node.audioConnections) {
                    connection.delay += extra;
                }
                for (EventConnection& connection : node.eventConnections) {
                    connection.delay += extra;
                }
                node.pathLatency = state_->latency;
            }
            for (AudioConnection& connection : node.audioConnections) {
                const std::uint64_t samples =
                    std::uint64_t{node.inputPorts[connection.destinationPort].channels} *
                    connection.delay;
                budget_.charge(samples * kSampleBytes);
            }
        }
    }

    void chargeHostInput() {
        budget_.charge(std::uint64_t{maxBlock()} * hostInputWidth_ * kSampleBytes);
    }

    void allocate() {
        for (PreparedNode& node : state_->nodes) {
            makeBuses(node.inputPorts, node.inputBuffers, node.inputBuses);
            makeBuses(node.outputPorts, node.outputBuffers, node.outputBuses);
            for (AudioConnection& connection : node.audioConnections) {
                const std::size_t channels = node.inputPorts[connection.destinationPort].channels;
                connection.delayLine.assign(channels * connection.delay, 0.0f);
            }
            node.module->allocateStorage();
        }
        if (hostInputWidth_ != 0) {
            const auto width = static_cast<std::uint32_t>(hostInputWidth_);
            state_->hostInputBuffer = std::make_unique<AudioBuffer>(width, maxBlock());
            state_->hostInputChannels = state_->hostInputBuffer->channelPointers;
        }
    }

    bool isOutput(const PreparedNode& node) const {
        return definition().nodes[node.definitionIndex].type == "output";
    }

    std::unique_ptr<PreparedGraphState> state_;
    const ModuleFactory& factory_;
    MemoryBudget budget_;
    std::uint64_t channelsInAll_ = 0;
    std::uint64_t hostInputWidth_ = 0;
    std::unordered_map<std::string, std::uint32_t> indexById_;
    // Nodes in definition order until the processing order is known.
    std::vector<PreparedNode> built_;
    std::vector<std::uint32_t> moduleLatency_;
    std::vector<std::vector<std::uint32_t>> successors_;
    std::vector<std::uint32_t> inDegree_;
    std::vector<std::uint32_t> position_;
};

void checkLimits(const GraphDefinition& definition, const ProcessSpec& spec) {
    if (!std::isfinite(spec.sampleRate) || spec.sampleRate < kMinSampleRate ||
        spec.sampleRate > kMaxSampleRate || spec.maxBlockSize < 1 ||
        spec.maxBlockSize > kMaxBlockFrames) {
        throw std::invalid_argument(kInvalidSpec);
    }
    if (definition.nodes.size() > kMaxGraphNodes || definition.cables.size() > kMaxGraphCables ||
        definition.eventCables.size() > kMaxGraphEventCables) {
        throw std::invalid_argument(kOverCapacity);
    }
}

} // namespace

std::unique_ptr<PreparedGraph> compileGraph(const GraphDefinition& definition,
                                            const ProcessSpec& spec, const ModuleFactory& factory) {
    checkLimits(definition, spec);
    return GraphCompiler(definition, spec, factory).compile();
}

std::uint32_t graphLatency(const PreparedGraph& graph) noexcept {
    return graph.state().latency;
}

} // namespace velkaphon::rack
