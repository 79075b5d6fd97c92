#pragma once

// What tests need to watch the CLAP test plug-in.

#include "hosting/clap_library.hpp"
#include "tests/plugins/clap_test_plugin/clap_test_probe.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

// Points the CLAP test plug-in's call log at a fresh file while it lives, so that a test sees
// the load, init, deinit and unload of every library, also after the library is gone.
class ClapCallLog {
public:
    ClapCallLog();
    ~ClapCallLog();
    ClapCallLog(const ClapCallLog&) = delete;
    ClapCallLog& operator=(const ClapCallLog&) = delete;

    std::vector<std::string> lines() const;

private:
    std::filesystem::path path_;
};

// The counters of the test plug-in that the library holds loaded.
ClapTestProbe& clapTestProbe(const ClapLibrary& library);

} // namespace velkaphon::rack::testing
