#include "app/project_file.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// The shell as a person starts it: its own process, its own per-user folder.
class ShellProgram {
public:
    explicit ShellProgram(const fs::path& localAppData) : output_(localAppData / "shell.out") {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("LOCALAPPDATA", localAppData.c_str(), 1);
            std::freopen(output_.c_str(), "w", stdout);
            std::freopen((localAppData / "shell.err").c_str(), "w", stderr);
            execl(VELKAPHON_RACK_PROGRAM, VELKAPHON_RACK_PROGRAM, nullptr);
            _exit(127);
        }
    }

    // The page's address once the shell printed it, or empty after ten seconds.
    std::string address() {
        for (int attempt = 0; attempt < 200; ++attempt) {
            std::ifstream file(output_);
            std::string line;
            while (std::getline(file, line)) {
                if (line.rfind("http://127.0.0.1:", 0) == 0) {
                    return line;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

    void requestClose() { kill(pid_, SIGTERM); }

    bool running() { return waitpid(pid_, nullptr, WNOHANG) == 0; }

    int terminate() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path output_;
    pid_t pid_;
};

class Shell : public ::testing::Test {
protected:
    Shell() {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-shell-" + std::to_string(random()));
        fs::create_directories(folder_);
    }
    ~Shell() override { fs::remove_all(folder_); }

    // Standard error once it holds the text, or after ten seconds.
    std::string errorsOnceHolding(const std::string& text) {
        for (int attempt = 0; attempt < 200 && errors().find(text) == std::string::npos;
             ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return errors();
    }

    std::string errors() {
        std::ifstream file(folder_ / "shell.err");
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    fs::path folder_;
};

TEST_F(Shell, AFirstStartCreatesTheFolderAndSigtermSavesTheRack) {
    ShellProgram first(folder_);
    EXPECT_NE(first.address(), "");
    EXPECT_TRUE(fs::is_directory(folder_ / "VELKAPHON RACK"));
    EXPECT_EQ(first.terminate(), 0);
    EXPECT_EQ(errors(), "");
    const auto saved = readProjectFile(folder_ / "VELKAPHON RACK" / "last-rack.vkrack");
    EXPECT_EQ(saved["product"], "VELKAPHON RACK");
    EXPECT_EQ(saved["graph"]["nodes"].size(), 3u);
}

TEST_F(Shell, AMalformedLastRackStartsACleanPatchAndSaysWhy) {
    fs::create_directories(folder_ / "VELKAPHON RACK");
    std::ofstream(folder_ / "VELKAPHON RACK" / "last-rack.vkrack") << "[1,";
    ShellProgram shell(folder_);
    EXPECT_NE(shell.address(), "");
    EXPECT_EQ(shell.terminate(), 0);
    EXPECT_EQ(errors().rfind("Last rack could not be restored. A clean patch is open.\n", 0), 0u);
    const fs::path broken = folder_ / "VELKAPHON RACK" / "last-rack.broken.vkrack";
    EXPECT_NE(errors().find("\nIt was kept as " + broken.string() + ".\n"), std::string::npos);
    // The bad file was kept aside before the close saved the clean patch.
    std::ifstream kept(broken);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "[1,");
    EXPECT_EQ(
        readProjectFile(folder_ / "VELKAPHON RACK" / "last-rack.vkrack")["graph"]["nodes"].size(),
        3u);
}

TEST_F(Shell, AFailedSaveKeepsTheShellOpenAndTheNextCloseSaves) {
    const fs::path storage = folder_ / "VELKAPHON RACK";
    // A folder where the save writes its temporary file.
    fs::create_directories(storage / "last-rack.vkrack.tmp");
    ShellProgram shell(folder_);
    ASSERT_NE(shell.address(), "");
    shell.requestClose();
    EXPECT_EQ(errorsOnceHolding("\n"), "Rack could not be saved: Could not create rack project.\n");
    EXPECT_TRUE(shell.running());
    EXPECT_FALSE(fs::exists(storage / "last-rack.vkrack"));

    fs::remove(storage / "last-rack.vkrack.tmp");
    EXPECT_EQ(shell.terminate(), 0);
    EXPECT_EQ(readProjectFile(storage / "last-rack.vkrack")["graph"]["nodes"].size(), 3u);
}

} // namespace
} // namespace velkaphon::rack
