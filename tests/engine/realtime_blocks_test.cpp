#include "engine/audio_engine.hpp"
#include "engine/builtin.hpp"
#include "engine/graph_compiler.hpp"
#include "engine/media_module.hpp"
#include "tests/engine/engine_host.hpp"
#include "tests/engine/recorder_test_support.hpp"
#include "tests/engine/wav_test_files.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::AllocationCounter;
using testing::HostBus;

std::unique_ptr<Module> mediaOrBuiltin(const NodeDefinition& node) {
    if (auto media = createMediaModule(node)) {
        return media;
    }
    return createBuiltin(node);
}

// Every built-in kind, a playing player and a recording recorder, with an event cable.
GraphDefinition everyKind(const testing::ScratchFolder& folder) {
    return readGraphDefinition(
        json{{"schema", 1},
             {"nodes",
              {{{"id", "in"}, {"type", "input"}},
               {{"id", "dist"}, {"type", "distributor"}, {"configuration", {{"outputs", 3}}}},
               {{"id", "faders"}, {"type", "fader-bank"}},
               {{"id", "matrix"}, {"type", "matrix"}, {"configuration", {{"mapping", {1, -1}}}}},
               {{"id", "split"}, {"type", "breakout"}},
               {{"id", "player"},
                {"type", "player"},
                {"configuration", {{"path", testing::utf8Text(folder.file("clip.wav"))}}}},
               {{"id", "sum"}, {"type", "summing"}, {"configuration", {{"inputs", 3}}}},
               {{"id", "rec"},
                {"type", "recorder"},
                {"configuration",
                 {{"armed", true},
                  {"followTransport", true},
                  {"path", testing::utf8Text(folder.file("take.wav"))}}}},
               {{"id", "out"}, {"type", "output"}}}},
             {"cables",
              {{{"from", "in"}, {"output", "out"}, {"to", "dist"}, {"input", "in"}},
               {{"from", "dist"}, {"output", "out0"}, {"to", "faders"}, {"input", "in0"}},
               {{"from", "dist"}, {"output", "out1"}, {"to", "matrix"}, {"input", "in"}},
               {{"from", "dist"}, {"output", "out2"}, {"to", "split"}, {"input", "in"}},
               {{"from", "faders"}, {"output", "out0"}, {"to", "sum"}, {"input", "in0"}},
               {{"from", "matrix"}, {"output", "out"}, {"to", "sum"}, {"input", "in1"}},
               {{"from", "player"}, {"output", "out"}, {"to", "sum"}, {"input", "in2"}},
               {{"from", "sum"}, {"output", "out"}, {"to", "rec"}, {"input", "in"}},
               {{"from", "rec"}, {"output", "out"}, {"to", "out"}, {"input", "in"}}}},
             {"eventCables", {{{"from", "player"}, {"to", "rec"}}}}});
}

// The audio thread's promise, checked over many blocks: no allocation, no lock, no wait.
TEST(RealTimeBlocks, EveryKindRunsAHundredThousandBlocksWithoutAllocatingOrLocking) {
    constexpr std::uint32_t kFrames = 16;
    testing::ScratchFolder folder;
    testing::writeFloatWav(folder.file("clip.wav"), 2, 48000, std::vector<float>(96000, 0.25f));
    AudioEngine engine;
    engine.publishGraph(compileGraph(everyKind(folder), {48000.0, kFrames}, mediaOrBuiltin));
    HostBus input(2, kFrames, 0.5f);
    HostBus output(2, kFrames);
    const RackEvent note{RackEventKind::NoteOn, 3, 0x90, 60, 100};
    TransportInfo transport{0, 120.0, true, true};

    std::size_t allocations = 0;
    std::size_t locks = 0;
    {
        AllocationCounter counter;
        for (int block = 0; block < 100000; ++block) {
            if (block % 100 == 0) {
                engine.enqueueControl("faders", 0, -(block % 7) * 3.0);
            }
            engine.process(kFrames, input.span(), output.span(), transport, &note, 1);
            transport.samplePosition += kFrames;
        }
        allocations = counter.allocations();
        locks = counter.locks();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(locks, 0u);
    EXPECT_NE(output.channel(0)[0], 0.0f);
    engine.forEachModule(stopMediaModule);
}

} // namespace
} // namespace velkaphon::rack
