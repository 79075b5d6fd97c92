#include "engine/media_module.hpp"
#include "engine/recorder_module.hpp"
#include "engine/utf8_text.hpp"
#include "engine/wav_file.hpp"
#include "tests/engine/recorder_test_support.hpp"
#include "tests/engine/wav_test_files.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

std::filesystem::path configuredPath(const json& configuration) {
    return pathFromUtf8(configuration.at("path").get<std::string>()).value();
}

RackEvent event(RackEventKind kind, std::uint32_t offset) {
    return RackEvent{kind, offset};
}

// Naming, with the file system replaced by a set of names.

TEST(RecorderNaming, FreePathIsTakenAsItIs) {
    const std::filesystem::path requested = "/music/idea.aiff";
    EXPECT_EQ(chooseTakePath(requested, [](const auto&) { return false; }), requested);
}

TEST(RecorderNaming, TakeNumbersAdvanceInsteadOfNesting) {
    std::set<std::filesystem::path> present = {"/m/song.wav", "/m/song-take1.wav"};
    const auto exists = [&](const std::filesystem::path& path) {
        return present.count(path) > 0;
    };
    EXPECT_EQ(chooseTakePath("/m/song.wav", exists), "/m/song-take2.wav");
    EXPECT_EQ(chooseTakePath("/m/song-take1.wav", exists), "/m/song-take2.wav");
    present.insert("/m/song-take2.wav");
    EXPECT_EQ(chooseTakePath("/m/song-take1.wav", exists), "/m/song-take3.wav");
    // Only a trailing "-take" with digits is a take number.
    present = {"/m/song-take.flac", "/m/take7.wav"};
    EXPECT_EQ(chooseTakePath("/m/song-take.flac", exists), "/m/song-take-take1.wav");
    EXPECT_EQ(chooseTakePath("/m/take7.wav", exists), "/m/take7-take1.wav");
}

TEST(RecorderNaming, EveryNumberTakenGivesTheLastCandidate) {
    std::size_t looks = 0;
    const auto all = [&](const std::filesystem::path&) {
        ++looks;
        return true;
    };
    EXPECT_EQ(chooseTakePath("/m/song.wav", all), "/m/song-take99999.wav");
    EXPECT_EQ(looks, 100000u);
}

TEST(RecorderConfiguration, Refusals) {
    const auto error = [](json configuration) -> std::string {
        try {
            RecorderModule module(configuration);
        } catch (const std::exception& failure) {
            return failure.what();
        }
        return "no error";
    };
    EXPECT_EQ(error({{"channels", 0}}), "Media channels must be 1..64");
    EXPECT_EQ(error({{"channels", 65}}), "Media channels must be 1..64");
    EXPECT_EQ(error({{"channels", 4294967297LL}}), "Media channels must be 1..64");
    EXPECT_EQ(error({{"channels", true}}),
              "[json.exception.type_error.302] type must be number, but is boolean");
    EXPECT_EQ(error({{"armed", "yes"}}),
              "[json.exception.type_error.302] type must be boolean, but is string");
    EXPECT_EQ(error({{"silenceDb", false}}),
              "[json.exception.type_error.302] type must be number, but is boolean");
    // An unarmed recorder needs no path.
    EXPECT_EQ(error({{"channels", 64}, {"silenceSeconds", -5}}), "no error");
    RecorderModule recorder(json{{"channels", 3}});
    EXPECT_EQ(recorder.inputs(), (std::vector<PortSpec>{{"in", "Record audio", 3}}));
    EXPECT_EQ(recorder.outputs(), (std::vector<PortSpec>{{"out", "Monitor thru", 3}}));
}

TEST(RecorderConfiguration, ArmedWithoutPathFailsAtPrepare) {
    RecorderModule recorder(json{{"armed", true}});
    EXPECT_THROW(recorder.prepare({48000.0, 64}), json::out_of_range);
}

TEST(Recorder, UnarmedRecorderMonitorsAndMetersOnly) {
    RecorderModule recorder(json{{"channels", 2}});
    recorder.prepare({48000.0, 64});
    TestBlock block(2, 3, 64);
    block.input(0).assign(64, 0.5f);
    block.input(1).assign(64, std::numeric_limits<float>::quiet_NaN());
    recorder.setControl(0, 1.0);
    block.run(recorder, 0, {event(RackEventKind::Start, 0)});
    EXPECT_EQ(block.output(0), std::vector<float>(64, 0.5f));
    EXPECT_EQ(block.output(1), std::vector<float>(64, 0.0f));
    EXPECT_EQ(block.output(2), std::vector<float>(64, 0.0f));
    EXPECT_EQ(block.outputEvents.count, 0u);
    const json status = recorder.status()["status"];
    EXPECT_FALSE(status["ready"]);
    EXPECT_FALSE(status["recording"]);
    EXPECT_TRUE(status["finalized"]);
    EXPECT_EQ(status["levelL"], 0.5);
    EXPECT_EQ(status["invalidSamples"], 64);
    EXPECT_EQ(status["inputPeaks"].size(), 2u);
    EXPECT_EQ(status["sampleRate"], 48000.0);
    EXPECT_EQ(status["acceptedFrames"], 0);
}

class RecorderTakeThreads : public ::testing::Test {
protected:
    std::filesystem::path path(std::string_view name) const { return folder.file(name); }

    std::unique_ptr<RecorderModule> armed(std::string_view name, json configuration = {}) {
        if (configuration.is_null()) {
            configuration = json::object();
        }
        configuration["armed"] = true;
        configuration["path"] = utf8Text(path(name));
        auto recorder = std::make_unique<RecorderModule>(configuration);
        recorder->prepare({48000.0, 64});
        recorder->allocateStorage();
        return recorder;
    }

    // The take as our reader and as sox see it.
    void expectTake(const std::filesystem::path& file, std::uint32_t channels,
                    std::uint64_t firstFrame, std::uint64_t frames) {
        const Bytes bytes = readBytes(file);
        ASSERT_EQ(bytes.size(), 44 + frames * channels * 4);
        EXPECT_EQ(u32At(bytes, 4), 36 + frames * channels * 4);
        EXPECT_EQ(u32At(bytes, 40), frames * channels * 4);
        const WavAudio audio = readWavFile(file, wavPreloadLimit);
        EXPECT_EQ(audio.channels, channels);
        EXPECT_EQ(audio.sampleRate, 48000u);
        ASSERT_EQ(audio.samples.size(), frames * channels);
        for (std::uint64_t f = 0; f < frames; ++f) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                ASSERT_EQ(audio.samples[f * channels + c], frameValue(firstFrame + f, c))
                    << "frame " << f << " channel " << c;
            }
        }
        const std::string info = soxInfo(file);
        EXPECT_NE(info.find("Channels       : " + std::to_string(channels)), std::string::npos)
            << info;
        EXPECT_NE(info.find("Sample Rate    : 48000"), std::string::npos) << info;
        EXPECT_NE(info.find("= " + std::to_string(frames) + " samples"), std::string::npos) << info;
        EXPECT_NE(info.find("32-bit Floating Point PCM"), std::string::npos) << info;
    }

    ScratchFolder folder;
};

TEST_F(RecorderTakeThreads, ArmedPrepareCreatesTheFileWithAHeaderForZeroSamples) {
    auto recorder = armed("idea.take");
    const json status = recorder->status();
    EXPECT_EQ(configuredPath(status), path("idea.take"));
    // The application stores the path with forward slashes on Windows.
    EXPECT_EQ(status["path"].get<std::string>().find('\\'), std::string::npos);
    EXPECT_TRUE(status["status"]["ready"]);
    EXPECT_TRUE(status["status"]["hasDestination"]);
    EXPECT_FALSE(status["status"]["finalized"]);
    EXPECT_EQ(status["status"]["frames"], 0);
    const Bytes bytes = readBytes(path("idea.take"));
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(u32At(bytes, 4), 36u);
    EXPECT_EQ(u32At(bytes, 40), 0u);
    // Destroyed without a single frame: the empty take goes with it.
    recorder.reset();
    EXPECT_FALSE(std::filesystem::exists(path("idea.take")));
}

TEST_F(RecorderTakeThreads, RecordsFromTheStartFrameUntilStopped) {
    auto recorder = armed("take.wav", {{"channels", 3}});
    TestBlock block(3, 3, 64);
    runNumbered(*recorder, block, 6400, 3);
    runNumbered(*recorder, block, 6464, 3, {event(RackEventKind::Start, 10)});
    EXPECT_EQ(block.output(2)[5], frameValue(6469, 2));
    for (std::int64_t position = 6528; position < 6528 + 64 * 20; position += 64) {
        runNumbered(*recorder, block, position, 3);
    }
    EXPECT_TRUE(recorder->status()["status"]["recording"]);
    stopMediaModule(*recorder);
    const json status = recorder->status();
    EXPECT_FALSE(status["armed"]);
    EXPECT_TRUE(status["status"]["finalized"]);
    EXPECT_FALSE(status["status"]["ready"]);
    EXPECT_FALSE(status["status"]["recording"]);
    EXPECT_FALSE(status["status"]["failed"]);
    const std::uint64_t frames = 54 + 64 * 20;
    EXPECT_EQ(status["status"]["frames"], frames);
    EXPECT_EQ(status["status"]["acceptedFrames"], frames);
    EXPECT_EQ(status["status"]["seconds"], frames / 48000.0);
    EXPECT_EQ(status["status"]["droppedFrames"], 0);
    expectTake(path("take.wav"), 3, 6474, frames);
    // A take with frames stays when its recorder goes.
    recorder.reset();
    expectTake(path("take.wav"), 3, 6474, frames);
}

TEST_F(RecorderTakeThreads, ExistingFilesGetTheNextTakeNameAndRecompilesDoNotNest) {
    writeBytes(path("song.wav"), {1, 2, 3});
    auto first = armed("song.wav", {{"channels", 1}});
    EXPECT_EQ(configuredPath(first->status()), path("song-take1.wav"));
    TestBlock block(1, 1, 64);
    first->setControl(0, 1.0);
    runNumbered(*first, block, 0, 1);
    first.reset();
    EXPECT_EQ(readBytes(path("song.wav")), (Bytes{1, 2, 3}));

    // The application copies the chosen path back; the next compile continues the numbers.
    json configuration = {
        {"channels", 1}, {"armed", true}, {"path", utf8Text(path("song-take1.wav"))}};
    RecorderModule second(configuration);
    second.prepare({48000.0, 64});
    EXPECT_EQ(configuredPath(second.status()), path("song-take2.wav"));
    expectTake(path("song-take1.wav"), 1, 0, 64);
}

TEST_F(RecorderTakeThreads, RecompilingAnIdleArmedRecorderLeavesNoEmptyTakes) {
    json configuration = {{"armed", true}, {"path", utf8Text(path("live.wav"))}};
    for (int compile = 0; compile < 3; ++compile) {
        RecorderModule recorder(configuration);
        recorder.prepare({48000.0, 64});
        configuration["path"] = recorder.status()["path"];
        EXPECT_EQ(configuredPath(configuration), path("live.wav"));
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(RecorderTakeThreads, SilentTailEndsAfterTheSilenceCount) {
    auto recorder = armed("tail.wav", {{"channels", 1}, {"silenceSeconds", 0}});
    TestBlock block(1, 1, 64);
    recorder->setControl(0, 1.0);
    runNumbered(*recorder, block, 0, 1);
    runNumbered(*recorder, block, 64, 1);
    recorder->setControl(0, 0.0);
    // Silent from the stop at 128: 0.01 s is 480 frames, and the 480th is not stored.
    for (std::int64_t position = 128; position < 1280; position += 64) {
        block.input(0).assign(64, 0.0f);
        block.run(*recorder, position);
    }
    const json status = recorder->status()["status"];
    EXPECT_FALSE(status["recording"]);
    EXPECT_EQ(status["acceptedFrames"], 128 + 479);
    recorder->stop();
    const WavAudio audio = readWavFile(path("tail.wav"), wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), 607u);
    EXPECT_EQ(audio.samples[127], frameValue(127, 0));
    EXPECT_EQ(audio.samples[128], 0.0f);
}

TEST_F(RecorderTakeThreads, LoudTailEndsAtTheTailLimitAndThresholdsAreClamped) {
    // -200 dB acts as -120 dB: 1e-5 is loud; the take runs to the 0.01 s limit.
    auto recorder =
        armed("loud.wav", {{"channels", 1}, {"silenceDb", -200}, {"maxTailSeconds", 0}});
    TestBlock block(1, 1, 64);
    recorder->setControl(0, 1.0);
    block.input(0).assign(64, 1e-5f);
    block.run(*recorder, 0);
    recorder->setControl(0, 0.0);
    for (std::int64_t position = 64; position < 1280; position += 64) {
        block.run(*recorder, position);
    }
    EXPECT_EQ(recorder->status()["status"]["acceptedFrames"], 64 + 480);

    // 0 dB acts as -6 dB: 0.4 counts as silence, and 0.5 s of it ends the take.
    auto quiet = armed("quiet.wav", {{"channels", 1}, {"silenceDb", 0}});
    quiet->setControl(0, 1.0);
    block.input(0).assign(64, 0.4f);
    block.run(*quiet, 0, {event(RackEventKind::Ended, 32)});
    for (std::int64_t position = 64; position < 48000; position += 64) {
        block.run(*quiet, position);
    }
    EXPECT_EQ(quiet->status()["status"]["acceptedFrames"], 32 + 23999);
}

TEST_F(RecorderTakeThreads, StartsAreIgnoredUnlessReadyAndATakeCapturesOnce) {
    auto recorder = armed("once.wav", {{"channels", 1}, {"followTransport", true}});
    TestBlock block(1, 1, 64);
    block.context.transport.recording = true;
    runNumbered(*recorder, block, 0, 1);
    block.context.transport.recording = false;
    runNumbered(*recorder, block, 64, 1, {event(RackEventKind::Stop, 0)});
    recorder->stop();
    // The stop event began a tail through the loud second block.
    const std::uint64_t frames = recorder->status()["status"]["frames"];
    EXPECT_EQ(frames, 128u);
    // After the take: a start by control, event or transport changes nothing.
    recorder->setControl(0, 1.0);
    block.context.transport.recording = true;
    runNumbered(*recorder, block, 128, 1, {event(RackEventKind::Start, 0)});
    EXPECT_FALSE(recorder->status()["status"]["recording"]);
    EXPECT_EQ(recorder->status()["status"]["acceptedFrames"], 128);
    expectTake(path("once.wav"), 1, 0, 128);
}

TEST_F(RecorderTakeThreads, NonFiniteInputIsStoredAndMonitoredAsZero) {
    auto recorder = armed("nan.wav", {{"channels", 2}});
    TestBlock block(2, 2, 64);
    block.input(0).assign(64, 0.25f);
    block.input(1).assign(64, std::numeric_limits<float>::quiet_NaN());
    block.input(1)[1] = -std::numeric_limits<float>::infinity();
    recorder->setControl(0, 1.0);
    block.run(*recorder, 0);
    EXPECT_EQ(block.output(1), std::vector<float>(64, 0.0f));
    EXPECT_EQ(recorder->status()["status"]["invalidSamples"], 64);
    recorder->stop();
    const WavAudio audio = readWavFile(path("nan.wav"), wavPreloadLimit);
    ASSERT_EQ(audio.samples.size(), 128u);
    for (std::size_t f = 0; f < 64; ++f) {
        ASSERT_EQ(audio.samples[2 * f], 0.25f);
        ASSERT_EQ(audio.samples[2 * f + 1], 0.0f);
    }
}

TEST_F(RecorderTakeThreads, StopDuringTheTailEndsTheTakeAtOnce) {
    auto recorder = armed("stop.wav", {{"channels", 1}});
    TestBlock block(1, 1, 64);
    recorder->setControl(0, 1.0);
    runNumbered(*recorder, block, 0, 1);
    recorder->setControl(0, 0.0);
    runNumbered(*recorder, block, 64, 1);
    EXPECT_TRUE(recorder->status()["status"]["tail"]);
    stopMediaModule(*recorder);
    const json status = recorder->status();
    EXPECT_FALSE(status["armed"]);
    EXPECT_FALSE(status["status"]["tail"]);
    EXPECT_EQ(status["status"]["meterGeneration"].get<std::uint32_t>() % 2, 0u);
    EXPECT_EQ(status["status"]["levelL"], 0.0);
    expectTake(path("stop.wav"), 1, 0, 128);
}

TEST_F(RecorderTakeThreads, ProcessDoesNotAllocateWhileRecording) {
    auto recorder = armed("quiet.wav", {{"channels", 2}});
    TestBlock block(2, 2, 64);
    const std::vector<RackEvent> events = {event(RackEventKind::Start, 5),
                                           event(RackEventKind::NoteOn, 9)};
    AllocationCounter counter;
    for (std::int64_t position = 0; position < 64 * 50; position += 64) {
        block.run(*recorder, position, events);
        recorder->setControl(0, 1.0);
    }
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(recorder->status()["status"]["acceptedFrames"], 64 * 50 - 5);
}

TEST_F(RecorderTakeThreads, DestinationRefusalsInTheirOrder) {
    RecorderWriter writer;
    writer.allocateRing();
    const auto message = [&](const std::filesystem::path& file, std::uint32_t channels,
                             std::uint32_t rate) -> std::string {
        try {
            writer.setDestination(file, channels, rate);
        } catch (const std::runtime_error& failure) {
            return failure.what();
        }
        return "no error";
    };
    writeBytes(path("exists.wav"), {0});
    EXPECT_EQ(message(path("exists.wav"), 0, 48000), "Invalid recording format");
    EXPECT_EQ(message(path("new.wav"), 65, 48000), "Invalid recording format");
    EXPECT_EQ(message(path("new.wav"), 1, 7999), "Invalid recording format");
    EXPECT_EQ(message(path("new.wav"), 1, 384001), "Invalid recording format");
    EXPECT_EQ(message(path("exists.wav"), 1, 48000), "Destination exists; choose a new file");
    EXPECT_EQ(message(path("no-folder") / "new.wav", 1, 48000), "Cannot create recording file");
    EXPECT_EQ(message(path("new.wav"), 64, 384000), "no error");
    writer.startCapture(0);
    EXPECT_EQ(message(path("other.wav"), 1, 48000), "Stop recording before choosing destination");
    writer.stopAndJoin();
}

} // namespace
} // namespace velkaphon::rack
