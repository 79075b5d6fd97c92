#pragma once

// Making CLAP modules of the test plug-in, and holding it loaded to read its probe.

#include "hosting/clap_library.hpp"
#include "hosting/clap_module.hpp"
#include "tests/hosting/clap_test_plugin_support.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace velkaphon::rack::testing {

inline nlohmann::json clapConfiguration(const std::string& pluginId) {
    return {{"path", VELKAPHON_CLAP_TEST_PLUGIN}, {"pluginId", pluginId}};
}

inline std::unique_ptr<HostedModule> makeClapModule(const nlohmann::json& configuration,
                                                    bool prepare = true) {
    std::unique_ptr<Module> module = createClapModule(configuration);
    auto hosted = std::unique_ptr<HostedModule>(dynamic_cast<HostedModule*>(module.release()));
    if (prepare) {
        hosted->prepare({48000.0, 512});
    }
    return hosted;
}

inline std::string clapError(const nlohmann::json& configuration, bool prepare = true) {
    try {
        makeClapModule(configuration, prepare);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

class HeldClapPlugin {
public:
    HeldClapPlugin() : library_(acquireClapLibrary(VELKAPHON_CLAP_TEST_PLUGIN)) {}
    ClapTestProbe& probe() { return clapTestProbe(*library_); }

private:
    std::shared_ptr<ClapLibrary> library_;
};

} // namespace velkaphon::rack::testing
