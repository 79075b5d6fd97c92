#pragma once

// A small host of our own: loads the rack's bundle through the library cache and drives its one
// class as a host does.

#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/interface_ptr.hpp"
#include "abi/vst3/processor.hpp"
#include "abi/vst3/uncounted_object.hpp"
#include "hosting/vst3_library.hpp"
#include "hosting/vst3_memory_stream.hpp"
#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

// The loaded bundle, shared by every test of the program.
std::shared_ptr<LoadedModule> rackPluginModule();

class CountingHandler final : public vst3::UncountedObject<vst3::IComponentHandler> {
public:
    vst3::tresult VELKAPHON_VST3_CALL beginEdit(vst3::ParamID) override { return vst3::kResultOk; }
    vst3::tresult VELKAPHON_VST3_CALL performEdit(vst3::ParamID, vst3::ParamValue) override {
        return vst3::kResultOk;
    }
    vst3::tresult VELKAPHON_VST3_CALL endEdit(vst3::ParamID) override { return vst3::kResultOk; }
    vst3::tresult VELKAPHON_VST3_CALL restartComponent(vst3::int32 flags) override {
        restarts.push_back(flags);
        return vst3::kResultOk;
    }

    std::vector<vst3::int32> restarts;
};

// One instance of the rack, initialized; terminated when it goes.
struct RackInstance {
    explicit RackInstance(vst3::IPluginFactory& factory);
    ~RackInstance();
    RackInstance(const RackInstance&) = delete;
    RackInstance& operator=(const RackInstance&) = delete;

    // setupProcessing, setActive and setProcessing, each expected to succeed.
    void start(std::int32_t sampleSize, std::int32_t maxBlock, double sampleRate = 48000.0);
    void finish();

    std::vector<std::uint8_t> state();
    vst3::tresult restore(const std::vector<std::uint8_t>& bytes);

    vst3::InterfacePtr<vst3::IComponent> component;
    vst3::InterfacePtr<vst3::IAudioProcessor> processor;
    vst3::InterfacePtr<vst3::IEditController> controller;
    CountingHandler handler;
};

// The blob the rack writes: the length in four little-endian bytes, then the text.
std::vector<std::uint8_t> blobOf(const std::string& text);
std::string textOf(const std::vector<std::uint8_t>& blob);

// The project with a class of the test plug-in between the rack's input and output.
nlohmann::json projectThrough(const nlohmann::json& project, Vst3TestClass audioClass);

} // namespace velkaphon::rack::testing
