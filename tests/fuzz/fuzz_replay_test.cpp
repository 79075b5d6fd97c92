#include "fuzz/doors.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// Every kept input, seeds and the inputs that once crashed alike, goes through its door again in
// every preset: under the sanitizers a finding fails the run, and a door that loses its corpus
// fails here.
TEST(FuzzReplay, EveryKeptInputPassesItsDoor) {
    for (const FuzzDoor& door : fuzzDoors()) {
        const fs::path folder = fs::path(VELKAPHON_FUZZ_CORPUS) / door.name;
        int inputs = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>()};
            SCOPED_TRACE(entry.path().string());
            door.enter(bytes);
            ++inputs;
        }
        EXPECT_GT(inputs, 0) << door.name;
    }
}

} // namespace
} // namespace velkaphon::rack
