#include "view/file_dialogs.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

class FileSelection : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-selection-" + std::to_string(random()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path touch(const fs::path& relative) {
        const fs::path path = folder_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path;
    }

    // The message of what validateSelection throws, or the accepted path's file name.
    std::string outcome(BrowseKind kind, const fs::path& chosen) {
        try {
            return validateSelection(kind, chosen).filename().string();
        } catch (const std::runtime_error& error) {
            return std::string("error: ") + error.what();
        }
    }

    fs::path folder_;
};

#ifdef _WIN32
fs::path bundleModule(const fs::path& bundle) {
    return bundle / "Contents" / "x86_64-win" / bundle.filename();
}
#else
fs::path bundleModule(const fs::path& bundle) {
    return bundle / "Contents" / "x86_64-linux" / (bundle.stem().string() + ".so");
}
#endif

TEST_F(FileSelection, RecordingDestinationNeverOverwrites) {
    EXPECT_EQ(outcome(BrowseKind::RecordingDestination, folder_ / "take.wav"), "take.wav");
    touch("take.wav");
    touch("take-take1.wav");
    EXPECT_EQ(outcome(BrowseKind::RecordingDestination, folder_ / "take.wav"), "take-take2.wav");
    // The user's letter case of the extension stays, also on the take name.
    touch("Loud.WAV");
    EXPECT_EQ(outcome(BrowseKind::RecordingDestination, folder_ / "Loud.WAV"), "Loud-take1.WAV");
}

TEST_F(FileSelection, SaveKindsAppendTheExtensionBeforeChecking) {
    EXPECT_EQ(outcome(BrowseKind::RecordingDestination, folder_ / "take"), "take.wav");
    EXPECT_EQ(outcome(BrowseKind::SaveProject, folder_ / "song"), "song.vkrack");
    EXPECT_EQ(outcome(BrowseKind::RecordingDestination, folder_ / "take.mp3"),
              "error: Choose a file with the .wav extension.");
    EXPECT_EQ(outcome(BrowseKind::SaveProject, folder_ / "song.json"),
              "error: Choose a project with the .vkrack extension.");
}

TEST_F(FileSelection, SaveDestinationsNeedAFolderAndAFileName) {
    fs::create_directories(folder_ / "song.vkrack");
    EXPECT_EQ(outcome(BrowseKind::SaveProject, folder_ / "song.vkrack"),
              "error: The destination is a folder; choose a filename.");
    EXPECT_EQ(outcome(BrowseKind::SaveProject, folder_ / "missing" / "song.vkrack"),
              "error: Choose an existing destination folder.");
    touch("kept.vkrack");
    EXPECT_EQ(outcome(BrowseKind::SaveProject, folder_ / "kept.vkrack"), "kept.vkrack");
}

TEST_F(FileSelection, OpenKindsNeedAnExistingFileOfTheirType) {
    EXPECT_EQ(outcome(BrowseKind::AudioFile, folder_ / "none.wav"),
              "error: The selected file does not exist.");
    touch("drums.Wav");
    EXPECT_EQ(outcome(BrowseKind::AudioFile, folder_ / "drums.Wav"), "drums.Wav");
    EXPECT_EQ(outcome(BrowseKind::AudioFile, folder_ / "drums"),
              "error: Choose a file with the .wav extension.");
    touch("old.vkrack");
    EXPECT_EQ(outcome(BrowseKind::OpenProject, folder_ / "old.vkrack"), "old.vkrack");
#ifndef _WIN32
    // Windows calls such a name not found.
    EXPECT_EQ(outcome(BrowseKind::AudioFile, folder_ / (std::string(4000, 'n') + ".wav")),
              "error: The file name is too long.");
#endif
}

TEST_F(FileSelection, PluginFilesAndBundles) {
    const fs::path bundle = folder_ / "Echo.vst3";
    fs::create_directories(bundle);
    EXPECT_EQ(outcome(BrowseKind::PluginFile, bundle), "error: The selected file does not exist.");
    EXPECT_EQ(outcome(BrowseKind::PluginFile, folder_ / "Echo.dll"),
              "error: Choose a .vst3 or .clap Windows x64 plugin file.");
    touch("Synth.CLAP");
    EXPECT_EQ(outcome(BrowseKind::PluginFile, folder_ / "Synth.CLAP"), "Synth.CLAP");

#ifdef _WIN32
    EXPECT_EQ(outcome(BrowseKind::PluginBundleFolder, bundle),
              "error: This VST3 bundle has no Windows x64 module in Contents/x86_64-win.");
#else
    EXPECT_EQ(outcome(BrowseKind::PluginBundleFolder, bundle),
              "error: This VST3 bundle has no Linux x64 module in Contents/x86_64-linux.");
#endif
    EXPECT_EQ(outcome(BrowseKind::PluginBundleFolder, folder_),
              "error: Choose a complete .vst3 bundle folder, not an ordinary folder.");
    EXPECT_EQ(outcome(BrowseKind::PluginBundleFolder, folder_ / "none.vst3"),
              "error: Choose an existing folder.");
    touch(fs::relative(bundleModule(bundle), folder_));
    EXPECT_EQ(outcome(BrowseKind::PluginBundleFolder, bundle), "Echo.vst3");
}

TEST_F(FileSelection, PathsComeBackAbsoluteAndNormal) {
    fs::create_directories(folder_ / "a" / "b");
    const fs::path accepted =
        validateSelection(BrowseKind::Folder, folder_ / "a" / "b" / ".." / ".");
    EXPECT_EQ(accepted, (folder_ / "a").lexically_normal());
    EXPECT_TRUE(accepted.is_absolute());
    EXPECT_EQ(outcome(BrowseKind::Folder, fs::path()), "error: No file or folder was selected.");
    touch("plain.txt");
    EXPECT_EQ(outcome(BrowseKind::Folder, folder_ / "plain.txt"),
              "error: Choose an existing folder.");
}

TEST_F(FileSelection, StartFolderAndFileName) {
    const fs::path file = touch("sub/drums.wav");
    BrowserStart start = browserStart(BrowseKind::AudioFile, file, std::nullopt);
    EXPECT_EQ(start.folder, file.parent_path());
    EXPECT_EQ(start.fileName, fs::path("drums.wav"));

    // Folder kinds never pre-fill a name.
    start = browserStart(BrowseKind::Folder, file, std::nullopt);
    EXPECT_EQ(start.folder, file.parent_path());
    EXPECT_FALSE(start.fileName);

    // A path that no longer exists opens in its nearest existing parent.
    start =
        browserStart(BrowseKind::PluginFile, folder_ / "gone" / "deeper" / "x.vst3", std::nullopt);
    EXPECT_EQ(start.folder, folder_);
    EXPECT_EQ(start.fileName, fs::path("x.vst3"));

    // An existing folder is the start itself.
    start = browserStart(BrowseKind::SaveProject, folder_, std::nullopt);
    EXPECT_EQ(start.folder, folder_);
    EXPECT_FALSE(start.fileName);
}

TEST_F(FileSelection, EmptyStartUsesTheCommonVst3FolderForPluginKindsOnly) {
    fs::create_directories(folder_ / "VST3");
    EXPECT_EQ(browserStart(BrowseKind::PluginFile, fs::path(), folder_).folder, folder_ / "VST3");
    EXPECT_EQ(browserStart(BrowseKind::PluginBundleFolder, fs::path(), folder_).folder,
              folder_ / "VST3");
    EXPECT_FALSE(browserStart(BrowseKind::AudioFile, fs::path(), folder_).folder);
    EXPECT_FALSE(browserStart(BrowseKind::PluginFile, fs::path(), std::nullopt).folder);
    EXPECT_FALSE(browserStart(BrowseKind::PluginFile, fs::path(), fs::path()).folder);
}

TEST(LowercaseExtension, LowersEveryUnitOfTheExtensionOnly) {
    EXPECT_EQ(lowercaseExtension("Name.VsT3"), fs::path(".vst3").native());
    EXPECT_EQ(lowercaseExtension("NAME"), fs::path().native());
    EXPECT_EQ(lowercaseExtension("dir.D/file.WAV"), fs::path(".wav").native());
}

} // namespace
} // namespace velkaphon::rack
