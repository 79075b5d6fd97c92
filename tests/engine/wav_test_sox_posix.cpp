#include "tests/engine/wav_test_files.hpp"

#include <sys/wait.h>

#include <cstdio>

namespace velkaphon::rack::testing {

namespace {} // namespace

std::string soxPath(const std::filesystem::path& path) {
    return path.string();
}

int runSox(const std::vector<std::string>& arguments, std::string* output) {
    std::string command = "sox";
    for (const auto& argument : arguments) {
        command += " " + shellQuoted(argument);
    }
    command += " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output != nullptr) {
            output->append(buffer, count);
        }
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace velkaphon::rack::testing
