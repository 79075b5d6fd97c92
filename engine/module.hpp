#pragma once

// The engine's chief header: the interface every module implements and the records that pass
// through it.

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
    // Control thread: a module goes with the compiled graph that owns it, never on the audio
    // thread.
    virtual ~Module() = default;

    // Control thread; fixed once prepare has run.
    virtual std::vector<PortSpec> inputs() const = 0;
    virtual std::vector<PortSpec> outputs() const = 0;

    // Control thread, once, right after creation; a throw becomes the compile error.
    virtual void prepare(const ProcessSpec& spec) = 0;

    // Audio thread: no allocation, lock, wait or throw. Output channels arrive zeroed.
    virtual void process(BlockContext& context) = 0;

    // Control thread; must not change while the graph runs.
    virtual std::uint32_t latencySamples() const = 0;

    // Any thread: the last block's level, or 0 for modules without a meter.
    virtual float level() const = 0;

    // Audio and control thread, possibly at once: no allocation, lock or throw.
    virtual void setControl(std::uint32_t index, double value) = 0;

    // Audio thread, after the module's last block of a run: its graph is being replaced, or
    // audio stops. A later block starts processing again.
    virtual void finishProcessing() noexcept {}

    // Control thread: configuration and run-time state.
    virtual nlohmann::json status() const = 0;

    // Control thread: true only when process writes every sample of every output channel in every
    // block, so the engine need not zero the outputs first.
    virtual bool writesEveryOutputSample() const { return false; }

    // Control thread: true only when process never writes into its input channels, so a cable
    // may hand its source's buffers over in place instead of copying them.
    virtual bool neverWritesInputs() const { return false; }

    // Control thread: true only when level, read right after process, is the block's largest
    // absolute sample over every output channel (over every input channel when there are no
    // outputs), starting from 0, a NaN sample leaving it unchanged; the engine then takes it as
    // the node's peak instead of metering the same samples again.
    virtual bool levelIsNodePeak() const { return false; }

    // Control thread: bytes of run-time storage beyond the port buffers that allocateStorage
    // makes, charged against the graph's memory budget.
    virtual std::uint64_t storageBytes() const { return 0; }

    // Control thread, once the graph has passed every check and before its first block.
    virtual void allocateStorage() {}
};

// A module that runs a hosted plug-in.
class HostedModule : public Module {
public:
    // Control thread: the plug-in's parameters in its own order, with current values.
    virtual std::vector<HostedParameter> parameters() const = 0;

    // UI thread: embeds the plug-in's editor in a child of the parent; false and the error filled
    // when it cannot.
    virtual bool openEditor(NativeWindowHandle parent, std::string& error) = 0;

    // UI thread; harmless when no editor is open.
    virtual void closeEditor() = 0;

    // UI thread: the plug-in's main-thread work.
    virtual void idle() = 0;

    // Control thread: the plug-in asked for new ports or latency, or faulted.
    virtual bool restartRequested() const = 0;

    // Control thread: why the plug-in stopped working in process, nothing while it works.
    virtual std::optional<std::string> processFault() const { return std::nullopt; }

    // Control thread.
    virtual bool hasEventInput() const = 0;
    virtual bool hasEventOutput() const = 0;
};

} // namespace velkaphon::rack
