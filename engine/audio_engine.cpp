#include "engine/audio_engine.hpp"

#include "engine/denormal_flush.hpp"
#include "engine/graph_runner.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace velkaphon::rack {

namespace {

constexpr std::uint64_t kControlMask = AudioEngine::kControlSlots - 1;

} // namespace

AudioEngine::~AudioEngine() = default;

void AudioEngine::publishGraph(std::unique_ptr<PreparedGraph> graph) {
    offerGraph(std::move(graph));
    drainRetired();
}

void AudioEngine::offerGraph(std::unique_ptr<PreparedGraph> graph) {
    graphs_.offer(std::move(graph));
}

void AudioEngine::drainRetired() {
    graphs_.drainRetired();
}

bool AudioEngine::enqueueControl(std::string_view nodeId, std::uint32_t index, double value) {
    if (nodeId.empty() || nodeId.size() > kMaxNodeIdBytes ||
        nodeId.find('\0') != std::string_view::npos || !std::isfinite(value)) {
        return false;
    }
    const auto [read, write] = controlIndices_.producerView();
    if (write - read >= kControlSlots - 1) {
        return false;
    }
    ControlMessage& message = controlQueue_[write & kControlMask];
    std::fill(message.nodeId.begin(), message.nodeId.end(), '\0');
    std::copy(nodeId.begin(), nodeId.end(), message.nodeId.begin());
    message.index = index;
    message.value = value;
    controlIndices_.publish(write + 1);
    return true;
}

void AudioEngine::dropQueuedControls() noexcept {
    controlDropUntil_.store(controlIndices_.producerView().write, std::memory_order_release);
}

void AudioEngine::forEachModule(const std::function<void(Module&)>& visit) const {
    const auto visitGraph = [&](const PreparedGraph& graph) {
        for (const PreparedNode& node : graph.state().nodes) {
            visit(*node.module);
        }
    };
    graphs_.forEach(visitGraph);
}

float AudioEngine::nodePeak(std::uint32_t definitionIndex) const noexcept {
    if (definitionIndex >= kPeakSlots) {
        return 0.0f;
    }
    return peakLevels_[definitionIndex].load(std::memory_order_relaxed);
}

void AudioEngine::process(std::uint32_t frames, const BusSpan& hostInput, const BusSpan& hostOutput,
                          const TransportInfo& transport, const RackEvent* hostEvents,
                          std::uint64_t hostEventCount) noexcept {
    const DenormalFlushScope flush;
    takePendingGraph();
    // Most blocks find the run going on: a plain load keeps the store off their path.
    if (runFinished_.load(std::memory_order_relaxed)) {
        runFinished_.store(false, std::memory_order_relaxed);
    }
    applyControls();
    PreparedGraph* graph = graphs_.current();
    if (graph == nullptr) {
        silenceHostOutput(hostOutput, frames);
        return;
    }
    runGraph(*graph, frames, hostInput, hostOutput, transport, hostEvents, hostEventCount);
    recordPeaks();
}

void AudioEngine::finishProcessing() noexcept {
    // A host may end a run on another thread than the one that ran its blocks.
    PreparedGraph* graph = graphs_.current();
    if (graph != nullptr && !runFinished_.exchange(true, std::memory_order_acq_rel)) {
        finishGraph(*graph);
    }
}

void AudioEngine::finishGraph(PreparedGraph& graph) noexcept {
    for (PreparedNode& node : graph.state().nodes) {
        node.module->finishProcessing();
    }
}

void AudioEngine::takePendingGraph() noexcept {
    // With no room to hand the current graph back, it keeps running and the new one stays pending.
    const bool taken = graphs_.take([this](PreparedGraph& previous) noexcept {
        // A run of audio that ended has finished them already.
        if (!runFinished_.load(std::memory_order_relaxed)) {
            finishGraph(previous);
        }
    });
    if (!taken) {
        return;
    }
    for (std::atomic<float>& peak : peakLevels_) {
        peak.store(0.0f, std::memory_order_relaxed);
    }
}

void AudioEngine::applyControls() noexcept {
    // Most blocks find no drop: a plain load keeps the locked exchange off their path.
    const std::uint64_t dropUntil =
        controlDropUntil_.load(std::memory_order_relaxed) == kNoDrop
            ? kNoDrop
            : controlDropUntil_.exchange(kNoDrop, std::memory_order_acquire);
    // Read after the drop, the write index is never behind it.
    auto [read, write] = controlIndices_.consumerView();
    // A drop whose messages were already applied must not move the read index back over them.
    if (dropUntil != kNoDrop && dropUntil - read <= write - read) {
        read = dropUntil;
        controlIndices_.release(read);
    }
    PreparedGraph* graph = graphs_.current();
    while (read != write) {
        const ControlMessage& message = controlQueue_[read & kControlMask];
        if (graph != nullptr) {
            const std::size_t length = std::strlen(message.nodeId.data());
            for (PreparedNode& node : graph->state().nodes) {
                if (node.id.size() == length &&
                    std::memcmp(node.id.data(), message.nodeId.data(), length) == 0) {
                    node.module->setControl(message.index, message.value);
                    break;
                }
            }
        }
        controlIndices_.release(++read);
    }
}

void AudioEngine::recordPeaks() noexcept {
    const PreparedGraph* graph = graphs_.current();
    for (const RunNode& node : graph->state().run) {
        peakLevels_[node.definitionIndex].store(node.peak, std::memory_order_relaxed);
    }
}

} // namespace velkaphon::rack
