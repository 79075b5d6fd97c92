#pragma once

#include "engine/control_message.hpp"
#include "engine/event_list.hpp"
#include "engine/hand_over.hpp"
#include "engine/index_ring.hpp"
#include "engine/module.hpp"
#include "engine/prepared_graph.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace velkaphon::rack {

// Runs compiled graphs block by block. The control thread publishes graphs and queues control
// changes; the audio thread takes them at the start of a block. The two meet only through atomics
// and fixed single-producer single-consumer rings, and graphs are freed on the control thread.
class AudioEngine {
public:
    // Each ring holds one entry fewer than its slots: 31 retired graphs, 1023 control messages.
    static constexpr std::uint32_t kRetiredSlots = 32;
    static constexpr std::uint32_t kControlSlots = 1024;
    static constexpr std::uint32_t kPeakSlots = 128;

    AudioEngine() = default;
    // [control] After the audio thread has stopped calling process.
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // [control] The graph waits in the pending slot until the next block takes it. A graph
    // published earlier and never taken is freed here.
    void publishGraph(std::unique_ptr<PreparedGraph> graph);

    // [control] Frees the graphs that the audio thread has replaced.
    void drainRetired();

    // [control] False, with nothing queued, for an empty, over-long or NUL-holding id, a
    // value that is not finite, or a full queue. Never waits.
    bool enqueueControl(std::string_view nodeId, std::uint32_t index, double value);

    // [control] The changes queued so far belong to a run of audio that has ended; the
    // audio thread drops them at its next block instead of applying them. Later ones are kept.
    void dropQueuedControls() noexcept;

    // [control] The modules of the current graph, the pending one and the retired ones.
    // Meant for when audio is stopped, or for operations that the modules make safe themselves.
    void forEachModule(const std::function<void(Module&)>& visit) const;

    // [any] The node's last peak by definition index; 0 for an index past the table.
    float nodePeak(std::uint32_t definitionIndex) const noexcept;

    // [audio] One block, with flush-to-zero and denormals-are-zero set for its length.
    // Takes a pending graph, applies queued controls, then runs the current graph, or writes
    // silence without one. Never allocates, frees, locks or throws.
    void process(std::uint32_t frames, const BusSpan& hostInput, const BusSpan& hostOutput,
                 const TransportInfo& transport, const RackEvent* hostEvents,
                 std::uint64_t hostEventCount) noexcept;

    // [audio] After the last block of a run of audio, with no block running at the same
    // time: every module of the current graph finishes processing, once, and starts again in the
    // next block. Never allocates, frees, locks or throws.
    void finishProcessing() noexcept;

private:
    // Lets a test fill the retired ring, which publishGraph's own draining never allows.
    friend struct AudioEngineTestAccess;

    // [control] The exchange half of publishGraph, without the draining.
    void offerGraph(std::unique_ptr<PreparedGraph> graph);
    // No write index reaches it: it would take 2^64 messages.
    static constexpr std::uint64_t kNoDrop = ~std::uint64_t{0};

    static void finishGraph(PreparedGraph& graph) noexcept;
    void takePendingGraph() noexcept;
    void applyControls() noexcept;
    void recordPeaks() noexcept;

    HandOver<PreparedGraph, kRetiredSlots - 1> graphs_;
    // The control thread produces, the audio thread consumes.
    std::array<ControlMessage, kControlSlots> controlQueue_{};
    IndexRing<std::uint64_t> controlIndices_;
    // Where the audio thread's next block moves the control read index to, or kNoDrop.
    std::atomic<std::uint64_t> controlDropUntil_{kNoDrop};
    std::array<std::atomic<float>, kPeakSlots> peakLevels_{};
    // The current graph's modules have finished since its last block. Audio side only; atomic
    // because a host may end a run on another thread than the one that ran its blocks.
    std::atomic<bool> runFinished_{false};
};

} // namespace velkaphon::rack
