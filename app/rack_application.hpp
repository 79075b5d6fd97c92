#pragma once

#include "app/control_window.hpp"
#include "app/plugin_restarts.hpp"
#include "audio/audio_backend.hpp"
#include "audio/audio_system.hpp"
#include "engine/audio_engine.hpp"
#include "engine/graph_definition.hpp"
#include "engine/module.hpp"
#include "engine/module_factory.hpp"
#include "engine/module_kind.hpp"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace velkaphon::rack {

inline constexpr const char* kProductTitle = "VELKAPHON RACK";
inline constexpr const char* kProductVersion = "0.1.0-beta.3";

// The one object the running rack hangs from: the engine, the patch and its live modules, the
// page's layout and ports, the audio back end, the transport flags and the control timer. The
// standalone program and the plug-in share it; pluginMode is their only difference.
class RackApplication {
public:
    // [control] Compiles the default patch; its exception ends construction.
    explicit RackApplication(bool pluginMode);
    // The same on a given audio system, which must outlive the rack. Tests give moduleOverrides,
    // which is asked first and makes the modules of the types it knows in place of the rack's own,
    // and the clock by which plug-in restarts are spaced.
    RackApplication(bool pluginMode, AudioSystem& audioSystem, ModuleFactory moduleOverrides = {},
                    PluginRestarts::Clock restartClock = {});
    // [control]
    ~RackApplication();
    RackApplication(const RackApplication&) = delete;
    RackApplication& operator=(const RackApplication&) = delete;

    // Called by compile when the graph latency changed; set by the plug-in's processor.
    std::function<void()> onLatencyChanged;

    // [control] One page command in, its result out; every refusal is thrown.
    nlohmann::json handleCommand(const nlohmann::json& request);

    // [control, host] Takes the host's rate and block and recompiles; throws for a rate
    // outside 8..384 kHz or a block outside 1..4096.
    void configure(const ProcessSpec& processSpec);

    // [audio] (the master endpoint's worker) The back end's callback, with the rack as
    // context. Never allocates, locks or throws.
    static void processDeviceBlock(void* context, const float* const* inputs,
                                   std::uint32_t inputCount, float* const* outputs,
                                   std::uint32_t outputCount, std::uint32_t frames,
                                   double sampleRate);

    // [audio] (the master endpoint's worker) As it ends after its last block: the modules
    // finish processing there.
    static void finishDeviceBlocks(void* context);

    // [audio] (the host's process thread) Never allocates, locks or throws.
    void processHostBlock(std::uint32_t frames, const BusSpan& inputs, const BusSpan& outputs,
                          const TransportInfo& transport, const RackEvent* events,
                          std::uint64_t eventCount);

    // [control] Stops the back end (not in plug-in mode), the transport and every player and
    // recorder, and disarms every recorder of the patch.
    void stop();
    // [any] Only atomics, so the host may call it on its audio thread. The transport stops at once;
    // the rest of stop runs at the next control tick, or at stop itself. On the thread that ran
    // the last host block, the modules also finish processing there.
    void requestStop() noexcept;

    // [any] The latency of the last published graph, in frames.
    std::uint32_t latency() const noexcept { return latency_.load(); }

    // [control] Frees retired graphs, restarts the hosted plug-ins that asked for it, then gives
    // every hosted plug-in its idle call. Lets exceptions through.
    void onControlTick();
    // [control] onControlTick under the timer's guard; the first failure ends the tick and its
    // text becomes the last error. Run by the control window's 50 ms timer, by the Linux shell's
    // loop and by the view's timer.
    void runControlTimer() noexcept;

    // [control]
    void closeHostedEditors();
    bool openEditor(const std::string& nodeId, NativeWindowHandle parent, std::string& error);

    // [control] Starts the audio back end with the command's settings.
    void start(const nlohmann::json& params);

    // [control] The status snapshot: may set the last error and clear the recording request.
    nlohmann::json status();
    // [control] The device list; a failed refresh shows its text in the next status.
    nlohmann::json listDevices();

    // [control, host] The patch with every module's state merged in (kept
    // in the stored patch as well), every recorder disarmed.
    nlohmann::json projectDocument();
    // [control, host] Replaces the patch and layout; throws on refusal and
    // leaves everything as it was.
    void restoreProject(const nlohmann::json& document);

    // The control window's class name, unique to this object.
    const std::wstring& controlClassName() const { return controlWindow_.className; }

private:
    // Who asked for a compile: one the user asked for starts every plug-in's restart window
    // afresh, the control tick's restart does not, so restarts in a row stay held back.
    enum class Rebuild { ByUser, ForRestart };

    // [control] Builds, prepares and publishes the definition's graph for the given spec; on
    // success the graph, modules, ports, stored patch and spec change together, else nothing.
    // Returns the notice of the hosted plug-ins that refused their saved state, "" when none
    // did; a notice also becomes the last error.
    std::string compile(const GraphDefinition& definition, const ProcessSpec& processSpec,
                        Rebuild cause = Rebuild::ByUser);
    // [control] The definition with the live hosted plug-ins' state carried over, compiled.
    std::string rebuild(GraphDefinition definition, const ProcessSpec& processSpec,
                        Rebuild cause = Rebuild::ByUser);
    // [control] Rebuilds the patch, as an edit does, for the hosted plug-ins that asked for a
    // restart; waits while a take is being recorded, which a rebuild would cut.
    void restartAskingPlugins();

    // [control] Whether a block takes the control queue: the rack runs and, standalone, its
    // back end has not stopped by itself.
    bool audioRuns() const;
    // [control] One run-time change for a node's module. While audio runs it is queued for the
    // audio thread (false when the queue is full) and, but for players and recorders, also given
    // to the module at once; otherwise the module takes it at once. Changes queued for a run that
    // ended are dropped when audio stops or starts, so they never land after newer ones.
    bool sendControl(const std::string& nodeId, ModuleKind kind, std::uint32_t index, double value);

    nlohmann::json stateResult();
    nlohmann::json deviceStatus();
    bool recorderBusy() const;

    nlohmann::json play(const nlohmann::json& params);
    nlohmann::json record(const nlohmann::json& params);
    nlohmann::json parameter(const nlohmann::json& params);
    nlohmann::json replaceLayout(const nlohmann::json& params);
    nlohmann::json replaceGraph(const nlohmann::json& params);

    ModuleFactory moduleOverrides_;
    bool pluginMode_;
    ProcessSpec spec_{48000.0, 4096};
    AudioEngine engine_;
    GraphDefinition graph_;
    // Non-owning: the modules belong to the last published graph.
    std::map<std::string, Module*> modulesById_;
    nlohmann::json ports_ = nlohmann::json::object();
    nlohmann::json layout_;
    std::unique_ptr<AudioBackend> backend_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> recording_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint32_t> latency_{0};
    std::atomic<std::uint64_t> frameCounter_{0};
    std::atomic<std::uint64_t> blockCounter_{0};
    // The thread of the last host block: a stop requested there ends its run of audio.
    std::atomic<std::thread::id> hostBlockThread_{};
    std::string lastError_;
    PluginRestarts restarts_;
    ControlWindow controlWindow_;
};

} // namespace velkaphon::rack
