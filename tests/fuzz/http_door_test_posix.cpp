#include "fuzz/http_door.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// The kept requests name the token and port by placeholders: unless the door writes this run's in
// and waits for the answer, every fuzzed request stops at the gate or goes unanswered.
TEST(HttpDoor, KeptRequestsAreAnsweredByTheHandlers) {
    const struct {
        const char* file;
        std::string body;
    } kRequests[] = {
        {"bridge.txt", "{\"id\":1}\n"},
        {"page.txt", "<!doctype html><title>rack</title>"},
    };
    for (const auto& request : kRequests) {
        std::ifstream file(fs::path(VELKAPHON_FUZZ_CORPUS) / "http" / request.file,
                           std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
        const std::string answer = loopbackRequest(bytes);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << request.file << "\n" << answer;
        EXPECT_TRUE(answer.ends_with("\r\n\r\n" + request.body)) << request.file << "\n" << answer;
    }
}

} // namespace
} // namespace velkaphon::rack
