#include "engine/audio_engine.hpp"

#include "engine/denormal_flush.hpp"
#include "engine/graph_runner.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kRetiredMask = AudioEngine::kRetiredSlots - 1;
constexpr std::uint32_t kControlMask = AudioEngine::kControlSlots - 1;

} // namespace

AudioEngine::~AudioEngine() {
    delete pendingGraph_.exchange(nullptr, std::memory_order_acq_rel);
    delete currentGraph_.exchange(nullptr, std::memory_order_acq_rel);
    drainRetired();
}

void AudioEngine::publishGraph(std::unique_ptr<PreparedGraph> graph) {
    offerGraph(std::move(graph));
    drainRetired();
}

void AudioEngine::offerGraph(std::unique_ptr<PreparedGraph> graph) {
    // A graph published earlier that the audio thread never took.
    delete pendingGraph_.exchange(graph.release(), std::memory_order_acq_rel);
}

void AudioEngine::drainRetired() {
    const std::uint32_t write = retiredWrite_.load(std::memory_order_acquire);
    std::uint32_t read = retiredRead_.load(std::memory_order_relaxed);
    while (read != write) {
        delete retired_[read];
        retired_[read] = nullptr;
        read = (read + 1) & kRetiredMask;
        retiredRead_.store(read, std::memory_order_release);
    }
}

bool AudioEngine::enqueueControl(std::string_view nodeId, std::uint32_t index, double value) {
    if (nodeId.empty() || nodeId.size() > kMaxNodeIdBytes ||
        nodeId.find('\0') != std::string_view::npos || !std::isfinite(value)) {
        return false;
    }
    const std::uint32_t write = controlWrite_.load(std::memory_order_relaxed);
    const std::uint32_t next = (write + 1) & kControlMask;
    if (next == controlRead_.load(std::memory_order_acquire)) {
        return false;
    }
    ControlMessage& message = controlQueue_[write];
    std::fill(message.nodeId.begin(), message.nodeId.end(), '\0');
    std::copy(nodeId.begin(), nodeId.end(), message.nodeId.begin());
    message.index = index;
    message.value = value;
    controlWrite_.store(next, std::memory_order_release);
    return true;
}

void AudioEngine::dropQueuedControls() noexcept {
    controlDropUntil_.store(controlWrite_.load(std::memory_order_relaxed),
                            std::memory_order_release);
}

void AudioEngine::forEachModule(const std::function<void(Module&)>& visit) const {
    const auto visitGraph = [&](const PreparedGraph* graph) {
        for (const PreparedNode& node : graph->state().nodes) {
            visit(*node.module);
        }
    };
    const PreparedGraph* current = currentGraph_.load(std::memory_order_acquire);
    if (current != nullptr) {
        visitGraph(current);
    }
    const PreparedGraph* pending = pendingGraph_.load(std::memory_order_acquire);
    if (pending != nullptr && pending != current) {
        visitGraph(pending);
    }
    const std::uint32_t write = retiredWrite_.load(std::memory_order_acquire);
    for (std::uint32_t slot = retiredRead_.load(std::memory_order_relaxed); slot != write;
         slot = (slot + 1) & kRetiredMask) {
        visitGraph(retired_[slot]);
    }
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
    PreparedGraph* graph = currentGraph_.load(std::memory_order_relaxed);
    if (graph == nullptr) {
        silenceHostOutput(hostOutput, frames);
        return;
    }
    runGraph(*graph, frames, hostInput, hostOutput, transport, hostEvents, hostEventCount);
    recordPeaks();
}

void AudioEngine::finishProcessing() noexcept {
    // A host may end a run on another thread than the one that ran its blocks.
    PreparedGraph* graph = currentGraph_.load(std::memory_order_acquire);
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
    const std::uint32_t write = retiredWrite_.load(std::memory_order_relaxed);
    const std::uint32_t next = (write + 1) & kRetiredMask;
    if (next == retiredRead_.load(std::memory_order_acquire)) {
        // No room to hand the current graph back: keep running it and leave the new one pending.
        return;
    }
    // Most blocks find nothing pending: a plain load keeps the locked exchange off their path.
    if (pendingGraph_.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    PreparedGraph* taken = pendingGraph_.exchange(nullptr, std::memory_order_acq_rel);
    if (taken == nullptr) {
        return;
    }
    PreparedGraph* previous = currentGraph_.exchange(taken, std::memory_order_acq_rel);
    if (previous != nullptr) {
        // A run of audio that ended has finished them already.
        if (!runFinished_.load(std::memory_order_relaxed)) {
            finishGraph(*previous);
        }
        retired_[write] = previous;
        retiredWrite_.store(next, std::memory_order_release);
    }
    for (std::atomic<float>& peak : peakLevels_) {
        peak.store(0.0f, std::memory_order_relaxed);
    }
}

void AudioEngine::applyControls() noexcept {
    // Most blocks find no drop: a plain load keeps the locked exchange off their path.
    const std::uint32_t dropUntil =
        controlDropUntil_.load(std::memory_order_relaxed) == kNoDrop
            ? kNoDrop
            : controlDropUntil_.exchange(kNoDrop, std::memory_order_acquire);
    // Read after the drop, the write index is never behind it.
    const std::uint32_t write = controlWrite_.load(std::memory_order_acquire);
    std::uint32_t read = controlRead_.load(std::memory_order_relaxed);
    // A drop whose messages were already applied must not move the read index back over them.
    if (dropUntil != kNoDrop &&
        ((dropUntil - read) & kControlMask) <= ((write - read) & kControlMask)) {
        read = dropUntil;
        controlRead_.store(read, std::memory_order_release);
    }
    PreparedGraph* graph = currentGraph_.load(std::memory_order_relaxed);
    while (read != write) {
        const ControlMessage& message = controlQueue_[read];
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
        read = (read + 1) & kControlMask;
        controlRead_.store(read, std::memory_order_release);
    }
}

void AudioEngine::recordPeaks() noexcept {
    const PreparedGraph* graph = currentGraph_.load(std::memory_order_relaxed);
    for (const RunNode& node : graph->state().run) {
        peakLevels_[node.definitionIndex].store(node.peak, std::memory_order_relaxed);
    }
}

} // namespace velkaphon::rack
