#include "tests/plugins/vst3_test_plugin/plugin_log.hpp"

#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace velkaphon::rack::testing {

namespace {

std::string logPath() {
#ifdef _WIN32
    // The process environment itself, whichever C runtime the test program changed it through.
    char path[1024];
    const DWORD length = GetEnvironmentVariableA(kVst3TestLogVariable, path, sizeof(path));
    return length > 0 && length < sizeof(path) ? std::string(path, length) : std::string();
#else
    const char* path = std::getenv(kVst3TestLogVariable);
    return path != nullptr ? std::string(path) : std::string();
#endif
}

} // namespace

void writePluginLog(std::string_view line) {
    const std::string path = logPath();
    if (path.empty()) {
        return;
    }
    if (std::FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

} // namespace velkaphon::rack::testing
