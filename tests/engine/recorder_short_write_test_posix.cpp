#include "engine/recorder_writer.hpp"
#include "engine/wav_file.hpp"
#include "tests/engine/recorder_test_support.hpp"
#include "tests/engine/wav_test_files.hpp"
#include "tests/support/file_size_limit_posix.hpp"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;

// Whether the file holds numbered frames from the first on, whole frames only.
bool holdsNumberedFrames(const WavAudio& audio) {
    for (std::size_t i = 0; i < audio.samples.size(); ++i) {
        if (audio.samples[i] != frameValue(i / 2, static_cast<std::uint32_t>(i % 2))) {
            return false;
        }
    }
    return audio.channels == 2 && audio.samples.size() % 2 == 0;
}

std::string keptSentence(const std::string& reason, std::uint64_t frames, std::uint32_t rate,
                         const std::filesystem::path& file) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(frames) / rate);
    return "Recording stopped: " + reason + ". The take keeps the " + seconds +
           " s recorded: " + file.string() + ".";
}

TEST(RecorderShortWriteThreads, TakeKeepsWholeFramesAndStillReads) {
    ScratchFolder folder;
    const auto file = folder.file("full.wav");
    constexpr std::uint32_t channels = 2;
    // Room for 1000 frames and half a sample more.
    constexpr rlim_t limit = 44 + 1000 * channels * 4 + 2;
    std::vector<float> left(4096), right(4096);
    for (std::uint32_t i = 0; i < 4096; ++i) {
        left[i] = frameValue(i, 0);
        right[i] = frameValue(i, 1);
    }
    const float* inputs[] = {left.data(), right.data()};
    {
        FileSizeLimit full(limit);
        RecorderWriter writer;
        writer.allocateRing();
        writer.setDestination(file, channels, 48000);
        writer.startCapture(0);
        writer.pushToRing(inputs, channels, 4096, 0);
        writer.stopAndJoin();
        EXPECT_TRUE(writer.failed());
        EXPECT_TRUE(writer.finalized());
        EXPECT_EQ(writer.framesWritten(), 1000u);
        // Past the size limit the system says why, in its own words.
        EXPECT_EQ(writer.failureText(),
                  keptSentence(std::generic_category().message(EFBIG), 1000, 48000, file));
    }
    const auto bytes = readBytes(file);
    ASSERT_EQ(bytes.size(), 44u + 1000 * channels * 4);
    EXPECT_EQ(u32At(bytes, 40), 1000u * channels * 4);
    EXPECT_EQ(u32At(bytes, 4), 1000u * channels * 4 + 36);
    const WavAudio audio = readWavFile(file, wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), 2000u);
    EXPECT_EQ(audio.samples[1998], frameValue(999, 0));
    EXPECT_EQ(audio.samples[1999], frameValue(999, 1));
    EXPECT_NE(soxInfo(file).find("= 1000 samples"), std::string::npos);
}

// [child] A filesystem of 64 KiB of the child's own at folder, or false when the system allows
// no private mount.
bool mountSmallDisk(const std::filesystem::path& folder) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return false;
        }
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}

constexpr int kNoPrivateMount = 77;

TEST(RecorderShortWriteThreads, FullDiskStopsTheTakeWithASentence) {
    ScratchFolder folder;
    const auto disk = folder.path() / "disk";
    std::filesystem::create_directory(disk);
    const auto file = disk / "take.wav";
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child's disk vanishes with it: it reports what it saw, one line each.
        ::close(report[0]);
        if (!mountSmallDisk(disk)) {
            ::_exit(kNoPrivateMount);
        }
        std::ostringstream seen;
        {
            RecorderWriter writer;
            writer.allocateRing();
            writer.setDestination(file, 2, 8000);
            writer.startCapture(0);
            NumberedSource(2, 16384).push(writer, 0);
            writer.stopAndJoin();
            const WavAudio audio = readWavFile(file, wavPreloadLimit);
            seen << writer.failureText() << '\n'
                 << writer.framesWritten() << '\n'
                 << audio.samples.size() / 2 << '\n'
                 << holdsNumberedFrames(audio) << '\n'
                 << std::filesystem::file_size(file) << '\n';
        }
        const std::string text = seen.str();
        const bool sent =
            ::write(report[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(sent ? 0 : 1);
    }
    ::close(report[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoPrivateMount) {
        GTEST_SKIP() << "no private mount for a small disk here";
    }
    std::istringstream lines(text);
    std::string sentence;
    std::uint64_t frames = 0, readFrames = 0, bytes = 0;
    bool numbered = false;
    std::getline(lines, sentence);
    lines >> frames >> readFrames >> numbered >> bytes;
    ASSERT_TRUE(lines) << text;
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, 16384u);
    EXPECT_EQ(sentence, keptSentence("the disk is full", frames, 8000, file));
    EXPECT_EQ(readFrames, frames);
    EXPECT_TRUE(numbered);
    EXPECT_EQ(bytes, 44 + frames * 8);
}

// [child] Records numbered frames to file, a block a millisecond, until it is killed.
[[noreturn]] void recordUntilKilled(const std::filesystem::path& file) {
    RecorderWriter writer;
    writer.allocateRing();
    writer.setDestination(file, 2, 8000);
    writer.startCapture(0);
    constexpr std::uint32_t block = 256;
    NumberedSource source(2, block);
    for (std::uint64_t position = 0; position < 8000 * 600; position += block) {
        source.push(writer, position);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (;;) {
        ::pause();
    }
}

TEST(RecorderCrash, KilledTakeOpensWithAllButItsLastSecond) {
    ScratchFolder folder;
    const auto file = folder.file("killed.wav");
    constexpr std::uint64_t second = 8000 * 2 * 4;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        recordUntilKilled(file);
    }
    // Three seconds on the disk, then the kill in the middle of the take.
    std::error_code error;
    int status = 0;
    while (std::filesystem::file_size(file, error) < 44 + 3 * second || error) {
        ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the recording child ended";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    const auto bytes = readBytes(file);
    const std::uint32_t counted = u32At(bytes, 40);
    EXPECT_EQ(u32At(bytes, 4), 0xFFFFFFFFu);
    EXPECT_EQ(counted % 8, 0u);
    EXPECT_GE(counted, second);
    EXPECT_LE(bytes.size() - 44 - counted, second);
    const WavAudio audio = readWavFile(file, wavPreloadLimit);
    EXPECT_EQ(audio.samples.size(), (bytes.size() - 44) / 8 * 2);
    EXPECT_TRUE(holdsNumberedFrames(audio));
    const std::string info = soxInfo(file);
    EXPECT_NE(info.find("= " + std::to_string(counted / 8) + " samples"), std::string::npos)
        << info;
}

} // namespace
} // namespace velkaphon::rack
