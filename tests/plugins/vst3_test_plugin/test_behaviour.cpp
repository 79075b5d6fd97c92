#include "tests/plugins/vst3_test_plugin/test_behaviour.hpp"

#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

namespace velkaphon::rack::testing {

namespace {

TestBehaviour named(const char* name) {
    TestBehaviour behaviour;
    behaviour.name = name;
    return behaviour;
}

const TestBehaviour* behaviours() {
    static const TestBehaviour table[kVst3TestClassCount] = {
        [] {
            auto b = named("Test Gain");
            b.hasEditor = true;
            return b;
        }(),
        [] {
            auto b = named("Test Latency");
            b.latency = kVst3TestLatency;
            return b;
        }(),
        [] {
            auto b = named("Test 64-bit Only");
            b.supports32 = false;
            return b;
        }(),
        [] {
            auto b = named("Test Separate Controller");
            b.singleComponent = false;
            b.separateController = true;
            return b;
        }(),
        [] {
            auto b = named("Test No Controller");
            b.singleComponent = false;
            b.parameterCount = 0;
            return b;
        }(),
        [] {
            auto b = named("Test Throws");
            b.throwsInProcess = true;
            return b;
        }(),
        [] {
            auto b = named("Test Rejects State");
            b.rejectsState = true;
            return b;
        }(),
        [] {
            auto b = named("Test No State");
            b.stateNotImplemented = true;
            return b;
        }(),
        [] {
            auto b = named("Test Restarts");
            b.restartsOnEdit = true;
            b.latencyParameter = 0;
            return b;
        }(),
        [] {
            auto b = named("Test Event Echo");
            b.echoesEvents = true;
            return b;
        }(),
        [] {
            auto b = named("Test Many Parameters");
            b.parameterCount = 4096;
            return b;
        }(),
        [] {
            auto b = named("Test Too Many Parameters");
            b.parameterCount = 4097;
            return b;
        }(),
        [] {
            auto b = named("Test No Sample Size");
            b.supports32 = false;
            b.supports64 = false;
            return b;
        }(),
        [] {
            auto b = named("Test 32-bit Only");
            b.supports64 = false;
            return b;
        }(),
        [] {
            auto b = named("Test Programs");
            b.programs = true;
            b.parameterCount = 6;
            b.latencyParameter = 3;
            return b;
        }(),
    };
    return table;
}

} // namespace

const TestBehaviour* testBehaviour(std::uint32_t classIndex) {
    return classIndex < kVst3TestClassCount ? &behaviours()[classIndex] : nullptr;
}

} // namespace velkaphon::rack::testing
