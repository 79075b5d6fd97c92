#pragma once

// What the VST3 test plug-in and the tests that load it agree on.
//
// Load and unload leave lines in the file named by kVst3TestLogVariable (when it is set), so
// that tests can read them after the module is gone: "InitDll", "GetPluginFactory",
// "factory released", "ExitDll", "unloaded", and "create <class>", "initialize <class>",
// "terminate <class>", "destroy <class>" for every object.
// While the module is loaded, its exported "velkaphonVst3TestProbe" gives live counters.

#include "abi/vst3/base.hpp"

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
};
inline constexpr std::uint32_t kVst3TestClassCount = 12;
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

struct Vst3TestProbe {
    std::atomic<std::int32_t> initDllCalls{0};
    std::atomic<std::int32_t> exitDllCalls{0};
    std::atomic<std::int32_t> liveObjects{0};
    std::atomic<std::int32_t> processCalls{0};
    // Make the most recent controller talk to its host's handler as a plug-in thread would.
    vst3::tresult (*performEdit)(std::uint32_t id, double value) = nullptr;
    vst3::tresult (*restartComponent)(std::int32_t flags) = nullptr;
};

using Vst3TestProbeFunction = Vst3TestProbe* (*)();

} // namespace velkaphon::rack::testing
