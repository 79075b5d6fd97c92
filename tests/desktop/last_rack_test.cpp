#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "desktop/last_rack.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class LastRack : public ::testing::Test {
protected:
    LastRack() {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-last-rack-" + std::to_string(random()));
        fs::create_directories(folder_);
        path_ = folder_ / "last-rack.vkrack";
    }
    ~LastRack() override { fs::remove_all(folder_); }

    json layout() { return rack_.handleCommand({{"method", "state"}})["project"]["layout"]; }

    RackApplication rack_{false};
    fs::path folder_;
    fs::path path_;
};

TEST_F(LastRack, AMissingFileIsNothingToRestore) {
    EXPECT_EQ(restoreLastRack(rack_, path_), std::nullopt);
    EXPECT_EQ(layout()["faders"]["x"], 380);
#ifndef _WIN32
    // Any other failure of the query is told in a sentence, not with the path; Windows calls
    // such a name not found.
    EXPECT_EQ(
        restoreLastRack(rack_, folder_ / std::string(4000, 'n')),
        "Last rack could not be restored. A clean patch is open.\nThe file name is too long.");
#endif
}

std::string contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST_F(LastRack, AFileThatFailsIsKeptAsideBeforeTheCloseCanOverwriteIt) {
    const std::string first = "Last rack could not be restored. A clean patch is open.\n";
    const fs::path broken = folder_ / "last-rack.broken.vkrack";
    const std::string kept = "\nIt was kept as " + broken.string() + ".";
    std::ofstream(path_) << "{ \"product\": ";
    const auto warning = restoreLastRack(rack_, path_);
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->substr(0, first.size()), first);
    EXPECT_NE(warning->find("parse error"), std::string::npos);
    EXPECT_EQ(warning->substr(warning->size() - kept.size()), kept);
    EXPECT_EQ(layout()["faders"]["x"], 380);
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(contents(broken), "{ \"product\": ");

    // A later failure replaces the older broken file.
    const std::string other = R"({"product": "Other", "graph": {}})";
    std::ofstream(path_) << other;
    EXPECT_EQ(*restoreLastRack(rack_, path_),
              first + "This is not a VELKAPHON RACK project." + kept);
    EXPECT_EQ(contents(broken), other);

    EXPECT_EQ(stopAndSaveLastRack(rack_, path_), std::nullopt);
    EXPECT_EQ(readProjectFile(path_)["layout"]["faders"]["x"], 380);
    EXPECT_EQ(contents(broken), other);
}

TEST_F(LastRack, AFileThatCannotBeKeptAsideIsToldAndLeftInPlace) {
    std::ofstream(path_) << "[";
    fs::create_directories(folder_ / "last-rack.broken.vkrack" / "inside");
    const auto warning = restoreLastRack(rack_, path_);
    ASSERT_TRUE(warning);
    const std::string told =
        "\nIt could not be kept as " + (folder_ / "last-rack.broken.vkrack").string() + ": ";
    EXPECT_NE(warning->find(told), std::string::npos) << *warning;
    EXPECT_EQ(contents(path_), "[");
}

TEST_F(LastRack, ASavedRackIsRestoredByTheNextStart) {
    rack_.handleCommand({{"method", "layout"}, {"params", {{"input", {{"x", 7}, {"y", 8}}}}}});
    EXPECT_EQ(stopAndSaveLastRack(rack_, path_), std::nullopt);
    EXPECT_EQ(readProjectFile(path_)["layout"]["input"]["x"], 7);

    RackApplication next(false);
    EXPECT_EQ(restoreLastRack(next, path_), std::nullopt);
    EXPECT_EQ(next.handleCommand({{"method", "state"}})["project"]["layout"]["input"]["y"], 8);
}

TEST_F(LastRack, AFailedSaveIsToldAndKeepsTheOldFile) {
    std::ofstream(path_) << "old";
    // A folder where the temporary file goes: the save fails before the target is touched.
    fs::create_directories(folder_ / "last-rack.vkrack.tmp");
    EXPECT_EQ(stopAndSaveLastRack(rack_, path_), "Could not create rack project.");
    std::ifstream file(path_);
    std::string text;
    file >> text;
    EXPECT_EQ(text, "old");
}

} // namespace
} // namespace velkaphon::rack
