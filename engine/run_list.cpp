#include "engine/run_list.hpp"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace velkaphon::rack {

namespace {

using PortFlags = std::vector<std::vector<bool>>;

PortFlags portFlags(const std::vector<PreparedNode>& nodes) {
    PortFlags flags(nodes.size());
    for (std::size_t p = 0; p < nodes.size(); ++p) {
        flags[p].assign(nodes[p].outputPorts.size(), false);
    }
    return flags;
}

bool handsOver(const PreparedNode& node, const AudioConnection& connection,
               const std::vector<std::vector<std::uint32_t>>& fanOut) {
    return connection.delay == 0 && fanOut[connection.sourceNode][connection.sourcePort] == 1 &&
           node.module->neverWritesInputs();
}

class RunListBuilder {
public:
    explicit RunListBuilder(PreparedGraphState& state)
        : state_(state), nodes_(state.nodes), meteredByReader_(portFlags(nodes_)),
          clearedByCopy_(portFlags(nodes_)), handedOver_(nodes_.size()) {}

    void build() {
        countFanOut();
        handOverInPlace();
        state_.run.resize(nodes_.size());
        claimReaderMeters();
        claimCopyMeters();
        claimSourceClearing();
        state_.inputEvents.assign(nodes_.size(), EventList{});
        state_.outputEvents.assign(nodes_.size(), EventList{});
        for (std::uint32_t p = 0; p < nodes_.size(); ++p) {
            buildNode(p);
        }
        placeHostReaders();
    }

private:
    void countFanOut() {
        fanOut_.resize(nodes_.size());
        for (std::size_t p = 0; p < nodes_.size(); ++p) {
            fanOut_[p].assign(nodes_[p].outputPorts.size(), 0);
        }
        for (const PreparedNode& node : nodes_) {
            for (const AudioConnection& connection : node.audioConnections) {
                ++fanOut_[connection.sourceNode][connection.sourcePort];
            }
        }
    }

    // The destination's input channels point at the source's output channels from here on.
    void handOverInPlace() {
        for (std::size_t p = 0; p < nodes_.size(); ++p) {
            PreparedNode& node = nodes_[p];
            handedOver_[p].assign(node.audioConnections.size(), false);
            for (std::size_t k = 0; k < node.audioConnections.size(); ++k) {
                const AudioConnection& connection = node.audioConnections[k];
                if (!handsOver(node, connection, fanOut_)) {
                    continue;
                }
                const AudioBuffer& source =
                    nodes_[connection.sourceNode].outputBuffers[connection.sourcePort];
                node.inputBuffers[connection.destinationPort].channelPointers =
                    source.channelPointers;
                handedOver_[p][k] = true;
            }
        }
    }

    // Sizes flags as the nodes' cables, all false, and visits every cable in processing order.
    template <typename Visit>
    void forEachCable(std::vector<std::vector<bool>>& flags, Visit visit) {
        flags.resize(nodes_.size());
        for (std::uint32_t p = 0; p < nodes_.size(); ++p) {
            const PreparedNode& node = nodes_[p];
            flags[p].assign(node.audioConnections.size(), false);
            for (std::size_t k = 0; k < node.audioConnections.size(); ++k) {
                visit(p, k, node.audioConnections[k]);
            }
        }
    }

    // A port handed over in place to the only input of a node whose peak is that of its inputs
    // is metered by that node.
    void claimReaderMeters() {
        for (std::uint32_t p = 0; p < nodes_.size(); ++p) {
            const PreparedNode& node = nodes_[p];
            if (!metersItsOnlyInput(node) || !handedOver_[p][0]) {
                continue;
            }
            const AudioConnection& connection = node.audioConnections[0];
            const PreparedNode& source = nodes_[connection.sourceNode];
            if (source.module->levelIsNodePeak() ||
                source.outputPorts[connection.sourcePort].channels != node.inputPorts[0].channels) {
                continue;
            }
            meteredByReader_[connection.sourceNode][connection.sourcePort] = true;
            state_.run[p].sourcePeak = &state_.run[connection.sourceNode].peak;
        }
    }

    static bool metersItsOnlyInput(const PreparedNode& node) {
        return node.module->levelIsNodePeak() && node.outputPorts.empty() &&
               node.inputPorts.size() == 1 && node.audioConnections.size() == 1;
    }

    // The first copying cable out of a port meters it; the source then skips that port.
    void claimCopyMeters() {
        forEachCable(copyMeters_,
                     [&](std::uint32_t p, std::size_t k, const AudioConnection& connection) {
                         if (handedOver_[p][k] || connection.delay != 0 ||
                             nodes_[connection.sourceNode].module->levelIsNodePeak()) {
                             return;
                         }
                         std::vector<bool>& claimed = meteredByReader_[connection.sourceNode];
                         if (!claimed[connection.sourcePort]) {
                             claimed[connection.sourcePort] = true;
                             copyMeters_[p][k] = true;
                         }
                     });
    }

    // A port of a module that may leave samples unwritten, read only by zero-latency copies, is
    // zeroed by its last copy in the block, while it is in cache, instead of before its next
    // block: nothing reads it in between, and a new graph's buffers start zeroed.
    void claimSourceClearing() {
        std::vector<std::vector<std::pair<std::uint32_t, std::size_t>>> lastCopy(nodes_.size());
        for (std::size_t p = 0; p < nodes_.size(); ++p) {
            lastCopy[p].assign(nodes_[p].outputPorts.size(), {kNoCopy, 0});
        }
        forEachCable(clearsSource_,
                     [&](std::uint32_t p, std::size_t k, const AudioConnection& connection) {
                         auto& last = lastCopy[connection.sourceNode][connection.sourcePort];
                         if (handedOver_[p][k] || connection.delay != 0) {
                             last.first = kNotCleared;
                         } else if (last.first != kNotCleared) {
                             last = {p, k};
                         }
                     });
        for (std::size_t source = 0; source < nodes_.size(); ++source) {
            if (nodes_[source].module->writesEveryOutputSample()) {
                continue;
            }
            for (std::size_t port = 0; port < lastCopy[source].size(); ++port) {
                const auto [p, k] = lastCopy[source][port];
                if (p != kNoCopy && p != kNotCleared) {
                    clearsSource_[p][k] = true;
                    clearedByCopy_[source][port] = true;
                }
            }
        }
    }

    void buildNode(std::uint32_t p) {
        PreparedNode& node = nodes_[p];
        RunNode& run = state_.run[p];
        run.module = node.module.get();
        run.definitionIndex = node.definitionIndex;
        run.context.inputs = node.inputBuses.data();
        run.context.inputCount = node.inputBuses.size();
        run.context.outputs = node.outputBuses.data();
        run.context.outputCount = node.outputBuses.size();
        run.context.events = state_.inputEvents[p].events.data();
        run.context.outputEvents = &state_.outputEvents[p];
        const std::string& type = state_.definition.nodes[node.definitionIndex].type;
        run.readsHostInput = type == "input";
        run.writesHostOutput = type == "output";

        run.zeroed.begin = static_cast<std::uint32_t>(state_.zeroChannels.size());
        if (!node.module->writesEveryOutputSample()) {
            for (std::size_t port = 0; port < node.outputBuffers.size(); ++port) {
                if (!clearedByCopy_[p][port]) {
                    addChannels(node.outputBuffers[port], state_.zeroChannels);
                }
            }
        }
        if (!node.module->neverWritesInputs()) {
            addUnfilledInputs(node);
        }
        run.zeroed.end = static_cast<std::uint32_t>(state_.zeroChannels.size());

        run.copies.begin = static_cast<std::uint32_t>(state_.channelCopies.size());
        run.delayed.begin = static_cast<std::uint32_t>(state_.delayedCables.size());
        for (std::size_t k = 0; k < node.audioConnections.size(); ++k) {
            addCable(p, k);
        }
        run.copies.end = static_cast<std::uint32_t>(state_.channelCopies.size());
        run.delayed.end = static_cast<std::uint32_t>(state_.delayedCables.size());

        run.metered.begin = static_cast<std::uint32_t>(state_.meterChannels.size());
        run.levelIsPeak = node.module->levelIsNodePeak();
        if (!run.levelIsPeak) {
            addMeteredChannels(p);
        }
        run.metered.end = static_cast<std::uint32_t>(state_.meterChannels.size());

        if (!node.eventConnections.empty()) {
            run.eventConnections = node.eventConnections.data();
            run.eventConnectionCount = static_cast<std::uint32_t>(node.eventConnections.size());
        }
    }

    // The output channels that no reader meters, or the inputs of a node without outputs.
    void addMeteredChannels(std::uint32_t p) {
        const PreparedNode& node = nodes_[p];
        if (node.outputBuffers.empty()) {
            addChannels(node.inputBuffers, state_.meterChannels);
            return;
        }
        for (std::size_t port = 0; port < node.outputBuffers.size(); ++port) {
            if (!meteredByReader_[p][port]) {
                addChannels(node.outputBuffers[port], state_.meterChannels);
            }
        }
    }

    void addCable(std::uint32_t p, std::size_t k) {
        PreparedNode& node = nodes_[p];
        AudioConnection& connection = node.audioConnections[k];
        PreparedNode& source = nodes_[connection.sourceNode];
        if (handedOver_[p][k]) {
            return;
        }
        if (connection.delay != 0) {
            state_.delayedCables.push_back({&connection, &source.outputBuses[connection.sourcePort],
                                            &node.inputBuses[connection.destinationPort]});
            return;
        }
        const AudioBuffer& from = source.outputBuffers[connection.sourcePort];
        const AudioBuffer& to = node.inputBuffers[connection.destinationPort];
        float* peak = copyMeters_[p][k] ? &state_.run[connection.sourceNode].peak : nullptr;
        for (std::size_t ch = 0; ch < to.channelPointers.size(); ++ch) {
            state_.channelCopies.push_back(
                {from.channelPointers[ch], to.channelPointers[ch], peak, clearsSource_[p][k]});
        }
    }

    void addUnfilledInputs(const PreparedNode& node) {
        for (std::size_t port = 0; port < node.inputBuffers.size(); ++port) {
            bool filled = false;
            for (const AudioConnection& connection : node.audioConnections) {
                filled = filled || connection.destinationPort == port;
            }
            if (!filled) {
                addChannels(node.inputBuffers[port], state_.zeroChannels);
            }
        }
    }

    template <typename Channel>
    static void addChannels(const AudioBuffer& buffer, std::vector<Channel>& table) {
        table.insert(table.end(), buffer.channelPointers.begin(), buffer.channelPointers.end());
    }

    template <typename Channel>
    static void addChannels(const std::vector<AudioBuffer>& buffers, std::vector<Channel>& table) {
        for (const AudioBuffer& buffer : buffers) {
            addChannels(buffer, table);
        }
    }

    void placeHostReaders() {
        std::uint32_t firstWriter = static_cast<std::uint32_t>(state_.run.size());
        for (std::uint32_t p = 0; p < state_.run.size(); ++p) {
            if (state_.run[p].readsHostInput) {
                state_.afterLastHostReader = p + 1;
            }
            if (state_.run[p].writesHostOutput && p < firstWriter) {
                firstWriter = p;
            }
        }
        state_.hostReadersFirst = state_.afterLastHostReader <= firstWriter;
    }

    PreparedGraphState& state_;
    std::vector<PreparedNode>& nodes_;
    std::vector<std::vector<std::uint32_t>> fanOut_;
    // No copy reads the port, or one reader is not a zero-latency copy.
    static constexpr std::uint32_t kNoCopy = 0xFFFFFFFFu;
    static constexpr std::uint32_t kNotCleared = 0xFFFFFFFEu;

    PortFlags meteredByReader_;
    PortFlags clearedByCopy_;
    std::vector<std::vector<bool>> handedOver_;
    std::vector<std::vector<bool>> clearsSource_;
    std::vector<std::vector<bool>> copyMeters_;
};

} // namespace

void buildRunList(PreparedGraphState& state) {
    RunListBuilder(state).build();
}

} // namespace velkaphon::rack
