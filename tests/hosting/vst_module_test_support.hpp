#pragma once

// Making VST3 modules of the test plug-in's classes, and watching the plug-in while they run.

#include "hosting/shared_library.hpp"
#include "hosting/vst3_class_id.hpp"
#include "hosting/vst3_library.hpp"
#include "hosting/vst_module.hpp"
#include "tests/hosting/vst3_test_support.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace velkaphon::rack::testing {

inline nlohmann::json vstConfiguration(Vst3TestClass audioClass) {
    return {{"path", VELKAPHON_TEST_VST3},
            {"classId", vstClassIdText(vst3TestClassId(audioClass))}};
}

inline std::unique_ptr<HostedModule> makeVstModule(const nlohmann::json& configuration) {
    std::unique_ptr<Module> module = createVstModule(configuration);
    return std::unique_ptr<HostedModule>(dynamic_cast<HostedModule*>(module.release()));
}

inline std::unique_ptr<HostedModule> preparedVstModule(const nlohmann::json& configuration,
                                                       ProcessSpec spec = {}) {
    auto module = makeVstModule(configuration);
    module->prepare(spec);
    return module;
}

inline std::string vstError(const nlohmann::json& configuration, bool prepare = true) {
    try {
        auto module = makeVstModule(configuration);
        if (prepare) {
            module->prepare({});
        }
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

// Keeps the test plug-in loaded, so that its probe can be read before, between and after
// modules, and starts each test from a clean probe.
class HeldVstPlugin {
public:
    HeldVstPlugin() : library_(acquireVstLibrary(u16(VELKAPHON_TEST_VST3))) {
        auto probeFunction = reinterpret_cast<Vst3TestProbeFunction>(
            findLibraryExport(library_->library, kVst3TestProbeExport));
        probe_ = probeFunction();
        reset();
    }

    ~HeldVstPlugin() { reset(); }

    Vst3TestProbe& probe() { return *probe_; }

private:
    void reset() {
        probe_->failAt = Vst3TestStep::None;
        probe_->throwOnFailure = false;
        probe_->latencyOverride = 0;
        probe_->addOutputEvent = false;
        probe_->duringProcess = nullptr;
        probe_->ownValue = -1.0;
        probe_->viewSize = {0, 0, 320, 200};
        probe_->viewRefusesHwnd = false;
        probe_->viewRefusesAttach = false;
        probe_->resizeFromOnSize = false;
        probe_->nestedResizeResult = -100;
    }

    std::shared_ptr<LoadedModule> library_;
    Vst3TestProbe* probe_ = nullptr;
};

} // namespace velkaphon::rack::testing
