#include "abi/clap/events.hpp"
#include "hosting/editor_window_stand_in.hpp"
#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/hosted_block.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace velkaphon::rack {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using json = nlohmann::json;

TEST(ClapModuleCreation, WithoutPluginIdTheFirstPluginRunsAndItsIdIsKept) {
    auto module = makeClapModule({{"path", VELKAPHON_CLAP_TEST_PLUGIN}});
    EXPECT_EQ(module->status().at("pluginId"), "velkaphon.test.gain");
    EXPECT_EQ(module->parameters().at(0).name, "Gain");
    EXPECT_EQ(module->inputs(), (std::vector<PortSpec>{{"0", "Main In", 2}}));
    EXPECT_EQ(module->outputs(), (std::vector<PortSpec>{{"0", "Main Out", 2}}));
}

TEST(ClapModuleCreation, RefusalsNameTheirCauseAndDestroyTheInstance) {
    HeldClapPlugin plugin;
    const std::uint32_t created = plugin.probe().pluginsCreated;
    EXPECT_EQ(clapError(clapConfiguration("velkaphon.test.nothing")), "CLAP creation failed.");
    EXPECT_EQ(clapError(clapConfiguration("velkaphon.test.init-fails")), "CLAP init failed.");
    EXPECT_EQ(clapError({{"path", VELKAPHON_CLAP_EMPTY_FACTORY_PLUGIN}}), "Empty CLAP factory.");
    // Its id could not be written into the patch and found again, as the scan says.
    EXPECT_EQ(clapError({{"path", VELKAPHON_CLAP_BAD_FIRST_ID_PLUGIN}}),
              "A CLAP plugin in this file has an id that is not UTF-8.");
    EXPECT_THAT(clapError(json::object()), HasSubstr("key 'path' not found"));
    EXPECT_EQ(plugin.probe().pluginsCreated - created, 1u);
    EXPECT_EQ(plugin.probe().pluginsDestroyed - created, 1u);
}

TEST(ClapModuleCreation, APluginWithoutAudioOrNotePortsHasNoPortsAndRuns) {
    auto module = makeClapModule(clapConfiguration("velkaphon.test.no-audio-ports"));
    EXPECT_TRUE(module->inputs().empty());
    EXPECT_TRUE(module->outputs().empty());
    EXPECT_FALSE(module->hasEventInput());
    EXPECT_FALSE(module->hasEventOutput());
    HostedBlock block({}, {}, 4);
    module->process(block.context);
    EXPECT_EQ(module->processFault(), std::nullopt);
}

TEST(ClapModuleState, StateMustBeAnArrayOfBytesForAPluginWithState) {
    json configuration = clapConfiguration("velkaphon.test.gain");
    configuration["state"] = json::object();
    EXPECT_THAT(clapError(configuration, false), HasSubstr("type must be array, but is object"));
    configuration["state"] = {1, "2"};
    EXPECT_THAT(clapError(configuration, false), HasSubstr("type must be number"));
    configuration["state"] = json::array();
    configuration["pluginId"] = "velkaphon.test.latency";
    EXPECT_EQ(clapError(configuration, false), "Unsupported CLAP state.");
}

TEST(ClapModuleState, ARefusedStateStartsAFreshInstanceAndIsKeptForTheNextSave) {
    HeldClapPlugin plugin;
    for (const char* id : {"velkaphon.test.gain", "velkaphon.test.rejects-state"}) {
        json configuration = clapConfiguration(id);
        configuration["state"] = {1, 2};
        const std::uint32_t destroyed = plugin.probe().pluginsDestroyed;
        auto module = makeClapModule(configuration);
        EXPECT_TRUE(module->stateRefused()) << id;
        // The instance that read part of it is gone.
        EXPECT_EQ(plugin.probe().pluginsDestroyed - destroyed, 1u) << id;
        EXPECT_EQ(module->status().at("state"), configuration["state"]) << id;
    }
}

TEST(ClapModuleState, SavedStateAndValuesComeBackInANewModule) {
    auto first = makeClapModule(clapConfiguration("velkaphon.test.gain"));
    first->setControl(100, 0.5);
    HostedBlock block({2}, {2}, 4);
    first->process(block.context);
    const json saved = first->status();
    ASSERT_EQ(saved.at("state").size(), 8u);
    EXPECT_EQ(saved.at("parameters"), json::parse(R"([{"id":100,"value":0.5}])"));
    first.reset();

    auto second = makeClapModule(saved);
    EXPECT_FALSE(second->stateRefused());
    EXPECT_DOUBLE_EQ(second->parameters()[0].value, 0.5);
    EXPECT_EQ(second->status().at("state"), saved.at("state"));
}

TEST(ClapModuleParameters, ReadOnlyIsIgnoredAndValuesAreClampedToTheRange) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.many-params"));
    module->setControl(101, 0.9); // read-only
    module->setControl(102, 7.0);
    module->setControl(103, -std::numeric_limits<double>::infinity());
    module->setControl(99999, 0.1);
    const auto parameters = module->parameters();
    // The hidden last one is left out.
    ASSERT_EQ(parameters.size(), 599u);
    EXPECT_EQ(parameters.back().id, 698u);
    EXPECT_TRUE(parameters[1].readOnly);
    EXPECT_DOUBLE_EQ(parameters[1].value, 0.5);
    EXPECT_DOUBLE_EQ(parameters[2].value, 1.0);
    EXPECT_DOUBLE_EQ(parameters[3].value, 0.5);

    HostedBlock block({2}, {2}, 4);
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastInputEventCount, 1u);
    EXPECT_EQ(plugin.probe().lastEventTypes[0], CLAP_EVENT_PARAM_VALUE);
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastInputEventCount, 0u);
}

TEST(ClapModuleParameters, PastFiveHundredTwelveTheRestWaitForTheNextBlockAndNotesWaitToo) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.many-params"));
    for (std::uint32_t id = 100; id < 700; ++id) {
        module->setControl(id, 0.25);
    }
    HostedBlock block({2}, {2}, 8);
    block.setEvents({rackEvent(RackEventKind::NoteOn, 0, 0x90, 60, 100)});
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastInputEventCount, 512u);
    EXPECT_EQ(plugin.probe().lastEventTypes[7], CLAP_EVENT_PARAM_VALUE);
    module->process(block.context);
    // 599 editable parameters: 87 left, then the note.
    EXPECT_EQ(plugin.probe().lastInputEventCount, 88u);
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastInputEventCount, 1u);
    EXPECT_EQ(plugin.probe().lastEventTypes[0], CLAP_EVENT_MIDI);
}

std::vector<double> valuesOf(const HostedModule& module) {
    std::vector<double> values;
    for (const HostedParameter& parameter : module.parameters()) {
        values.push_back(parameter.value);
    }
    return values;
}

TEST(ClapModuleParameters, ThePluginsOwnPresetAndReportedValuesReachStatusAndSurviveARebuild) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.own-presets"));
    HostedBlock block({2}, {2}, 4);
    // The plug-in reports its read-only parameter from process and asks for on_main_thread,
    // where it loads a preset and asks for its values to be read again.
    module->process(block.context);
    EXPECT_EQ(valuesOf(*module), (std::vector<double>{0.5, 0.125}));
    module->idle();
    EXPECT_EQ(valuesOf(*module), (std::vector<double>{0.25, 0.125}));
    EXPECT_EQ(module->status()["parameters"],
              json::parse(R"([{"id": 100, "value": 0.25}, {"id": 101, "value": 0.125}])"));

    // A patch edit or a saved project makes a new module of that status.
    const json saved = json::parse(module->status().dump());
    module.reset();
    auto rebuilt = makeClapModule(saved);
    EXPECT_EQ(valuesOf(*rebuilt), (std::vector<double>{0.25, 0.125}));
    rebuilt->process(block.context);
    rebuilt->idle();
    EXPECT_EQ(valuesOf(*rebuilt), (std::vector<double>{0.25, 0.125}));
    EXPECT_EQ(rebuilt->status()["state"], saved["state"]);
}

TEST(ClapModuleParameters, APageMoveLaterThanThePluginsReportWins) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.own-presets"));
    HostedBlock block({2}, {2}, 4);
    module->process(block.context);
    module->setControl(100, 0.75);
    module->idle();
    EXPECT_EQ(valuesOf(*module), (std::vector<double>{0.75, 0.125}));
    module->process(block.context);
    module->idle();
    EXPECT_EQ(valuesOf(*module), (std::vector<double>{0.75, 0.125}));
}

TEST(ClapModuleEvents, EachEventArrivesOnceFlushStaysOffTheProcessAndSteadyTimeOnlyRises) {
    HeldClapPlugin plugin;
    plugin.probe() = ClapTestProbe{};
    {
        auto module = makeClapModule(clapConfiguration("velkaphon.test.own-presets"), false);
        // Inactive: the plug-in's flush request takes the page's change, and nothing else.
        module->setControl(100, 0.75);
        module->idle();
        EXPECT_EQ(plugin.probe().flushCalls, 1u);
        EXPECT_EQ(plugin.probe().parameterEventsSeen, 1u);

        module->prepare({48000.0, 512});
        HostedBlock block({2}, {2}, 4);
        block.setEvents({rackEvent(RackEventKind::NoteOn, 0, 0x90, 60, 100),
                         rackEvent(RackEventKind::NoteOff, 2, 0x80, 60, 0)});
        block.context.transport = {96000, 120.0, true, false};
        module->setControl(100, 0.5);
        std::thread audio([&] {
            module->process(block.context);
            // The transport loops back; steady time goes on.
            block.context.transport = {0, 120.0, true, false};
            module->setControl(100, 0.25);
            module->process(block.context);
            // The graph is replaced: the audio thread stops the plug-in.
            module->finishProcessing();
        });
        audio.join();
        module->idle();
        EXPECT_EQ(plugin.probe().lastSteadyTime, 4);
    }
    const ClapTestProbe& log = plugin.probe();
    EXPECT_EQ(log.stopProcessingCalls, 1u);
    EXPECT_EQ(log.stopProcessingOffAudioThread, 0u);
    EXPECT_EQ(log.parameterEventsSeen, 3u);
    EXPECT_EQ(log.notesSeen, 4u);
    EXPECT_EQ(log.flushCalls, 1u);
    EXPECT_FALSE(log.flushWhileProcessing);
    EXPECT_FALSE(log.flushWhileActiveOffAudioThread);
    EXPECT_FALSE(log.steadyTimeWentBack);
}

TEST(ClapModuleParameters, ConfiguredValuesAreAppliedAtPrepare) {
    json configuration = clapConfiguration("velkaphon.test.gain");
    configuration["parameters"] = {{{"id", 100}, {"value", 5.0}}};
    auto module = makeClapModule(configuration);
    EXPECT_DOUBLE_EQ(module->parameters()[0].value, 2.0);
    configuration["parameters"] = {{{"id", 100}, {"value", false}}};
    EXPECT_THAT(clapError(configuration), HasSubstr("type must be number"));
}

TEST(ClapModuleAudio, SamplesThatAreNotFiniteBecomeZeroAndTheGainApplies) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.gain"));
    HostedBlock block({2}, {2, 1}, 4);
    block.input(0, 0) = {std::nanf(""), 0.5f, std::numeric_limits<float>::infinity(), -0.25f};
    block.fillOutputs(3.0f);
    module->setControl(100, 2.0);
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastFirstInputSample, 0.0f);
    EXPECT_THAT(block.output(0, 0), ElementsAre(0.0f, 1.0f, 0.0f, -0.5f));
    EXPECT_THAT(block.output(1, 0), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_TRUE(plugin.probe().processOnAudioThread);
    EXPECT_EQ(plugin.probe().lastFrames, 4u);
}

TEST(ClapModuleAudio, ARestartRequestSilencesUntilTheModuleIsPreparedAgain) {
    auto module = makeClapModule(clapConfiguration("velkaphon.test.requests-restart"));
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0).assign(4, 0.5f);
    module->process(block.context);
    EXPECT_FLOAT_EQ(block.output(0, 0)[0], 0.5f);
    EXPECT_TRUE(module->restartRequested());
    module->process(block.context);
    EXPECT_EQ(block.output(0, 0), std::vector<float>(4, 0.0f));
}

TEST(ClapModuleTransport, PositionsAreFixedPointWith31FractionalBits) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.gain"));
    HostedBlock block({2}, {2}, 4);
    block.context.transport = {96000, 90.0, true, true};
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastSongPosSeconds, std::int64_t{2} << 31);
    EXPECT_EQ(plugin.probe().lastSongPosBeats, std::int64_t{3} << 31);
    EXPECT_EQ(plugin.probe().lastTransportFlags,
              CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                  CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING |
                  CLAP_TRANSPORT_IS_RECORDING);
    EXPECT_DOUBLE_EQ(plugin.probe().lastTempo, 90.0);
    EXPECT_EQ(plugin.probe().lastSteadyTime, 0);

    block.context.transport = {1000, 120.0, false, false};
    module->process(block.context);
    // 1000 / 48000 s, truncated.
    EXPECT_EQ(plugin.probe().lastSongPosSeconds, 44739242);
    EXPECT_EQ(plugin.probe().lastSongPosBeats, 89478485);
}

TEST(ClapModuleEvents, InTheClapDialectAZeroVelocityNoteOnIsANoteOff) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.note-echo"));
    EXPECT_TRUE(module->hasEventInput());
    EXPECT_TRUE(module->hasEventOutput());
    HostedBlock block({}, {2}, 8);
    block.setEvents({rackEvent(RackEventKind::NoteOn, 1, 0x92, 0xC0, 0),
                     rackEvent(RackEventKind::NoteOn, 2, 0x92, 64, 127),
                     rackEvent(RackEventKind::Midi, 3, 0xB0, 1, 1),
                     rackEvent(RackEventKind::Start, 4, 0, 0, 0)});
    module->process(block.context);
    ASSERT_EQ(plugin.probe().lastInputEventCount, 2u);
    EXPECT_EQ(plugin.probe().lastEventTypes[0], CLAP_EVENT_NOTE_OFF);
    EXPECT_EQ(plugin.probe().lastNoteKeys[0], 0x40);
    EXPECT_EQ(plugin.probe().lastEventTypes[1], CLAP_EVENT_NOTE_ON);
    EXPECT_DOUBLE_EQ(plugin.probe().lastNoteVelocities[1], 1.0);

    // The echoed notes come out; the plug-in's event just past the block does not.
    ASSERT_EQ(block.outputEvents.count, 2u);
    EXPECT_EQ(block.outputEvents.events[0], rackEvent(RackEventKind::NoteOff, 1, 0x82, 0x40, 0));
    EXPECT_EQ(block.outputEvents.events[1], rackEvent(RackEventKind::NoteOn, 2, 0x92, 64, 127));
}

TEST(ClapModuleEvents, EveryVelocityComesBackFromAPluginThatEncodesItAsAFloat) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.note-echo"));
    HostedBlock block({}, {2}, 8);
    for (int v = 0; v <= 127; ++v) {
        const auto velocity = static_cast<std::uint8_t>(v);
        block.outputEvents.clear();
        block.setEvents({rackEvent(RackEventKind::NoteOn, 0, 0x90, 60, velocity),
                         rackEvent(RackEventKind::NoteOff, 1, 0x80, 60, velocity)});
        module->process(block.context);
        EXPECT_EQ(plugin.probe().lastNoteVelocities[0], v / 127.0) << v;
        EXPECT_EQ(plugin.probe().lastNoteVelocities[1], v / 127.0) << v;
        ASSERT_EQ(block.outputEvents.count, 2u) << v;
        EXPECT_EQ(block.outputEvents.events[0].data2, velocity) << v;
        EXPECT_EQ(block.outputEvents.events[1].data2, velocity) << v;
    }
}

TEST(ClapModuleEvents, InTheMidiDialectNotesGoAsTheyAreAndComeBackAsMidi) {
    HeldClapPlugin plugin;
    auto module = makeClapModule(clapConfiguration("velkaphon.test.midi-echo"));
    HostedBlock block({}, {2}, 8);
    block.setEvents({rackEvent(RackEventKind::NoteOn, 0, 0x91, 60, 0),
                     rackEvent(RackEventKind::Midi, 5, 0xB0, 7, 99)});
    module->process(block.context);
    ASSERT_EQ(plugin.probe().lastInputEventCount, 2u);
    EXPECT_EQ(plugin.probe().lastEventTypes[0], CLAP_EVENT_MIDI);
    EXPECT_THAT(plugin.probe().lastMidiBytes[0], ElementsAre(0x91, 60, 0));
    ASSERT_EQ(block.outputEvents.count, 2u);
    EXPECT_EQ(block.outputEvents.events[1], rackEvent(RackEventKind::Midi, 5, 0xB0, 7, 99));

    block.outputEvents.clear();
    block.context.outputEvents = nullptr;
    module->process(block.context);
    EXPECT_EQ(block.outputEvents.count, 0u);
}

TEST(ClapModuleLatency, TheLatencyIsReadAtPrepare) {
    EXPECT_EQ(makeClapModule(clapConfiguration("velkaphon.test.latency"))->latencySamples(), 64u);
    EXPECT_EQ(makeClapModule(clapConfiguration("velkaphon.test.gain"))->latencySamples(), 0u);
}

TEST(ClapModuleLifecycle, TeardownStopsDeactivatesAndDestroysOnce) {
    HeldClapPlugin plugin;
    ClapTestProbe before = plugin.probe();
    {
        auto module = makeClapModule(clapConfiguration("velkaphon.test.gain"));
        HostedBlock block({2}, {2}, 4);
        module->process(block.context);
        module->process(block.context);
        EXPECT_DOUBLE_EQ(plugin.probe().lastActivateSampleRate, 48000.0);
        EXPECT_EQ(plugin.probe().lastActivateMaxFrames, 512u);
    }
    const ClapTestProbe& after = plugin.probe();
    EXPECT_EQ(after.activateCalls - before.activateCalls, 1u);
    EXPECT_EQ(after.startProcessingCalls - before.startProcessingCalls, 1u);
    EXPECT_EQ(after.stopProcessingCalls - before.stopProcessingCalls, 1u);
    EXPECT_EQ(after.deactivateCalls - before.deactivateCalls, 1u);
    EXPECT_EQ(after.pluginsDestroyed - before.pluginsDestroyed, 1u);
    EXPECT_TRUE(after.initOnMainThread);
}

TEST(ClapModuleEditor, APluginWithoutGuiSaysSo) {
    auto module = makeClapModule(clapConfiguration("velkaphon.test.gain"));
    std::string error;
    EXPECT_FALSE(module->openEditor(nullptr, error));
    EXPECT_EQ(error, "Plugin has no embedded Windows editor; use parameters.");
}

#ifndef _WIN32
TEST(ClapModuleEditor, OpeningSizesTheParentAndASecondOpenClosesTheFirst) {
    HeldClapPlugin plugin;
    NativeWindowHandle parent = createStandInWindow("VelkaphonVstEditor", 10, 10);
    auto module = makeClapModule(clapConfiguration("velkaphon.test.gui"));
    const ClapTestProbe before = plugin.probe();
    clearStandInWindowCalls();
    std::string error;
    ASSERT_TRUE(module->openEditor(parent, error)) << error;
    EXPECT_THAT(standInWindowCalls(), ElementsAre("size client 320x200"));
    EXPECT_EQ(standInWindow(parent).clientWidth, 320);
    ASSERT_TRUE(module->openEditor(parent, error));
    module->closeEditor();
    module->closeEditor();
    const ClapTestProbe& after = plugin.probe();
    EXPECT_EQ(after.guiCreated - before.guiCreated, 2u);
    EXPECT_EQ(after.guiDestroyed - before.guiDestroyed, 2u);
    EXPECT_EQ(after.guiHidden - before.guiHidden, 2u);
    EXPECT_EQ(after.guiShown - before.guiShown, 2u);
}
#endif

} // namespace
} // namespace velkaphon::rack
