#include "abi/vst3/text.hpp"
#include "hosting/vst3_block_objects.hpp"
#include "plugin/plugin_factory.hpp"
#include "plugin/rack_processor.hpp"
#include "tests/hosting/vst_module_test_support.hpp"
#include "tests/plugin/rack_plugin_host.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <limits>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::RackInstance;
using testing::rackPluginModule;

constexpr std::int32_t kFrames = 256;

// Host buffers of two channels on each bus, by default the main bus and one aux bus on each side,
// 32- or 64-bit. A block of 0 frames passes no buses, as a host's parameter flush does.
template <class Sample>
struct HostBlock {
    explicit HostBlock(std::int32_t frames = kFrames, bool inPlace = false, std::size_t buses = 2)
        : input(2 * buses), output(2 * buses), inputRows(2 * buses), outputRows(2 * buses),
          inputs(buses), outputs(buses) {
        for (std::size_t channel = 0; channel < input.size(); ++channel) {
            input[channel].resize(static_cast<std::size_t>(frames));
            output[channel].resize(static_cast<std::size_t>(frames));
            for (std::int32_t frame = 0; frame < frames; ++frame) {
                // No period that divides a slice, so that a misplaced slice shows.
                input[channel][static_cast<std::size_t>(frame)] = static_cast<Sample>(
                    0.001 * (frame % 1000 + 1) * static_cast<double>(channel + 1) + 0.1 / 3.0);
            }
            inputRows[channel] = input[channel].data();
            outputRows[channel] = inPlace ? input[channel].data() : output[channel].data();
        }
        for (std::size_t bus = 0; bus < buses; ++bus) {
            inputs[bus].numChannels = 2;
            outputs[bus].numChannels = 2;
            setRows(inputs[bus], inputRows.data() + 2 * bus);
            setRows(outputs[bus], outputRows.data() + 2 * bus);
        }
        original = input;
        data.symbolicSampleSize = sizeof(Sample) == 8 ? vst3::kSample64 : vst3::kSample32;
        data.numSamples = frames;
        data.numInputs = frames > 0 ? static_cast<std::int32_t>(buses) : 0;
        data.numOutputs = frames > 0 ? static_cast<std::int32_t>(buses) : 0;
        data.inputs = frames > 0 ? inputs.data() : nullptr;
        data.outputs = frames > 0 ? outputs.data() : nullptr;
    }
    HostBlock(const HostBlock&) = delete;
    HostBlock& operator=(const HostBlock&) = delete;

    static void setRows(vst3::AudioBusBuffers& bus, Sample** rows) {
        if constexpr (sizeof(Sample) == 8) {
            bus.channelBuffers64 = rows;
        } else {
            bus.channelBuffers32 = rows;
        }
    }

    std::vector<std::vector<Sample>> input;
    std::vector<std::vector<Sample>> original;
    std::vector<std::vector<Sample>> output;
    std::vector<Sample*> inputRows;
    std::vector<Sample*> outputRows;
    std::vector<vst3::AudioBusBuffers> inputs;
    std::vector<vst3::AudioBusBuffers> outputs;
    vst3::ProcessData data;
};

// The rack's current blob with the fader's gain changed.
std::vector<std::uint8_t> withFaderGain(RackInstance& rack, double gainDb) {
    json blob = json::parse(testing::textOf(rack.state()));
    for (json& node : blob["project"]["graph"]["nodes"]) {
        if (node.at("id").get<std::string>() == "faders") {
            node["configuration"]["gainsDb"] = json::array({gainDb});
        }
    }
    return testing::blobOf(blob.dump());
}

TEST(RackProcessor, DeclaresItsBusesParameterAndContextNeeds) {
    RackInstance rack(*rackPluginModule()->factory);
    ASSERT_EQ(rack.component->getBusCount(vst3::kAudio, vst3::kInput), 8);
    ASSERT_EQ(rack.component->getBusCount(vst3::kAudio, vst3::kOutput), 8);
    ASSERT_EQ(rack.component->getBusCount(vst3::kEvent, vst3::kInput), 1);
    EXPECT_EQ(rack.component->getBusCount(vst3::kEvent, vst3::kOutput), 0);
    vst3::BusInfo bus{};
    ASSERT_EQ(rack.component->getBusInfo(vst3::kAudio, vst3::kInput, 0, bus), vst3::kResultOk);
    EXPECT_EQ(vst3::utf8FromField(bus.name, 128), "Main input");
    EXPECT_EQ(bus.channelCount, 2);
    EXPECT_EQ(bus.busType, vst3::kMain);
    EXPECT_EQ(bus.flags, vst3::BusInfo::kDefaultActive);
    ASSERT_EQ(rack.component->getBusInfo(vst3::kAudio, vst3::kOutput, 7, bus), vst3::kResultOk);
    EXPECT_EQ(vst3::utf8FromField(bus.name, 128), "Aux output 7");
    EXPECT_EQ(bus.busType, vst3::kAux);
    EXPECT_EQ(bus.flags, 0u);
    ASSERT_EQ(rack.component->getBusInfo(vst3::kEvent, vst3::kInput, 0, bus), vst3::kResultOk);
    EXPECT_EQ(vst3::utf8FromField(bus.name, 128), "Notes");
    EXPECT_EQ(bus.channelCount, 16);
    EXPECT_EQ(rack.component->getBusInfo(vst3::kAudio, vst3::kInput, 8, bus),
              vst3::kInvalidArgument);

    ASSERT_EQ(rack.controller->getParameterCount(), 1);
    vst3::ParameterInfo parameter{};
    ASSERT_EQ(rack.controller->getParameterInfo(0, parameter), vst3::kResultOk);
    EXPECT_EQ(parameter.id, 0u);
    EXPECT_EQ(vst3::utf8FromField(parameter.title, 128), "Bypass");
    EXPECT_EQ(vst3::utf8FromField(parameter.shortTitle, 128), "");
    EXPECT_EQ(parameter.stepCount, 1);
    EXPECT_EQ(parameter.defaultNormalizedValue, 0.0);
    EXPECT_EQ(parameter.flags, vst3::ParameterInfo::kCanAutomate | vst3::ParameterInfo::kIsBypass);

    auto requirements =
        vst3::queryInterfacePtr<vst3::IProcessContextRequirements>(rack.component.get());
    EXPECT_EQ(requirements->getProcessContextRequirements(), 0x440u);
    EXPECT_EQ(rack.processor->getTailSamples(), vst3::kInfiniteTail);
    EXPECT_EQ(rack.processor->getLatencySamples(), 0u);
    EXPECT_EQ(rack.processor->canProcessSampleSize(vst3::kSample64), vst3::kResultTrue);
    EXPECT_EQ(rack.processor->canProcessSampleSize(2), vst3::kResultFalse);
}

TEST(RackProcessor, SetupProcessingRefusesEachBadSetting) {
    RackInstance rack(*rackPluginModule()->factory);
    const auto setup = [&](std::int32_t size, std::int32_t block, double rate) {
        vst3::ProcessSetup values{vst3::kRealtime, size, block, rate};
        return rack.processor->setupProcessing(values);
    };
    EXPECT_EQ(rack.processor->setProcessing(true), vst3::kResultFalse);
    EXPECT_EQ(setup(0, 512, 7999.9), vst3::kInvalidArgument);
    EXPECT_EQ(setup(0, 512, 384000.5), vst3::kInvalidArgument);
    EXPECT_EQ(setup(0, 512, std::numeric_limits<double>::quiet_NaN()), vst3::kInvalidArgument);
    EXPECT_EQ(setup(0, 0, 48000.0), vst3::kInvalidArgument);
    EXPECT_EQ(setup(2, 512, 48000.0), vst3::kInvalidArgument);
    EXPECT_EQ(setup(1, 4096, 384000.0), vst3::kResultOk);
    EXPECT_EQ(setup(0, 1, 8000.0), vst3::kResultOk);
    EXPECT_EQ(setup(0, 4097, 48000.0), vst3::kResultOk);
    ASSERT_EQ(rack.processor->setProcessing(true), vst3::kResultOk);
    EXPECT_EQ(setup(0, 512, 48000.0), vst3::kInvalidArgument);
    EXPECT_EQ(rack.processor->setProcessing(false), vst3::kResultOk);
    EXPECT_EQ(setup(0, 512, 48000.0), vst3::kResultOk);
}

TEST(RackProcessor, ProcessBeforeSetupIsRefused) {
    RackInstance rack(*rackPluginModule()->factory);
    HostBlock<float> block;
    EXPECT_EQ(rack.processor->process(block.data), vst3::kInvalidArgument);
}

TEST(RackProcessor, BusArrangementsAreCheckedAndTheRestStayStereo) {
    RackInstance rack(*rackPluginModule()->factory);
    vst3::SpeakerArrangement stereo = vst3::SpeakerArr::kStereo;
    vst3::SpeakerArrangement empty = vst3::SpeakerArr::kEmpty;
    std::array<vst3::SpeakerArrangement, 9> wide{};
    wide.fill(~0ull);
    EXPECT_EQ(rack.processor->setBusArrangements(&stereo, 0, &stereo, 1), vst3::kResultFalse);
    EXPECT_EQ(rack.processor->setBusArrangements(wide.data(), 9, &stereo, 1), vst3::kResultFalse);
    EXPECT_EQ(rack.processor->setBusArrangements(nullptr, 1, &stereo, 1), vst3::kResultFalse);
    EXPECT_EQ(rack.processor->setBusArrangements(&stereo, 1, &empty, 1), vst3::kResultFalse);
    // Three buses of 64 channels: 192 on one side.
    EXPECT_EQ(rack.processor->setBusArrangements(wide.data(), 3, &stereo, 1), vst3::kResultFalse);
    std::array<vst3::SpeakerArrangement, 2> mainAndSilentAux = {stereo, empty};
    EXPECT_EQ(rack.processor->setBusArrangements(&stereo, 1, mainAndSilentAux.data(), 2),
              vst3::kResultOk);
    vst3::SpeakerArrangement arrangement = 0;
    ASSERT_EQ(rack.processor->getBusArrangement(vst3::kInput, 5, arrangement), vst3::kResultOk);
    EXPECT_EQ(arrangement, vst3::SpeakerArr::kStereo);
    ASSERT_EQ(rack.processor->getBusArrangement(vst3::kOutput, 1, arrangement), vst3::kResultOk);
    EXPECT_EQ(arrangement, vst3::SpeakerArr::kEmpty);

    rack.start(vst3::kSample32, kFrames);
    EXPECT_EQ(rack.processor->setBusArrangements(&stereo, 1, &stereo, 1), vst3::kResultFalse);
    // The aux output, active, now has no channels: the two a host passes are zeroed.
    ASSERT_EQ(rack.component->activateBus(vst3::kAudio, vst3::kOutput, 1, 1), vst3::kResultOk);
    HostBlock<float> block;
    std::fill(block.output[2].begin(), block.output[2].end(), 0.25f);
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    EXPECT_EQ(block.output[0], block.input[0]);
    EXPECT_THAT(block.output[2], ::testing::Each(0.0f));
    EXPECT_EQ(block.outputs[1].silenceFlags, 3u);
    rack.finish();
}

// As a DAW passes them: two channels on every bus, those it made empty and deactivated included,
// with fewer or more buses than the rack's. Only main input channel 0 is the rack's: the host's
// channel 1 there is not read, and every output but the main bus's is zeroed where it has a buffer.
// The stereo aux input 1 is read only when the host activated it (the first and last rows differ
// in that alone): its first channel is then the patch's second input, on main output channel 1.
TEST(RackProcessor, HostChannelsBeyondTheActiveArrangementAreIgnoredOrZeroed) {
    struct Row {
        std::int32_t sampleSize;
        bool inPlace;
        std::size_t buses;
        bool bypassed;
        bool auxInputActive;
    };
    constexpr std::array<Row, 5> rows = {{
        {vst3::kSample32, false, 9, false, false},
        {vst3::kSample64, true, 1, false, false},
        {vst3::kSample32, true, 1, true, false},
        {vst3::kSample64, false, 9, true, false},
        {vst3::kSample32, false, 9, false, true},
    }};
    std::array<vst3::SpeakerArrangement, kRackBusCount> inputs{};
    std::array<vst3::SpeakerArrangement, kRackBusCount> outputs{};
    inputs[0] = vst3::SpeakerArr::kMono;
    inputs[1] = vst3::SpeakerArr::kStereo;
    outputs[0] = vst3::SpeakerArr::kStereo;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const Row& row = rows[i];
        RackInstance rack(*rackPluginModule()->factory);
        ASSERT_EQ(rack.restore(withFaderGain(rack, -20.0)), vst3::kResultOk);
        ASSERT_EQ(rack.processor->setBusArrangements(inputs.data(), kRackBusCount, outputs.data(),
                                                     kRackBusCount),
                  vst3::kResultOk);
        for (vst3::int32 bus = 1; bus < static_cast<vst3::int32>(kRackBusCount); ++bus) {
            ASSERT_EQ(rack.component->activateBus(vst3::kAudio, vst3::kInput, bus, 0),
                      vst3::kResultOk);
            ASSERT_EQ(rack.component->activateBus(vst3::kAudio, vst3::kOutput, bus, 0),
                      vst3::kResultOk);
        }
        ASSERT_EQ(rack.component->activateBus(vst3::kAudio, vst3::kInput, 1, row.auxInputActive),
                  vst3::kResultOk);
        ASSERT_EQ(rack.controller->setParamNormalized(kBypassParameter, row.bypassed ? 1.0 : 0.0),
                  vst3::kResultOk);
        rack.start(row.sampleSize, kFrames);
        const auto check = [&]<class Sample>(HostBlock<Sample>& block) {
            for (std::vector<Sample>& channel : block.output) {
                std::fill(channel.begin(), channel.end(), Sample(0.25));
            }
            // Beyond the rack's buses, channels claimed without buffers are passed over.
            const bool unbuffered = row.buses > kRackBusCount;
            if (unbuffered) {
                block.outputs.back().channelBuffers32 = nullptr;
            }
            ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
            const auto& out = row.inPlace ? block.input : block.output;
            for (std::size_t frame = 0; frame < kFrames; ++frame) {
                const auto in = static_cast<float>(block.original[0][frame]);
                ASSERT_NEAR(static_cast<float>(out[0][frame]), row.bypassed ? in : in * 0.1f, 1e-6f)
                    << frame;
                if (row.auxInputActive) {
                    const auto aux = static_cast<float>(block.original[2][frame]);
                    ASSERT_NEAR(static_cast<float>(out[1][frame]), aux * 0.1f, 1e-6f) << frame;
                }
            }
            for (std::size_t c = row.auxInputActive ? 2 : 1; c < out.size(); ++c) {
                const bool untouched = unbuffered && c >= 2 * kRackBusCount;
                EXPECT_THAT(out[c], ::testing::Each(Sample(untouched ? 0.25 : 0.0))) << c;
            }
            EXPECT_EQ(block.outputs[0].silenceFlags, row.auxInputActive ? 0u : 2u);
            for (std::size_t bus = 1; bus < row.buses; ++bus) {
                EXPECT_EQ(block.outputs[bus].silenceFlags, 3u) << bus;
            }
        };
        if (row.sampleSize == vst3::kSample64) {
            HostBlock<double> block(kFrames, row.inPlace, row.buses);
            check(block);
        } else {
            HostBlock<float> block(kFrames, row.inPlace, row.buses);
            check(block);
        }
        rack.finish();
    }
}

TEST(RackProcessor, DefaultPatchPassesAudioOutOfPlaceAndInPlace) {
    RackInstance rack(*rackPluginModule()->factory);
    rack.start(vst3::kSample32, kFrames);
    HostBlock<float> outOfPlace;
    ASSERT_EQ(rack.processor->process(outOfPlace.data), vst3::kResultOk);
    EXPECT_EQ(outOfPlace.output[0], outOfPlace.input[0]);
    EXPECT_EQ(outOfPlace.output[1], outOfPlace.input[1]);
    EXPECT_THAT(outOfPlace.output[2], ::testing::Each(0.0f));
    EXPECT_THAT(outOfPlace.output[3], ::testing::Each(0.0f));
    EXPECT_EQ(outOfPlace.outputs[0].silenceFlags, 0u);
    EXPECT_EQ(outOfPlace.outputs[1].silenceFlags, 3u);

    HostBlock<float> inPlace(kFrames, true);
    ASSERT_EQ(rack.processor->process(inPlace.data), vst3::kResultOk);
    EXPECT_EQ(inPlace.input[0], inPlace.original[0]);
    EXPECT_EQ(inPlace.input[1], inPlace.original[1]);
    EXPECT_THAT(inPlace.input[2], ::testing::Each(0.0f));
    rack.finish();
}

TEST(RackProcessor, SixtyFourBitOutputIsTheFloatOfTheInput) {
    RackInstance rack(*rackPluginModule()->factory);
    rack.start(vst3::kSample64, kFrames);
    HostBlock<double> block;
    block.outputs[1].silenceFlags = 0;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    for (std::int32_t frame = 0; frame < kFrames; ++frame) {
        ASSERT_EQ(block.output[0][frame],
                  static_cast<double>(static_cast<float>(block.input[0][frame])))
            << frame;
        ASSERT_NE(block.output[0][frame], block.input[0][frame]) << frame;
    }
    EXPECT_THAT(block.output[3], ::testing::Each(0.0));
    EXPECT_EQ(block.outputs[0].silenceFlags, 0u);
    EXPECT_EQ(block.outputs[1].silenceFlags, 3u);
    rack.finish();
}

TEST(RackProcessor, SilenceFlagsOfTheInputZeroThatChannel) {
    RackInstance rack(*rackPluginModule()->factory);
    rack.start(vst3::kSample32, kFrames);
    HostBlock<float> block;
    block.inputs[0].silenceFlags = 2;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    EXPECT_EQ(block.output[0], block.input[0]);
    EXPECT_THAT(block.output[1], ::testing::Each(0.0f));
    EXPECT_EQ(block.outputs[0].silenceFlags, 2u);
    rack.finish();
}

TEST(RackProcessor, BypassPointSplitsTheBlockWhereItLies) {
    RackInstance rack(*rackPluginModule()->factory);
    ASSERT_EQ(rack.restore(withFaderGain(rack, -20.0)), vst3::kResultOk);
    rack.start(vst3::kSample32, kFrames);
    HostBlock<float> block;
    Changes changes;
    changes.queues[0].set(0, 0.7, 100);
    changes.queues[1].set(5, 0.0, 10);
    changes.count = 2;
    block.data.inputParameterChanges = &changes;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    for (std::int32_t frame = 0; frame < kFrames; ++frame) {
        const float in = block.input[0][frame];
        if (frame < 100) {
            ASSERT_NEAR(block.output[0][frame], in * 0.1f, 1e-6f) << frame;
        } else {
            ASSERT_EQ(block.output[0][frame], in) << frame;
            ASSERT_EQ(block.output[1][frame], block.input[1][frame]) << frame;
        }
    }
    EXPECT_THAT(block.output[2], ::testing::Each(0.0f));

    // Still bypassed in the next block; a NaN point and one past the end change nothing.
    HostBlock<float> next;
    changes.queues[0].set(0, std::numeric_limits<double>::quiet_NaN(), 0);
    changes.queues[1].set(0, 0.0, kFrames + 1);
    changes.queues[1].set(0, 0.0, kFrames + 1);
    next.data.inputParameterChanges = &changes;
    ASSERT_EQ(rack.processor->process(next.data), vst3::kResultOk);
    EXPECT_EQ(next.output[0], next.input[0]);

    // A point at the end of a block takes effect in the next one only.
    HostBlock<float> atEnd;
    changes.queues[0].set(0, 0.0, kFrames);
    changes.count = 1;
    atEnd.data.inputParameterChanges = &changes;
    ASSERT_EQ(rack.processor->process(atEnd.data), vst3::kResultOk);
    EXPECT_EQ(atEnd.output[0], atEnd.input[0]);
    HostBlock<float> after;
    ASSERT_EQ(rack.processor->process(after.data), vst3::kResultOk);
    EXPECT_NEAR(after.output[0][5], after.input[0][5] * 0.1f, 1e-6f);
    rack.finish();
}

TEST(RackProcessor, EmptyBlockStillTakesABypassPointAtZero) {
    RackInstance rack(*rackPluginModule()->factory);
    ASSERT_EQ(rack.restore(withFaderGain(rack, -20.0)), vst3::kResultOk);
    rack.start(vst3::kSample32, kFrames);
    HostBlock<float> empty;
    empty.data.numSamples = 0;
    Changes changes;
    changes.queues[0].set(0, 1.0, 0);
    changes.count = 1;
    empty.data.inputParameterChanges = &changes;
    ASSERT_EQ(rack.processor->process(empty.data), vst3::kResultOk);
    HostBlock<float> block;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    EXPECT_EQ(block.output[0], block.input[0]);
    rack.finish();
}

// One call of the host: its frames (0: a flush without buses) and a "Bypass" point, if any.
struct HostCall {
    std::int32_t frames;
    std::int32_t pointOffset; // -1: none
    double pointValue;
};

constexpr std::int32_t kLargestHostBlock = 8192;

// As the SDK's test host calls: full, odd, single-frame and empty blocks of a maximum of 8192,
// with points inside a slice, on a slice's edge and at a block's end.
constexpr std::array<HostCall, 8> kHostCalls = {{
    {8192, 5000, 1.0},
    {6037, 4096, 0.0},
    {1, -1, 0.0},
    {0, 0, 1.0},
    {8192, -1, 0.0},
    {0, 0, 0.0},
    {8192, 8192, 1.0},
    {6037, -1, 0.0},
}};

// Every frame of the main output is the input through the faders at -20 dB, or the input itself
// where bypassed; the aux output is silent.
template <class Sample>
void runHostCalls(RackInstance& rack, bool& bypassed) {
    Changes changes;
    for (std::size_t i = 0; i < kHostCalls.size(); ++i) {
        SCOPED_TRACE(i);
        const HostCall& call = kHostCalls[i];
        HostBlock<Sample> block(call.frames);
        changes.queues[0].set(kBypassParameter, call.pointValue, call.pointOffset);
        changes.count = call.pointOffset >= 0 ? 1 : 0;
        block.data.inputParameterChanges = &changes;
        ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
        for (std::int32_t frame = 0; frame < call.frames; ++frame) {
            bypassed = frame == call.pointOffset ? call.pointValue >= 0.5 : bypassed;
            for (std::size_t c = 0; c < 2; ++c) {
                const auto in = static_cast<float>(block.input[c][frame]);
                ASSERT_NEAR(static_cast<float>(block.output[c][frame]), bypassed ? in : in * 0.1f,
                            1e-6f)
                    << frame;
            }
        }
        bypassed = call.frames == call.pointOffset ? call.pointValue >= 0.5 : bypassed;
        EXPECT_THAT(block.output[2], ::testing::Each(Sample(0)));
        EXPECT_EQ(block.outputs[0].silenceFlags, 0u);
        EXPECT_EQ(block.outputs[1].silenceFlags, call.frames > 0 ? 3u : 0u);
    }
}

TEST(RackProcessor, HostBlocksOfAnySizeUpToTheMaximumAreRenderedWhole) {
    for (const std::int32_t size : {vst3::kSample32, vst3::kSample64}) {
        SCOPED_TRACE(size);
        RackInstance rack(*rackPluginModule()->factory);
        ASSERT_EQ(rack.restore(withFaderGain(rack, -20.0)), vst3::kResultOk);
        rack.start(size, kLargestHostBlock);
        bool bypassed = false;
        const auto run = [&] {
            size == vst3::kSample64 ? runHostCalls<double>(rack, bypassed)
                                    : runHostCalls<float>(rack, bypassed);
        };
        run();
        // Suspended and resumed, the bypass state kept.
        ASSERT_EQ(rack.processor->setProcessing(false), vst3::kResultOk);
        ASSERT_EQ(rack.component->setActive(false), vst3::kResultOk);
        ASSERT_EQ(rack.component->setActive(true), vst3::kResultOk);
        ASSERT_EQ(rack.processor->setProcessing(true), vst3::kResultOk);
        run();
        rack.finish();
    }
}

TEST(RackProcessor, NotesAndPositionsAreRebasedToEachSlice) {
    testing::HeldVstPlugin plugin;
    RackInstance rack(*rackPluginModule()->factory);
    json blob = json::parse(testing::textOf(rack.state()));
    blob["project"] = testing::projectThrough(blob["project"], testing::Vst3TestClass::EventEcho);
    ASSERT_EQ(rack.restore(testing::blobOf(blob.dump())), vst3::kResultOk);
    rack.start(vst3::kSample32, kLargestHostBlock);
    HostBlock<float> block(kLargestHostBlock);
    VstEvents events;
    events.count = 1;
    events.events[0].type = vst3::Event::kNoteOnEvent;
    events.events[0].sampleOffset = 5000;
    events.events[0].noteOn.pitch = 60;
    events.events[0].noteOn.velocity = 0.5f;
    block.data.inputEvents = &events;
    vst3::ProcessContext context{};
    context.state = vst3::ProcessContext::kPlaying;
    context.projectTimeSamples = 48000;
    block.data.processContext = &context;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);

    // The plug-in's last call was the second slice.
    const testing::Vst3TestBlock& seen = plugin.probe().lastBlock;
    EXPECT_EQ(seen.frames, 4096);
    EXPECT_EQ(seen.context.projectTimeSamples, 48000 + 4096);
    ASSERT_EQ(seen.eventCount, 1);
    EXPECT_EQ(seen.events[0].type, vst3::Event::kNoteOnEvent);
    EXPECT_EQ(seen.events[0].sampleOffset, 5000 - 4096);
    EXPECT_EQ(seen.events[0].noteOn.pitch, 60);
    EXPECT_EQ(block.output[0], block.input[0]);
    rack.finish();
}

// As hosts load presets during playback: each blob goes to the component, then to the
// controller, between two blocks, and the next block plays it.
TEST(RackProcessor, StateGivenWhileProcessingPlaysFromTheNextBlock) {
    testing::Vst3CallLog log;
    RackInstance rack(*rackPluginModule()->factory);
    const json quiet = json::parse(testing::textOf(withFaderGain(rack, -20.0)));
    json latent = quiet;
    latent["project"] = testing::projectThrough(quiet["project"], testing::Vst3TestClass::Latency);
    json bypassed = quiet;
    bypassed["bypass"] = true;
    struct Row {
        json blob;
        float gain;
        int pluginsMade;
        std::size_t latencyReports;
    };
    const std::array<Row, 4> rows = {{
        {quiet, 0.1f, 0, 0},
        {latent, 1.0f, 1, 1},
        {bypassed, 1.0f, 1, 2},
        {quiet, 0.1f, 1, 2},
    }};
    rack.start(vst3::kSample32, kLargestHostBlock);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::uint8_t> blob = testing::blobOf(rows[i].blob.dump());
        ASSERT_EQ(rack.restore(blob), vst3::kResultOk);
        MemoryStream stream(blob);
        ASSERT_EQ(rack.controller->setComponentState(&stream), vst3::kResultOk);
        EXPECT_EQ(rack.controller->getParamNormalized(kBypassParameter),
                  rows[i].blob["bypass"].get<bool>() ? 1.0 : 0.0);
        // The controller's copy of the blob is not restored a second time.
        EXPECT_EQ(log.count("create Test Latency"), rows[i].pluginsMade);
        EXPECT_EQ(rack.handler.restarts.size(), rows[i].latencyReports);
        HostBlock<float> block(kLargestHostBlock);
        ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
        for (std::size_t frame = 0; frame < block.input[0].size(); ++frame) {
            ASSERT_NEAR(block.output[0][frame], block.input[0][frame] * rows[i].gain, 1e-6f)
                << frame;
        }
    }

    // The host's own bypass is in the state another instance takes.
    HostBlock<float> bypassing;
    Changes changes;
    changes.queues[0].set(kBypassParameter, 1.0, 0);
    changes.count = 1;
    bypassing.data.inputParameterChanges = &changes;
    ASSERT_EQ(rack.processor->process(bypassing.data), vst3::kResultOk);
    const std::vector<std::uint8_t> saved = rack.state();
    RackInstance other(*rackPluginModule()->factory);
    other.start(vst3::kSample64, kFrames);
    ASSERT_EQ(other.restore(saved), vst3::kResultOk);
    MemoryStream stream(saved);
    ASSERT_EQ(other.controller->setComponentState(&stream), vst3::kResultOk);
    EXPECT_EQ(other.controller->getParamNormalized(kBypassParameter), 1.0);
    HostBlock<double> block;
    ASSERT_EQ(other.processor->process(block.data), vst3::kResultOk);
    EXPECT_EQ(block.output[1][7], static_cast<double>(static_cast<float>(block.input[1][7])));
    other.finish();
    rack.finish();
}

// A host may hand the controller bytes of its own, such as a getState just after the page edited
// the patch: Bypass follows them, and the running patch goes on as it was, its hosted plug-in not
// made anew and the delay line that aligns the dry output to it keeping what it holds.
TEST(RackProcessor, ControllerStateNeverRebuildsThePatch) {
    constexpr std::int32_t kBlock = 1024;
    testing::Vst3CallLog log;
    RackInstance rack(*rackPluginModule()->factory);
    json blob = json::parse(testing::textOf(rack.state()));
    blob["project"] = testing::projectThrough(blob["project"], testing::Vst3TestClass::Latency);
    json& graph = blob["project"]["graph"];
    graph["nodes"].push_back(
        {{"id", "dry"}, {"type", "output"}, {"configuration", {{"channels", 2}, {"offset", 2}}}});
    graph["cables"].push_back(
        {{"from", "input"}, {"output", "out"}, {"to", "dry"}, {"input", "in"}});
    ASSERT_EQ(rack.restore(testing::blobOf(blob.dump())), vst3::kResultOk);
    ASSERT_EQ(rack.component->activateBus(vst3::kAudio, vst3::kOutput, 1, 1), vst3::kResultOk);
    rack.start(vst3::kSample32, kBlock);
    HostBlock<float> first(kBlock);
    ASSERT_EQ(rack.processor->process(first.data), vst3::kResultOk);
    const int made = log.count("create Test Latency");

    static_cast<RackProcessor*>(rack.component.get())
        ->application()
        .handleCommand({{"id", 1}, {"method", "layout"}, {"params", {{"zoom", 2}}}});
    json edited = json::parse(testing::textOf(rack.state()));
    for (const bool bypass : {true, false}) {
        edited["bypass"] = bypass;
        MemoryStream stream(testing::blobOf(edited.dump()));
        ASSERT_EQ(rack.controller->setComponentState(&stream), vst3::kResultOk);
        EXPECT_EQ(rack.controller->getParamNormalized(kBypassParameter), bypass ? 1.0 : 0.0);
    }
    EXPECT_EQ(log.count("create Test Latency"), made);

    HostBlock<float> next(kBlock);
    ASSERT_EQ(rack.processor->process(next.data), vst3::kResultOk);
    for (std::size_t frame = 0; frame < testing::kVst3TestLatency; ++frame) {
        ASSERT_EQ(next.output[2][frame], first.input[0][kBlock - testing::kVst3TestLatency + frame])
            << frame;
    }
    rack.finish();
}

// The page's restore is refused while a take is recorded, and so is the host's state.
TEST(RackProcessor, ATakeInProgressRefusesTheState) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "velkaphon-plugin-take";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    {
        auto factory = vst3::InterfacePtr<vst3::IPluginFactory>::adopt(rackPluginFactory());
        RackInstance rack(*factory.get());
        const std::vector<std::uint8_t> quiet = withFaderGain(rack, -20.0);
        json recorded = json::parse(testing::textOf(quiet));
        recorded["project"]["graph"] = {
            {"schema", 1},
            {"nodes",
             {{{"id", "input"}, {"type", "input"}, {"configuration", {{"channels", 2}}}},
              {{"id", "rec"},
               {"type", "recorder"},
               {"configuration", {{"channels", 2}, {"path", (folder / "take.wav").string()}}}},
              {{"id", "output"}, {"type", "output"}, {"configuration", {{"channels", 2}}}}}},
            {"cables",
             {{{"from", "input"}, {"output", "out"}, {"to", "rec"}, {"input", "in"}},
              {{"from", "rec"}, {"output", "out"}, {"to", "output"}, {"input", "in"}}}}};
        ASSERT_EQ(rack.restore(testing::blobOf(recorded.dump())), vst3::kResultOk);
        rack.start(vst3::kSample32, kFrames);
        HostBlock<float> first;
        ASSERT_EQ(rack.processor->process(first.data), vst3::kResultOk);
        static_cast<RackProcessor*>(rack.component.get())
            ->application()
            .handleCommand({{"id", 1}, {"method", "record"}});
        HostBlock<float> recording;
        ASSERT_EQ(rack.processor->process(recording.data), vst3::kResultOk);

        EXPECT_EQ(rack.restore(quiet), vst3::kResultFalse);
        // The controller's side restores no patch, so the take has nothing to refuse there.
        MemoryStream stream(quiet);
        EXPECT_EQ(rack.controller->setComponentState(&stream), vst3::kResultOk);
        HostBlock<float> after;
        ASSERT_EQ(rack.processor->process(after.data), vst3::kResultOk);
        EXPECT_EQ(after.output[0], after.input[0]);
        rack.finish();
    }
    std::filesystem::remove_all(folder);
}

TEST(RackProcessor, BypassParameterIsCheckedAndClamped) {
    RackInstance rack(*rackPluginModule()->factory);
    EXPECT_EQ(rack.controller->setParamNormalized(1, 1.0), vst3::kInvalidArgument);
    EXPECT_EQ(rack.controller->setParamNormalized(0, std::numeric_limits<double>::infinity()),
              vst3::kInvalidArgument);
    EXPECT_EQ(rack.controller->getParamNormalized(0), 0.0);
    EXPECT_EQ(rack.controller->setParamNormalized(0, 1.5), vst3::kResultOk);
    EXPECT_EQ(rack.controller->getParamNormalized(0), 1.0);
    ASSERT_EQ(rack.restore(withFaderGain(rack, -20.0)), vst3::kResultOk);
    rack.start(vst3::kSample32, kFrames);
    HostBlock<float> block;
    ASSERT_EQ(rack.processor->process(block.data), vst3::kResultOk);
    EXPECT_EQ(block.output[0], block.input[0]);
    rack.finish();
}

// Only what cannot be processed is refused, before anything is rendered.
TEST(RackProcessor, BadBlockLeavesTheHostOutputAsItWas) {
    RackInstance rack(*rackPluginModule()->factory);
    rack.start(vst3::kSample32, kFrames);
    // Frames, sample size, and whether the input or the output bus array is missing.
    struct Refusal {
        std::int32_t frames;
        std::int32_t sampleSize;
        bool noInputs;
        bool noOutputs;
    };
    constexpr std::array<Refusal, 5> refusals = {{
        {kFrames, vst3::kSample32, true, false},
        {kFrames, vst3::kSample32, false, true},
        {-1, vst3::kSample32, false, false},
        {kFrames + 1, vst3::kSample32, false, false},
        {kFrames, 2, false, false},
    }};
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        SCOPED_TRACE(i);
        const Refusal& refusal = refusals[i];
        HostBlock<float> block;
        std::fill(block.output[0].begin(), block.output[0].end(), 0.25f);
        block.data.numSamples = refusal.frames;
        block.data.symbolicSampleSize = refusal.sampleSize;
        block.data.inputs = refusal.noInputs ? nullptr : block.data.inputs;
        block.data.outputs = refusal.noOutputs ? nullptr : block.data.outputs;
        EXPECT_EQ(rack.processor->process(block.data), vst3::kInvalidArgument);
        EXPECT_THAT(block.output[0], ::testing::Each(0.25f));
    }
    rack.finish();
}

// The library linked in, so that the counter sees the rack's own allocations on every platform.
TEST(RackProcessor, ProcessAllocatesNothing) {
    auto component = vst3::InterfacePtr<vst3::FUnknown>::adopt(createRackProcessor(nullptr));
    auto base = vst3::queryInterfacePtr<vst3::IComponent>(component.get());
    auto processor = vst3::queryInterfacePtr<vst3::IAudioProcessor>(component.get());
    ASSERT_EQ(base->initialize(nullptr), vst3::kResultOk);
    vst3::ProcessSetup setup{vst3::kRealtime, vst3::kSample64, kFrames, 48000.0};
    ASSERT_EQ(processor->setupProcessing(setup), vst3::kResultOk);
    ASSERT_EQ(processor->setProcessing(true), vst3::kResultOk);
    HostBlock<double> block;
    Changes changes;
    changes.queues[0].set(0, 1.0, 64);
    changes.count = 1;
    VstEvents events;
    events.count = 1;
    events.events[0].type = vst3::Event::kNoteOnEvent;
    events.events[0].sampleOffset = 3;
    events.events[0].noteOn.velocity = std::numeric_limits<float>::quiet_NaN();
    block.data.inputParameterChanges = &changes;
    block.data.inputEvents = &events;
    vst3::ProcessContext context{};
    context.state = vst3::ProcessContext::kPlaying | vst3::ProcessContext::kTempoValid;
    context.tempo = 90.0;
    block.data.processContext = &context;
    std::size_t allocations = 0;
    {
        testing::AllocationCounter counter;
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(processor->process(block.data), vst3::kResultOk);
        }
        allocations = counter.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(processor->setProcessing(false), vst3::kResultOk);
    EXPECT_EQ(base->terminate(), vst3::kResultOk);
}

} // namespace
} // namespace velkaphon::rack
