#pragma once

// The engine's chief header: the interface every module implements and the records that pass
// through it.
//
// Thread tags. Every function's header comment opens with the threads it may run on, from this
// closed set; several are written in this order in one bracket, as [control, audio].
// [control]  The thread that owns the rack: commands, the view, timers, graph compilation, and
//            the creation, preparation and deletion of modules and hosted plug-ins (their
//            main-thread calls and editors included). Standalone, the program's main (UI)
//            thread; in the plug-in, the host's UI thread.
// [audio]    The thread that runs blocks: the master endpoint's worker standalone, the host's
//            process thread in the plug-in. No allocation, lock, wait or throw.
// [worker]   An audio endpoint's worker thread; the master endpoint's worker is also [audio].
// [writer]   A recorder's writer thread, which moves the take from its ring to the file.
// [host]     A thread of the host's other than [control] and [audio], where a host may make the
//            plug-in's set-up and state calls.
// [server]   The Linux view stand-in's HTTP server thread.
// [producer] The one thread that writes into a single-producer, single-consumer ring, and
// [consumer] the one that reads from it; the ring's owner says which threads those are.
// [any]      Any thread: safe to call from several at once.

#include "engine/event_list.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velkaphon::rack {

// A parent window for a plug-in editor: an HWND on Windows, kept opaque here.
using NativeWindowHandle = void*;

struct PortSpec {
    std::string id;
    std::string name;
    std::uint32_t channels = 1;

    bool operator==(const PortSpec&) const = default;
};

struct ProcessSpec {
    double sampleRate = 48000.0;
    std::uint32_t maxBlockSize = 512;
};

// One module port's buffers for one block; the engine owns the memory.
struct PortBusSpan {
    float* const* channels = nullptr;
    std::uint32_t channelCount = 0;
};

// One host or device bus; any channel pointer may be null when the host gives no buffer.
struct BusSpan {
    float* const* channels = nullptr;
    std::uint64_t channelCount = 0;
};

struct TransportInfo {
    std::int64_t samplePosition = 0;
    double tempo = 120.0;
    bool playing = false;
    bool recording = false;
};

struct BlockContext {
    PortBusSpan* inputs = nullptr;
    std::uint64_t inputCount = 0;
    PortBusSpan* outputs = nullptr;
    std::uint64_t outputCount = 0;
    std::uint32_t frames = 0;
    TransportInfo transport;
    const RackEvent* events = nullptr;
    std::uint64_t eventCount = 0;
    EventList* outputEvents = nullptr;
    BusSpan hostInput;
    BusSpan hostOutput;
};

struct HostedParameter {
    std::uint32_t id = 0;
    std::string name;
    std::string unit;
    double value = 0.0;
    bool readOnly = false;
};

class Module {
public:
    // [control] A module goes with the compiled graph that owns it, never on the audio
    // thread.
    virtual ~Module() = default;

    // [control] Fixed once prepare has run.
    virtual std::vector<PortSpec> inputs() const = 0;
    virtual std::vector<PortSpec> outputs() const = 0;

    // [control] Once, right after creation; a throw becomes the compile error.
    virtual void prepare(const ProcessSpec& spec) = 0;

    // [audio] No allocation, lock, wait or throw. Output channels arrive zeroed.
    virtual void process(BlockContext& context) = 0;

    // [control] Must not change while the graph runs.
    virtual std::uint32_t latencySamples() const = 0;

    // [any] The last block's level, or 0 for modules without a meter.
    virtual float level() const = 0;

    // [control, audio] Possibly at once: no allocation, lock or throw.
    virtual void setControl(std::uint32_t index, double value) = 0;

    // [audio] After the module's last block of a run: its graph is being replaced, or
    // audio stops. A later block starts processing again.
    virtual void finishProcessing() noexcept {}

    // [control] Configuration and run-time state.
    virtual nlohmann::json status() const = 0;

    // [control] True only when process writes every sample of every output channel in every
    // block, so the engine need not zero the outputs first.
    virtual bool writesEveryOutputSample() const { return false; }

    // [control] True only when process never writes into its input channels, so a cable
    // may hand its source's buffers over in place instead of copying them.
    virtual bool neverWritesInputs() const { return false; }

    // [control] True only when level, read right after process, is the block's largest
    // absolute sample over every output channel (over every input channel when there are no
    // outputs), starting from 0, a NaN sample leaving it unchanged; the engine then takes it as
    // the node's peak instead of metering the same samples again.
    virtual bool levelIsNodePeak() const { return false; }

    // [control] Bytes of run-time storage beyond the port buffers that allocateStorage
    // makes, charged against the graph's memory budget.
    virtual std::uint64_t storageBytes() const { return 0; }

    // [control] Once the graph has passed every check and before its first block.
    virtual void allocateStorage() {}
};

// A module that runs a hosted plug-in.
class HostedModule : public Module {
public:
    // [control] The plug-in's parameters in its own order, with current values.
    virtual std::vector<HostedParameter> parameters() const = 0;

    // [control] Embeds the plug-in's editor in a child of the parent; false and the error filled
    // when it cannot.
    virtual bool openEditor(NativeWindowHandle parent, std::string& error) = 0;

    // [control] Harmless when no editor is open.
    virtual void closeEditor() = 0;

    // [control] The plug-in's main-thread work.
    virtual void idle() = 0;

    // [control] The plug-in asked for new ports or latency, or faulted.
    virtual bool restartRequested() const = 0;

    // [control] Why the plug-in stopped working in process, nothing while it works.
    virtual std::optional<std::string> processFault() const { return std::nullopt; }

    // [control] The plug-in refused the saved state it was made with: it runs from its defaults,
    // and its status keeps the refused bytes so that a save loses nothing.
    virtual bool stateRefused() const { return false; }

    // [control]
    virtual bool hasEventInput() const = 0;
    virtual bool hasEventOutput() const = 0;
};

} // namespace velkaphon::rack
