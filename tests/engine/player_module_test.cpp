#include "engine/media_module.hpp"
#include "engine/player_module.hpp"
#include "tests/engine/player_recorder_block.hpp"
#include "tests/engine/wav_test_files.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;
using nlohmann::json;

std::string utf8(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return {text.begin(), text.end()};
}

// Sample k of channel c is k + c / 10, so every output names the frame it came from.
std::vector<float> numberedFrames(std::uint32_t frames, std::uint32_t channels) {
    std::vector<float> samples;
    for (std::uint32_t k = 0; k < frames; ++k) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            samples.push_back(static_cast<float>(k) / 1024.0f + static_cast<float>(c) / 8.0f);
        }
    }
    return samples;
}

// Each of the block's first outputs holds the file's frames from first on: output c plays file
// channel c, and outputs beyond the file's channels repeat its last one.
void expectFramesFrom(const TestBlock& block, std::uint32_t outputs,
                      const std::vector<float>& samples, std::uint32_t fileChannels,
                      std::uint32_t first) {
    for (std::uint32_t c = 0; c < outputs; ++c) {
        const std::uint32_t source = std::min(c, fileChannels - 1);
        std::vector<float> expected;
        for (std::uint32_t i = 0; i < block.output(c).size(); ++i) {
            expected.push_back(samples[(first + i) * fileChannels + source]);
        }
        EXPECT_EQ(block.output(c), expected) << "output " << c;
    }
}

RackEvent event(RackEventKind kind, std::uint32_t offset) {
    return RackEvent{kind, offset};
}

std::vector<RackEvent> events(const EventList& list) {
    return {list.events.begin(), list.events.begin() + list.count};
}

class PlayerTest : public ::testing::Test {
protected:
    std::unique_ptr<PlayerModule> player(std::uint16_t fileChannels, std::uint32_t rate,
                                         const std::vector<float>& samples, json configuration) {
        const auto path = folder.file("clip.wav");
        writeFloatWav(path, fileChannels, rate, samples);
        configuration["path"] = utf8(path);
        auto module = std::make_unique<PlayerModule>(configuration);
        module->prepare({48000.0, 64});
        return module;
    }

    std::string constructionError(json configuration) {
        try {
            PlayerModule module(configuration);
        } catch (const std::exception& failure) {
            return failure.what();
        }
        return "no error";
    }

    ScratchFolder folder;
};

TEST_F(PlayerTest, ConfigurationRefusals) {
    const auto path = folder.file("one.wav");
    writeFloatWav(path, 1, 48000, {0.5f});
    const std::string file = utf8(path);
    EXPECT_EQ(constructionError({{"channels", 2}}),
              "[json.exception.out_of_range.403] key 'path' not found");
    for (const json& bad : {json(0), json(65), json(-1), json(4294967298LL), json(1.5)}) {
        EXPECT_EQ(constructionError({{"channels", bad}, {"path", file}}),
                  "Media channels must be 1..64")
            << bad;
    }
    // A boolean is no number: the library's own type error, never 1.
    EXPECT_EQ(constructionError({{"channels", true}, {"path", file}}),
              "[json.exception.type_error.302] type must be number, but is boolean");
    EXPECT_EQ(constructionError({{"channels", "2"}, {"path", file}}),
              "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(constructionError({{"followTransport", 1}, {"path", file}}),
              "[json.exception.type_error.302] type must be boolean, but is number");
    EXPECT_EQ(constructionError({{"path", 7}}),
              "[json.exception.type_error.302] type must be string, but is number");
    // Channels are read before the path.
    EXPECT_EQ(constructionError({{"channels", 0}}), "Media channels must be 1..64");
    EXPECT_EQ(constructionError({{"path", utf8(folder.file("missing.wav"))}}),
              "Cannot open WAV file");
    EXPECT_EQ(constructionError({{"path", "bad\xC3("}}), "Cannot open WAV file");
    // Neither a folder nor a FIFO is opened: the FIFO would wait for a writer forever.
    EXPECT_EQ(constructionError({{"path", utf8(folder.path())}}), "Cannot open WAV file");
#ifndef _WIN32
    const std::filesystem::path fifo = folder.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(constructionError({{"path", utf8(fifo)}}), "Cannot open WAV file");
#endif
    EXPECT_EQ(constructionError({{"channels", 64}, {"path", file}}), "no error");
}

TEST_F(PlayerTest, FollowsTheTransportFromTheFirstBlock) {
    const auto samples = numberedFrames(200, 1);
    auto module = player(1, 48000, samples, json::object());
    TestBlock block(0, 2, 64);
    block.context.transport.playing = true;
    block.run(*module, 0);
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Start, 0)});
    expectFramesFrom(block, 2, samples, 1, 0);
    block.context.transport.playing = false;
    block.run(*module, 64);
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Ended, 0)});
    EXPECT_EQ(block.output(0), std::vector<float>(64, 0.0f));
}

TEST_F(PlayerTest, AReplacementForTheSameFilePlaysOnFromWhereThePreviousIsAtTheSwitch) {
    const auto samples = numberedFrames(400, 2);
    auto previous = player(2, 48000, samples, json::object());
    TestBlock block(0, 2, 64);
    block.context.transport.playing = true;
    block.run(*previous, 0);
    auto same = player(2, 48000, samples, json::object());
    auto narrower = player(2, 48000, samples, {{"channels", 1}});
    same->continueFrom(*previous);
    narrower->continueFrom(*previous);
    // The previous player runs on until the graphs switch.
    block.run(*previous, 64);
    block.run(*same, 128);
    EXPECT_TRUE(events(block.outputEvents).empty());
    expectFramesFrom(block, 2, samples, 2, 128);
    // Another channel count starts from the top as a new player does.
    block.run(*narrower, 192);
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Start, 0)});
    EXPECT_EQ(block.output(0)[0], samples[0]);
}

TEST_F(PlayerTest, LaterControlReplacesAnEarlierOneBeforeTheBlock) {
    auto module = player(1, 48000, numberedFrames(100, 1), {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    module->setControl(0, 1.0);
    module->setControl(0, 0.0);
    module->setControl(1, 1.0);
    block.run(*module, 0);
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Ended, 0)});
    EXPECT_EQ(block.output(0), std::vector<float>(64, 0.0f));
    EXPECT_FALSE(module->status()["status"]["playing"]);
}

TEST_F(PlayerTest, ResamplesA44100FileInA48000Rack) {
    const auto samples = numberedFrames(1000, 1);
    auto module = player(1, 44100, samples, {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    module->setControl(0, 1.0);
    for (std::int64_t position = 1000; position < 1000 + 64 * 4; position += 64) {
        block.run(*module, position);
        for (std::uint32_t i = 0; i < 64; ++i) {
            const double where = static_cast<double>(position - 1000 + i) * (44100.0 / 48000.0);
            const auto k = static_cast<std::size_t>(where);
            const double s0 = samples[k];
            const double s1 = samples[k + 1];
            ASSERT_EQ(block.output(0)[i], static_cast<float>(s0 + (s1 - s0) * (where - k)))
                << position + i;
        }
    }
    // 256 output frames read 235.2 source frames.
    EXPECT_NEAR(block.output(0)[63], 235.2 / 1024.0 * (255.0 / 256.0), 0.01);
}

TEST_F(PlayerTest, OutputsBeyondTheFileRepeatItsLastChannel) {
    const auto samples = numberedFrames(100, 2);
    auto module = player(2, 48000, samples, {{"channels", 4}, {"followTransport", false}});
    TestBlock block(0, 4, 64);
    module->setControl(0, 1.0);
    block.run(*module, 0);
    expectFramesFrom(block, 4, samples, 2, 0);
}

TEST_F(PlayerTest, EndsOnceAtTheFrameWhereTheSourceRunsOutAndDoesNotLoop) {
    const auto samples = numberedFrames(100, 1);
    auto module = player(1, 48000, samples, {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    module->setControl(0, 1.0);
    block.run(*module, 500);
    block.run(*module, 564);
    // Source frame 100 would play at 600: the second block's offset 36.
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Ended, 36)});
    EXPECT_EQ(block.output(0)[35], samples[99]);
    EXPECT_EQ(block.output(0)[36], 0.0f);
    const json status = module->status()["status"];
    EXPECT_FALSE(status["playing"]);
    EXPECT_EQ(status["endSample"], 600);
    block.run(*module, 628);
    EXPECT_EQ(block.outputEvents.count, 0u);
    EXPECT_EQ(block.output(0), std::vector<float>(64, 0.0f));
}

TEST_F(PlayerTest, StartAndStopEventsAreHonouredAtTheirFrame) {
    const auto samples = numberedFrames(1000, 1);
    auto module = player(1, 48000, samples, {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    block.run(*module, 0, {event(RackEventKind::NoteOn, 3), event(RackEventKind::Start, 10)});
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Start, 10)});
    EXPECT_EQ(block.output(0)[9], 0.0f);
    EXPECT_EQ(block.output(0)[10], samples[0]);
    EXPECT_EQ(block.output(0)[63], samples[53]);
    block.run(*module, 64, {event(RackEventKind::Stop, 5)});
    // Stopping is told as Ended, never as Stop.
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Ended, 5)});
    EXPECT_EQ(block.output(0)[4], samples[58]);
    EXPECT_EQ(block.output(0)[5], 0.0f);
    // A start while playing restarts from the beginning.
    block.run(*module, 128, {event(RackEventKind::Start, 0), event(RackEventKind::Start, 20)});
    EXPECT_EQ(block.output(0)[19], samples[19]);
    EXPECT_EQ(block.output(0)[20], samples[0]);
}

TEST_F(PlayerTest, AZeroFrameFileEndsWhereItStarts) {
    const auto path = folder.file("empty.wav");
    writeFloatWav(path, 2, 48000, {});
    PlayerModule module({{"path", utf8(path)}, {"followTransport", false}});
    module.prepare({48000.0, 64});
    TestBlock block(0, 2, 64);
    block.run(module, 256, {event(RackEventKind::Start, 7)});
    EXPECT_EQ(events(block.outputEvents), (std::vector<RackEvent>{event(RackEventKind::Start, 7),
                                                                  event(RackEventKind::Ended, 7)}));
    EXPECT_EQ(module.status()["status"]["endSample"], 263);
    EXPECT_EQ(module.status()["sourceFrames"], 0);
}

TEST_F(PlayerTest, NegativeTransportPositionsCountFromZero) {
    const auto samples = numberedFrames(100, 1);
    auto module = player(1, 48000, samples, {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    module->setControl(0, 1.0);
    block.run(*module, -500);
    EXPECT_EQ(block.output(0)[5], samples[5]);
}

TEST_F(PlayerTest, StatusAndWaveform) {
    std::vector<float> samples(2 * 1024, 0.0f);
    samples[2 * 300 + 1] = -0.75f; // frame 300 lies in bucket 150
    samples[2 * 1023] = 2.0f;      // limited to 1
    auto module = player(2, 22050, samples, {{"channels", 1}, {"followTransport", false}});
    const json status = module->status();
    EXPECT_EQ(status["channels"], 1);
    EXPECT_EQ(status["sourceSampleRate"], 22050);
    EXPECT_EQ(status["sourceChannels"], 2);
    EXPECT_EQ(status["sourceFrames"], 1024);
    EXPECT_EQ(status["status"]["frames"], 1024);
    EXPECT_EQ(status["status"]["endSample"], -1);
    ASSERT_EQ(status["waveform"].size(), 512u);
    EXPECT_EQ(status["waveform"][150], 0.75);
    EXPECT_EQ(status["waveform"][149], 0.0);
    EXPECT_EQ(status["waveform"][511], 1.0);
}

TEST_F(PlayerTest, ShortFilesRepeatFramesAcrossBuckets) {
    auto module = player(1, 48000, {0.125f, 0.5f}, {});
    const json waveform = module->status()["waveform"];
    EXPECT_EQ(waveform[0], 0.125);
    EXPECT_EQ(waveform[255], 0.125);
    EXPECT_EQ(waveform[256], 0.5);
    EXPECT_EQ(waveform[511], 0.5);
}

TEST_F(PlayerTest, ProcessDoesNotAllocate) {
    auto module = player(2, 44100, numberedFrames(5000, 2), {});
    TestBlock block(0, 2, 64);
    block.context.transport.playing = true;
    block.run(*module, 0);
    const std::vector<RackEvent> startAndStop = {event(RackEventKind::Start, 3),
                                                 event(RackEventKind::Stop, 9)};
    AllocationCounter counter;
    for (int b = 1; b < 40; ++b) {
        block.run(*module, b * 64, startAndStop);
        module->setControl(0, b % 2);
    }
    EXPECT_EQ(counter.allocations(), 0u);
}

TEST_F(PlayerTest, ANewClipIsTakenAtTheNextBlock) {
    auto module = player(1, 48000, numberedFrames(100, 1), {{"followTransport", false}});
    TestBlock block(0, 1, 64);
    module->setControl(0, 1.0);
    block.run(*module, 0);
    WavAudio replacement{1, 48000, SampleVector(50, 0.25f)};
    module->setLoadedAudio(replacement);
    EXPECT_FALSE(module->status()["status"]["playing"]);
    EXPECT_EQ(module->status()["sourceFrames"], 50);
    // A clip loaded over one still pending replaces it; each is freed once.
    module->setLoadedAudio(WavAudio{1, 48000, SampleVector(30, -0.5f)});
    module->setControl(0, 1.0);
    block.run(*module, 64);
    EXPECT_EQ(block.output(0)[0], -0.5f);
    EXPECT_EQ(block.output(0)[29], -0.5f);
    EXPECT_EQ(block.output(0)[30], 0.0f);
    EXPECT_THROW(module->setLoadedAudio(WavAudio{2, 48000, SampleVector(3, 0.0f)}),
                 std::runtime_error);
    EXPECT_THROW(module->setLoadedAudio(WavAudio{0, 48000, {}}), std::runtime_error);
    try {
        module->setLoadedAudio(WavAudio{1, 0, {}});
        ADD_FAILURE();
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Invalid audio data");
    }
}

TEST(PlayerState, PendingClipWaitsWhileTheRetiredRingIsFull) {
    PlayerState state;
    float out = 0.0f;
    float* outputs[] = {&out};
    for (int i = 0; i < 32; ++i) {
        state.clips.offer(
            std::make_unique<AudioClip>(AudioClip{1, 48000, {static_cast<float>(i)}}));
        renderPlayer(state, outputs, 1, 1, 48000.0, 0);
    }
    int held = 0;
    state.clips.forEach([&](const AudioClip&) { ++held; });
    EXPECT_EQ(held, 1 + 32);
    auto waiting = std::make_unique<AudioClip>(AudioClip{1, 48000, {99.0f}});
    const AudioClip* const waitingClip = waiting.get();
    state.clips.offer(std::move(waiting));
    renderPlayer(state, outputs, 1, 1, 48000.0, 0);
    EXPECT_EQ(state.clips.pending(), waitingClip);
    EXPECT_EQ(state.clips.current()->samples[0], 31.0f);
    state.clips.drainRetired();
    renderPlayer(state, outputs, 1, 1, 48000.0, 0);
    EXPECT_EQ(state.clips.pending(), nullptr);
    EXPECT_EQ(state.clips.current(), waitingClip);
}

TEST_F(PlayerTest, MediaFactoryAndStop) {
    const auto path = folder.file("f.wav");
    writeFloatWav(path, 1, 48000, numberedFrames(500, 1));
    EXPECT_EQ(createMediaModule({"n", "fader-bank", json::object()}), nullptr);
    auto module = createMediaModule({"n", "player", {{"path", utf8(path)}}});
    ASSERT_NE(dynamic_cast<PlayerModule*>(module.get()), nullptr);
    module->prepare({48000.0, 64});
    TestBlock block(0, 1, 64);
    block.context.transport.playing = true;
    block.run(*module, 0);
    EXPECT_TRUE(module->status()["status"]["playing"]);
    module->setControl(0, 1.0);
    stopMediaModule(*module);
    EXPECT_FALSE(module->status()["status"]["playing"]);
    // The stop forgot the transport and the queued start: a playing transport starts it again.
    block.run(*module, 64);
    EXPECT_EQ(events(block.outputEvents), std::vector<RackEvent>{event(RackEventKind::Start, 0)});
}

} // namespace
} // namespace velkaphon::rack
