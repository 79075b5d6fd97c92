#pragma once

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

} // namespace velkaphon::rack::testing
