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
    // Has one event bus each way and sends every input event back out.
    bool echoesEvents = false;
    // Offers an "editor" view.
    bool hasEditor = false;
};

// Null for an index the plug-in does not have.
const TestBehaviour* testBehaviour(std::uint32_t classIndex);

} // namespace velkaphon::rack::testing
