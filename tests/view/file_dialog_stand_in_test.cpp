#include "view/file_dialogs.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velkaphon::rack {
namespace {

#ifndef _WIN32
// On this machine the starting path stands for the choice and is checked like one.
TEST(FileDialogStandIn, EmptyStartIsACancelledDialog) {
    const BrowseResult result = browseForPath(nullptr, BrowseKind::AudioFile, "");
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.path, "");
}

TEST(FileDialogStandIn, TheStartIsCheckedAsAChoice) {
    const auto folder = std::filesystem::temp_directory_path();
    const BrowseResult result = browseForPath(nullptr, BrowseKind::Folder, folder.string() + "/.");
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.path, folder.lexically_normal().string());
    try {
        browseForPath(nullptr, BrowseKind::AudioFile, (folder / "velkaphon-missing.wav").string());
        FAIL() << "a missing file was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The selected file does not exist.");
    }
}

TEST(FileDialogStandIn, InvalidUtf8IsRefused) {
    try {
        browseForPath(nullptr, BrowseKind::AudioFile, "bad\xC0\xAF.wav");
        FAIL() << "invalid UTF-8 was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The current file path is not valid UTF-8.");
    }
}
#endif

} // namespace
} // namespace velkaphon::rack
