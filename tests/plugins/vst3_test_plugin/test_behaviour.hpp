#pragma once

#include <cstdint>

namespace velkaphon::rack::testing {

// How one class of the test plug-in behaves.
struct TestBehaviour {
    const char* name = "";
    // The component answers IEditController itself.
    bool singleComponent = true;
    // The component names the controller class, made apart from it.
    bool separateController = false;
    bool supports32 = true;
    bool supports64 = true;
    std::uint32_t latency = 0;
    std::int32_t parameterCount = 2;
    std::int32_t audioInputs = 1;
    std::int32_t audioOutputs = 1;
    std::int32_t channels = 2;
    bool throwsInProcess = false;
    bool rejectsState = false;
    bool stateNotImplemented = false;
    // Asks the host for a latency restart whenever parameter 0 is set.
    bool restartsOnEdit = false;
    // The latency follows this parameter (value x 960 samples) when it is not -1.
    std::int32_t latencyParameter = -1;
    // Parameter 1 reports the block's input peak as an output change, parameter 2 is a program
    // change that resets the others to 0.5, a change of parameter 3 asks for a latency restart
    // from process, and parameters 4 and up are hidden.
    bool programs = false;
    // Has one event bus each way and sends every input event back out.
    bool echoesEvents = false;
    // Offers an "editor" view.
    bool hasEditor = false;
};

// Null for an index the plug-in does not have.
const TestBehaviour* testBehaviour(std::uint32_t classIndex);

} // namespace velkaphon::rack::testing
