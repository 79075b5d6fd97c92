#pragma once

// What the VST3 test plug-in and the tests that load it agree on.
//
// Load and unload leave lines in the file named by kVst3TestLogVariable (when it is set), so
// that tests can read them after the module is gone: "InitDll", "GetPluginFactory",
// "factory released", "ExitDll", "unloaded", and "create <class>", "initialize <class>",
// "terminate <class>", "destroy <class>" for every object, and the set-up and view calls
// ("setupProcessing <class> <size>", "processing on <class>", "view attached", ...).
// While the module is loaded, its exported "velkaphonVst3TestProbe" gives live counters.

#include "abi/vst3/processor.hpp"
#include "abi/vst3/view.hpp"

#include <atomic>
#include <cstdint>

namespace velkaphon::rack::testing {

inline constexpr const char* kVst3TestLogVariable = "VELKAPHON_TEST_VST3_LOG";
inline constexpr const char* kVst3TestProbeExport = "velkaphonVst3TestProbe";

// The audio classes, in factory order after the controller class (index 0) and a class whose
// information the factory refuses (index 1).
enum class Vst3TestClass : std::uint32_t {
    Gain,
    Latency,
    Only64Bit,
    SeparateController,
    NoController,
    Throws,
    RejectsState,
    NoState,
    Restarts,
    EventEcho,
    ManyParameters,
    TooManyParameters,
    NoSampleSize,
    Only32Bit,
    Programs,
};
inline constexpr std::uint32_t kVst3TestClassCount = 15;
inline constexpr std::uint32_t kVst3TestControllerIndex = 0xC0;

constexpr vst3::Uid vst3TestClassId(std::uint32_t index) {
    return vst3::makeUid(0x564B5445, 0x53545653, 0x54000000, index);
}

constexpr vst3::Uid vst3TestClassId(Vst3TestClass audioClass) {
    return vst3TestClassId(static_cast<std::uint32_t>(audioClass));
}

// The fixed latency of Vst3TestClass::Latency, and the id of parameter i of every class.
inline constexpr std::uint32_t kVst3TestLatency = 480;
constexpr std::uint32_t vst3TestParameterId(std::uint32_t index) {
    return 1000 + index;
}

// A set-up step that tests make fail, by its result or (throwOnFailure) by an exception.
enum class Vst3TestStep : std::int32_t {
    None,
    CreateComponent,
    InitializeComponent,
    CreateController,
    InitializeController,
    SetHandler,
    ConnectComponent,
    ConnectController,
    SetState,
    ActivateBus,
    SetupProcessing,
    ParameterInfo,
    SetActive,
    SetProcessing,
    Process,
    GetControllerState,
    SetControllerState,
};

// What the plug-in saw in its last process call (the first few of each kind).
struct Vst3TestBlock {
    static constexpr int kKept = 8;

    vst3::int32 sampleSize = -1;
    vst3::int32 frames = 0;
    vst3::int32 numInputs = 0;
    vst3::int32 numOutputs = 0;
    vst3::uint64 inputSilence = 0;  // of input bus 0
    double inputSamples[2][4] = {}; // input bus 0, channels 0 and 1, frames 0..3
    vst3::ProcessContext context{};
    vst3::int32 changeCount = 0;
    vst3::ParamID changeIds[kKept] = {};
    vst3::int32 changeOffsets[kKept] = {};
    double changeValues[kKept] = {};
    vst3::int32 eventCount = 0;
    vst3::Event events[kKept] = {};
    vst3::uint8 sysExCodes[kKept] = {}; // byte 5 of a 7-byte SysEx event, else 0
};

struct Vst3TestProbe {
    std::atomic<std::int32_t> initDllCalls{0};
    std::atomic<std::int32_t> exitDllCalls{0};
    std::atomic<std::int32_t> liveObjects{0};
    std::atomic<std::int32_t> processCalls{0};
    // Make the most recent controller talk to its host's handler as a plug-in thread would.
    vst3::tresult (*performEdit)(std::uint32_t id, double value) = nullptr;
    vst3::tresult (*restartComponent)(std::int32_t flags) = nullptr;
    // The most recent separate controller's own view setting, which only its own state keeps;
    // its setState leaves "setState Test Controller <zoom>" in the log.
    void (*setViewZoom)(double zoom) = nullptr;

    std::atomic<Vst3TestStep> failAt{Vst3TestStep::None};
    std::atomic<bool> throwOnFailure{false};
    // setProcessing answers kNotImplemented, as the SDK's effect base class does by default.
    std::atomic<bool> processingNotImplemented{false};
    // The latency every class reports when not 0.
    std::atomic<std::uint32_t> latencyOverride{0};
    Vst3TestBlock lastBlock{};
    // Run by every process call once it has taken the block's parameter changes, when set.
    void (*duringProcess)() = nullptr;
    // Not negative: every process call then moves parameter 0 to it by itself and reports it.
    double ownValue = -1.0;
    // Appended to the output events of Vst3TestClass::EventEcho when set.
    bool addOutputEvent = false;
    vst3::Event outputEvent{};

    // The editor view of Vst3TestClass::Gain.
    vst3::ViewRect viewSize{0, 0, 320, 200};
    bool viewRefusesHwnd = false;
    bool viewRefusesAttach = false;
    // The view asks its frame for this size from inside its own onSize, once.
    bool resizeFromOnSize = false;
    vst3::tresult nestedResizeResult = -100;
    // Ask the frame of the most recent view for a new size, as a plug-in's editor does.
    vst3::tresult (*resizeView)(vst3::int32 width, vst3::int32 height) = nullptr;
};

using Vst3TestProbeFunction = Vst3TestProbe* (*)();

} // namespace velkaphon::rack::testing
