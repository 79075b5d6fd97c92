#include "tests/hosting/clap_test_plugin_support.hpp"

#include <cstdlib>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace velkaphon::rack::testing {

namespace {

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Test programs of several builds may run at once.
std::filesystem::path logPath() {
#ifdef _WIN32
    const int process = _getpid();
#else
    const int process = getpid();
#endif
    return std::filesystem::temp_directory_path() /
           ("velkaphon-clap-call-log-" + std::to_string(process) + ".txt");
}

} // namespace

ClapCallLog::ClapCallLog() : path_(logPath()) {
    std::filesystem::remove(path_);
    setVariable(kClapTestLogVariable, path_.string());
}

ClapCallLog::~ClapCallLog() {
    // An empty value turns the log off.
    setVariable(kClapTestLogVariable, "");
    std::filesystem::remove(path_);
}

std::vector<std::string> ClapCallLog::lines() const {
    std::vector<std::string> result;
    std::ifstream file(path_);
    for (std::string line; std::getline(file, line);) {
        result.push_back(line);
    }
    return result;
}

ClapTestProbe& clapTestProbe(const ClapLibrary& library) {
    const auto probe = reinterpret_cast<ClapTestProbeFunction>(
        findLibraryExport(library.module, kClapTestProbeSymbol));
    return *probe();
}

} // namespace velkaphon::rack::testing
