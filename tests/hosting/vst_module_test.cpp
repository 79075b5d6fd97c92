#include "hosting/vst3_block.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velkaphon::rack {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using json = nlohmann::json;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(VstModuleLifecycle, OneComponentThatIsItsOwnControllerIsSetUpAndTornDownInOrder) {
    Vst3CallLog log;
    { auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain)); }
    EXPECT_THAT(log.lines(), ElementsAre("InitDll", "GetPluginFactory", "create Test Gain",
                                         "initialize Test Gain", "handler set Test Gain",
                                         "setupProcessing Test Gain 32 512", "activate Test Gain",
                                         "processing on Test Gain", "processing off Test Gain",
                                         "deactivate Test Gain", "handler cleared Test Gain",
                                         "terminate Test Gain", "destroy Test Gain",
                                         "factory released", "ExitDll", "unloaded"));
}

TEST(VstModuleLifecycle, ASeparateControllerIsConnectedBothWaysAndGoesBeforeTheComponent) {
    Vst3CallLog log;
    { auto module = preparedVstModule(vstConfiguration(Vst3TestClass::SeparateController)); }
    EXPECT_THAT(
        log.lines(),
        ElementsAre("InitDll", "GetPluginFactory", "create Test Separate Controller",
                    "initialize Test Separate Controller", "create Test Controller",
                    "initialize Test Controller", "handler set Test Controller",
                    "connect Test Separate Controller", "connect Test Controller",
                    "setupProcessing Test Separate Controller 32 512",
                    "activate Test Separate Controller", "processing on Test Separate Controller",
                    "processing off Test Separate Controller",
                    "deactivate Test Separate Controller", "disconnect Test Separate Controller",
                    "disconnect Test Controller", "handler cleared Test Controller",
                    "terminate Test Controller", "destroy Test Controller",
                    "terminate Test Separate Controller", "destroy Test Separate Controller",
                    "factory released", "ExitDll", "unloaded"));
}

TEST(VstModuleLifecycle, AComponentWithoutControllerRunsWithoutParametersOrEditor) {
    Vst3CallLog log;
    {
        auto module = preparedVstModule(vstConfiguration(Vst3TestClass::NoController));
        EXPECT_TRUE(module->parameters().empty());
        std::string error;
        EXPECT_FALSE(module->openEditor(nullptr, error));
        EXPECT_EQ(error, "Plugin has no controller/editor.");
    }
    EXPECT_THAT(log.lines(),
                ElementsAre("InitDll", "GetPluginFactory", "create Test No Controller",
                            "initialize Test No Controller",
                            "setupProcessing Test No Controller 32 512",
                            "activate Test No Controller", "processing on Test No Controller",
                            "processing off Test No Controller", "deactivate Test No Controller",
                            "terminate Test No Controller", "destroy Test No Controller",
                            "factory released", "ExitDll", "unloaded"));
}

struct InjectedFailure {
    Vst3TestStep step;
    const char* message;
};

class VstModuleFailure : public ::testing::TestWithParam<std::tuple<InjectedFailure, bool>> {};

// Every step that fails, by result or by exception, leaves nothing alive and undoes each call
// that the plug-in saw.
TEST_P(VstModuleFailure, LeavesNoObjectAliveAndUndoesEveryStep) {
    const auto [failure, throws] = GetParam();
    HeldVstPlugin plugin;
    Vst3CallLog log;
    plugin.probe().failAt = failure.step;
    plugin.probe().throwOnFailure = throws;
    json configuration = vstConfiguration(Vst3TestClass::SeparateController);
    configuration["componentState"] = json::array();

    EXPECT_EQ(vstError(configuration),
              throws ? "The test plug-in failed on purpose." : failure.message);
    EXPECT_EQ(plugin.probe().liveObjects.load(), 0);
    for (const char* role : {"Test Separate Controller", "Test Controller"}) {
        const std::string name = role;
        EXPECT_EQ(log.count("initialize " + name), log.count("terminate " + name)) << name;
        EXPECT_EQ(log.count("create " + name), log.count("destroy " + name)) << name;
        EXPECT_EQ(log.count("connect " + name), log.count("disconnect " + name)) << name;
    }
    EXPECT_EQ(log.count("activate Test Separate Controller"),
              log.count("deactivate Test Separate Controller"));
    EXPECT_EQ(log.count("processing on Test Separate Controller"),
              log.count("processing off Test Separate Controller"));
    EXPECT_GE(log.count("handler cleared Test Controller"),
              log.count("handler set Test Controller"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, VstModuleFailure,
    ::testing::Combine(
        ::testing::Values(
            InjectedFailure{Vst3TestStep::CreateComponent, "VST3 effect creation failed."},
            InjectedFailure{Vst3TestStep::InitializeComponent,
                            "VST3 component initialization failed."},
            InjectedFailure{Vst3TestStep::CreateController, "VST3 controller creation failed."},
            InjectedFailure{Vst3TestStep::InitializeController,
                            "VST3 controller initialization failed."},
            InjectedFailure{Vst3TestStep::SetHandler, "VST3 controller rejected host handler."},
            InjectedFailure{Vst3TestStep::ConnectComponent, "VST3 processor connection failed."},
            InjectedFailure{Vst3TestStep::ConnectController, "VST3 controller connection failed."},
            InjectedFailure{Vst3TestStep::ActivateBus, "Cannot activate plugin input."},
            InjectedFailure{Vst3TestStep::SetupProcessing, "VST3 processing setup failed."},
            InjectedFailure{Vst3TestStep::ParameterInfo, "Invalid parameter."},
            InjectedFailure{Vst3TestStep::SetActive, "Plugin activation failed."},
            InjectedFailure{Vst3TestStep::SetProcessing, "Plugin processing failed."}),
        ::testing::Bool()));

TEST(VstModuleLifecycle, APluginThatLeavesSetProcessingUnimplementedRuns) {
    HeldVstPlugin plugin;
    plugin.probe().processingNotImplemented = true;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    HostedBlock block({2}, {2}, 8);
    block.input(0, 0)[3] = 0.25f;
    module->process(block.context);
    EXPECT_FLOAT_EQ(block.output(0, 0)[3], 0.25f);
}

TEST(VstModuleConfiguration, TheClassIdMustBeExactly32HexDigitsAndIsCheckedBeforeLoading) {
    Vst3CallLog log;
    json configuration = vstConfiguration(Vst3TestClass::Gain);
    configuration["classId"] = std::string(31, '0');
    EXPECT_EQ(vstError(configuration), "VST3 classId must be 32 hex characters.");
    for (const std::string& bad : {" 0" + std::string(30, '0'), "+0" + std::string(30, '0'),
                                   "0x" + std::string(30, '0'), std::string(31, '0') + "G"}) {
        configuration["classId"] = bad;
        EXPECT_EQ(vstError(configuration), "Invalid classId.") << bad;
    }
    EXPECT_TRUE(log.lines().empty());
    configuration["classId"] = 7;
    EXPECT_THAT(vstError(configuration), ::testing::HasSubstr("type must be string"));
}

TEST(VstModuleConfiguration, WithoutClassIdTheFirstAudioClassRunsAndLowerCaseDigitsAreAccepted) {
    Vst3CallLog log;
    {
        auto module = makeVstModule({{"path", VELKAPHON_TEST_VST3}});
        std::string id = vstClassIdText(vst3TestClassId(Vst3TestClass::Latency));
        std::transform(id.begin(), id.end(), id.begin(), [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        });
        auto latency = makeVstModule({{"path", VELKAPHON_TEST_VST3}, {"classId", id}});
    }
    EXPECT_EQ(log.count("create Test Gain"), 1);
    EXPECT_EQ(log.count("create Test Latency"), 1);
}

TEST(VstModuleConfiguration, ThePathMustBeValidUtf8) {
    EXPECT_EQ(vstError({{"path", "bad \xC3 path.vst3"}}), "Invalid module path.");
    EXPECT_EQ(vstError({{"path", std::string("a\0b.vst3", 8)}}), "Invalid module path.");
    EXPECT_THAT(vstError(json::object()), ::testing::HasSubstr("key 'path' not found"));
}

TEST(VstModuleConfiguration, StateBytesMustBeAnArrayOfBytes) {
    json configuration = vstConfiguration(Vst3TestClass::Gain);
    configuration["componentState"] = json::object();
    EXPECT_THAT(vstError(configuration, false),
                ::testing::HasSubstr("type must be array, but is object"));
    configuration["componentState"] = {1, 256};
    EXPECT_EQ(vstError(configuration, false), "Plugin state holds a value that is not a byte.");
    configuration["componentState"] = {1, true};
    EXPECT_THAT(vstError(configuration, false), ::testing::HasSubstr("type must be number"));
    // Bytes that the plug-in itself refuses are no fault of the configuration.
    configuration["componentState"] = {1, 2, 3};
    EXPECT_EQ(vstError(configuration, false), "no error");
}

TEST(VstModuleConfiguration, ParameterNumbersAreReadStrictly) {
    json configuration = vstConfiguration(Vst3TestClass::Gain);
    configuration["parameters"] = {{{"id", true}, {"value", 0.5}}};
    EXPECT_THAT(vstError(configuration), ::testing::HasSubstr("type must be number"));
    configuration["parameters"] = {{{"id", 1000}, {"value", "0.5"}}};
    EXPECT_THAT(vstError(configuration), ::testing::HasSubstr("type must be number"));
    // 4294968296 would wrap to 1000 as a 32-bit number: it names no parameter.
    configuration["parameters"] = {{{"id", 4294968296LL}, {"value", 0.9}},
                                   {{"id", -1}, {"value", 0.9}}};
    auto module = preparedVstModule(configuration);
    EXPECT_DOUBLE_EQ(module->parameters()[0].value, 0.5);
}

TEST(VstModulePrecision, AutoTakes32BitsWhenOfferedElse64AndFloat64Demands64) {
    Vst3CallLog log;
    preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    preparedVstModule(vstConfiguration(Vst3TestClass::Only64Bit));
    json float64 = vstConfiguration(Vst3TestClass::Gain);
    float64["precision"] = "float64";
    preparedVstModule(float64);
    EXPECT_EQ(log.count("setupProcessing Test Gain 32 512"), 1);
    EXPECT_EQ(log.count("setupProcessing Test 64-bit Only 32 512"), 0);
    EXPECT_EQ(log.count("setupProcessing Test 64-bit Only 64 512"), 1);
    EXPECT_EQ(log.count("setupProcessing Test Gain 64 512"), 1);
}

TEST(VstModulePrecision, APluginWithoutTheDemandedSizeIsRefused) {
    EXPECT_EQ(vstError(vstConfiguration(Vst3TestClass::NoSampleSize)),
              "Plugin does not support float32 or float64.");
    json float64 = vstConfiguration(Vst3TestClass::Only32Bit);
    float64["precision"] = "float64";
    EXPECT_EQ(vstError(float64), "Plugin does not support float32 or float64.");
    float64["precision"] = "Float64";
    EXPECT_EQ(vstError(float64), "no error");
}

TEST(VstModulePrecision, SixtyFourBitProcessingCarriesTheSamplesBothWays) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Only64Bit));
    HostedBlock block({2}, {2}, 8);
    block.input(0, 0)[3] = 0.25f;
    block.input(0, 1)[0] = -0.5f;
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastBlock.sampleSize, vst3::kSample64);
    EXPECT_DOUBLE_EQ(plugin.probe().lastBlock.inputSamples[0][3], 0.25);
    EXPECT_FLOAT_EQ(block.output(0, 0)[3], 0.25f);
    EXPECT_FLOAT_EQ(block.output(0, 1)[0], -0.5f);
}

TEST(VstModuleProcessingSetUp, RateAndBlockAreCheckedAndLongBlocksGiveSilence) {
    EXPECT_EQ(vstError(vstConfiguration(Vst3TestClass::Gain), false), "no error");
    auto module = makeVstModule(vstConfiguration(Vst3TestClass::Gain));
    EXPECT_THROW(module->prepare({7999.0, 512}), std::runtime_error);
    auto large = preparedVstModule(vstConfiguration(Vst3TestClass::Gain), {48000.0, 4096});
    HostedBlock block({2}, {2}, 4096);
    block.input(0, 0)[4095] = 0.5f;
    large->process(block.context);
    EXPECT_FLOAT_EQ(block.output(0, 0)[4095], 0.5f);

    auto small = preparedVstModule(vstConfiguration(Vst3TestClass::Gain), {48000.0, 64});
    HostedBlock tooLong({2}, {2}, 65);
    tooLong.input(0, 0)[0] = 0.5f;
    tooLong.fillOutputs(3.0f);
    small->process(tooLong.context);
    EXPECT_EQ(tooLong.output(0, 0), std::vector<float>(65, 0.0f));
    EXPECT_FALSE(small->restartRequested());
}

TEST(VstModuleAudio, SamplesThatAreNotFiniteReachThePluginAsZeroAndSilentChannelsAreFlagged) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0) = {kNaN, kInfinity, 0.5f, -kInfinity};
    module->process(block.context);
    const Vst3TestBlock& seen = plugin.probe().lastBlock;
    EXPECT_THAT(seen.inputSamples[0], ElementsAre(0.0, 0.0, 0.5, 0.0));
    EXPECT_EQ(seen.inputSilence, 0b10u);
    EXPECT_THAT(block.output(0, 0), ElementsAre(0.0f, 0.0f, 0.5f, 0.0f));
}

TEST(VstModuleAudio, MissingViewsReachThePluginAsSilenceAndExtraViewsGetZeros) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    HostedBlock none({}, {2, 2}, 4);
    none.fillOutputs(9.0f);
    module->process(none.context);
    EXPECT_EQ(plugin.probe().lastBlock.inputSilence, 0b11u);
    EXPECT_EQ(none.output(1, 0), std::vector<float>(4, 0.0f));
    EXPECT_EQ(none.output(0, 1), std::vector<float>(4, 0.0f));
}

TEST(VstModuleFault, ARestartRequestSilencesTheModuleAndPreparingClearsIt) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    plugin.probe().restartComponent(vst3::kParamValuesChanged);
    EXPECT_FALSE(module->restartRequested());
    plugin.probe().restartComponent(vst3::kIoChanged);
    EXPECT_TRUE(module->restartRequested());
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0).assign(4, 0.5f);
    module->process(block.context);
    EXPECT_EQ(block.output(0, 0), std::vector<float>(4, 0.0f));
}

TEST(VstModuleParameters, ARackEditReachesTheProcessorOnceAtOffsetZeroAndTheControllerAtIdle) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    ASSERT_EQ(module->parameters().size(), 2u);
    EXPECT_EQ(module->parameters()[0].name, "Gain");
    EXPECT_EQ(module->parameters()[0].unit, "x");
    EXPECT_TRUE(module->parameters()[1].readOnly);

    module->setControl(1000, 0.25);
    module->setControl(1001, 0.9); // read-only: ignored
    module->setControl(1000, std::nan(""));
    HostedBlock block({2}, {2}, 4);
    block.input(0, 0).assign(4, 1.0f);
    module->process(block.context);
    const Vst3TestBlock& seen = plugin.probe().lastBlock;
    ASSERT_EQ(seen.changeCount, 1);
    EXPECT_EQ(seen.changeIds[0], 1000u);
    EXPECT_EQ(seen.changeOffsets[0], 0);
    EXPECT_DOUBLE_EQ(seen.changeValues[0], 0.25);
    EXPECT_FLOAT_EQ(block.output(0, 0)[0], 0.5f);

    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastBlock.changeCount, 0);
    EXPECT_DOUBLE_EQ(module->parameters()[0].value, 0.25);
    EXPECT_DOUBLE_EQ(module->parameters()[1].value, 0.5);
}

TEST(VstModuleParameters, ConfiguredValuesArriveWithTheFirstBlockClamped) {
    HeldVstPlugin plugin;
    json configuration = vstConfiguration(Vst3TestClass::Gain);
    configuration["parameters"] = {{{"id", 1000}, {"value", 1.5}}, {{"id", 1001}, {"value", 0.1}}};
    auto module = preparedVstModule(configuration);
    HostedBlock block({2}, {2}, 4);
    module->process(block.context);
    ASSERT_EQ(plugin.probe().lastBlock.changeCount, 1);
    EXPECT_DOUBLE_EQ(plugin.probe().lastBlock.changeValues[0], 1.0);
}

TEST(VstModuleParameters, ControllerEditsReachTheProcessorButAreNotSentBack) {
    HeldVstPlugin plugin;
    Vst3CallLog log;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Restarts));
    EXPECT_EQ(plugin.probe().performEdit(1000, 0.75), vst3::kResultOk);
    module->idle();
    EXPECT_FALSE(module->restartRequested()); // setParamNormalized was not called
    module->setControl(1000, 0.6);
    module->idle();
    EXPECT_TRUE(module->restartRequested()); // the rack's edit reached the controller
}

TEST(VstModuleState, CapturedStateRestoresTheSameBytesInANewModule) {
    HeldVstPlugin plugin;
    auto first = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    first->setControl(1000, 0.3);
    HostedBlock block({2}, {2}, 4);
    first->process(block.context);
    const json saved = first->status();
    ASSERT_TRUE(saved.at("stateCaptureAvailable").get<bool>());
    ASSERT_EQ(saved.at("componentState").size(), 24u); // magic, count, two doubles
    EXPECT_EQ(saved.at("parameters"),
              json::parse(R"([{"id":1000,"value":0.3},{"id":1001,"value":0.5}])"));
    first.reset();

    auto second = preparedVstModule(saved);
    EXPECT_EQ(second->status().at("componentState"), saved.at("componentState"));
    EXPECT_DOUBLE_EQ(second->parameters()[0].value, 0.3);
}

// A separate controller's own state: saved beside the component's only when the controller writes
// it, given back after the component's, and never what a restore depends on. A configuration
// without it, as older projects have, loads as before.
TEST(VstModuleState, ASeparateControllersOwnStateFollowsTheComponentsAndIsNeverRequired) {
    struct Case {
        Vst3TestStep failing;
        bool keepKey;
        bool saved;
        bool restored;
    };
    for (const Case& c :
         {Case{Vst3TestStep::None, true, true, true}, Case{Vst3TestStep::None, false, true, false},
          Case{Vst3TestStep::GetControllerState, true, false, false},
          Case{Vst3TestStep::SetControllerState, true, true, false}}) {
        SCOPED_TRACE(static_cast<int>(c.failing));
        HeldVstPlugin plugin;
        Vst3CallLog log;
        plugin.probe().failAt = c.failing;
        auto first = preparedVstModule(vstConfiguration(Vst3TestClass::SeparateController));
        plugin.probe().setViewZoom(0.25);
        json saved = first->status();
        first.reset();
        ASSERT_EQ(saved.contains("controllerState"), c.saved);
        if (c.saved) {
            // "VKTV" and the zoom as a little-endian double.
            EXPECT_EQ(saved["controllerState"], json({86, 75, 84, 86, 0, 0, 0, 0, 0, 0, 208, 63}));
        }
        if (!c.keepKey) {
            saved.erase("controllerState");
        }

        auto second = preparedVstModule(saved);
        const std::vector<std::string> lines = log.lines();
        const auto component =
            std::find(lines.begin(), lines.end(), "setComponentState Test Controller");
        const auto own = std::find(lines.begin(), lines.end(), "setState Test Controller 0.250000");
        ASSERT_NE(component, lines.end());
        EXPECT_EQ(own != lines.end(), c.restored);
        EXPECT_LT(component, own);
        EXPECT_EQ(second->status().at("componentState"), saved.at("componentState"));
    }
}

// A plug-in that refuses its own saved state, by its answer or by throwing, runs from its defaults
// with a controller that was given neither saved state, and its status keeps the refused bytes,
// so that saving the project again loses nothing.
TEST(VstModuleState, ARefusedStateLeavesThePluginAtItsDefaultsAndIsSavedAgainByteForByte) {
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws);
        HeldVstPlugin plugin;
        auto first = preparedVstModule(vstConfiguration(Vst3TestClass::SeparateController));
        first->setControl(1000, 0.3);
        HostedBlock block({2}, {2}, 4);
        first->process(block.context);
        plugin.probe().setViewZoom(0.25);
        const json saved = first->status();
        EXPECT_FALSE(first->stateRefused());
        first.reset();

        Vst3CallLog log;
        plugin.probe().failAt = Vst3TestStep::SetState;
        plugin.probe().throwOnFailure = throws;
        auto second = preparedVstModule(saved);
        EXPECT_TRUE(second->stateRefused());
        EXPECT_EQ(log.count("setState Test Separate Controller"), 1);
        // The refusing instance may hold part of the state: a fresh one takes its place.
        EXPECT_EQ(log.count("initialize Test Separate Controller"), 2);
        EXPECT_EQ(log.count("terminate Test Separate Controller"), 1);
        EXPECT_EQ(log.count("setComponentState Test Controller"), 0);
        EXPECT_EQ(log.count("setState Test Controller 0.250000"), 0);
        const json status = second->status();
        EXPECT_EQ(status.at("componentState"), saved.at("componentState"));
        EXPECT_EQ(status.at("controllerState"), saved.at("controllerState"));
    }
}

TEST(VstModuleState, AnEmptyStateIsGivenAsAnEmptyStream) {
    Vst3CallLog log;
    json configuration = vstConfiguration(Vst3TestClass::SeparateController);
    configuration["componentState"] = json::array();
    auto module = makeVstModule(configuration);
    EXPECT_EQ(log.count("setState Test Separate Controller"), 1);
    EXPECT_EQ(log.count("setComponentState Test Controller"), 1);
}

TEST(VstModuleState, APluginWithoutStateCaptureLeavesNoStateInTheStatus) {
    json configuration = vstConfiguration(Vst3TestClass::NoState);
    configuration["componentState"] = json::array();
    auto module = preparedVstModule(configuration);
    const json status = module->status();
    EXPECT_FALSE(status.contains("componentState"));
    EXPECT_FALSE(status.at("stateCaptureAvailable").get<bool>());
    EXPECT_EQ(status.at("path"), VELKAPHON_TEST_VST3);
}

TEST(VstModuleLatency, TheReportedLatencyIsKeptUpToTenSecondsAtAnyRate) {
    HeldVstPlugin plugin;
    EXPECT_EQ(preparedVstModule(vstConfiguration(Vst3TestClass::Latency))->latencySamples(),
              kVst3TestLatency);
    plugin.probe().latencyOverride = 3840000;
    EXPECT_EQ(
        preparedVstModule(vstConfiguration(Vst3TestClass::Gain), {8000.0, 512})->latencySamples(),
        3840000u);
    plugin.probe().latencyOverride = 3840001;
    EXPECT_EQ(vstError(vstConfiguration(Vst3TestClass::Gain)),
              "Plugin latency exceeds 10-second bound.");
}

TEST(VstModuleTransport, TheProcessContextCarriesPositionTempoAndState) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain), {48000.0, 512});
    HostedBlock block({2}, {2}, 4);
    block.context.transport = {96000, 90.0, true, false};
    module->process(block.context);
    const vst3::ProcessContext& context = plugin.probe().lastBlock.context;
    EXPECT_EQ(context.state, 0x20600u | 2u);
    EXPECT_DOUBLE_EQ(context.sampleRate, 48000.0);
    EXPECT_EQ(context.projectTimeSamples, 96000);
    EXPECT_EQ(context.continousTimeSamples, 96000);
    EXPECT_DOUBLE_EQ(context.projectTimeMusic, 3.0);
    EXPECT_DOUBLE_EQ(context.tempo, 90.0);
    EXPECT_EQ(context.barPositionMusic, 0.0);

    block.context.transport = {0, 120.0, false, true};
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastBlock.context.state, 0x20600u | 8u);
}

TEST(VstModuleEvents, NotesAndTransportReachThePluginWithMaskedBytes) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::EventEcho));
    EXPECT_TRUE(module->hasEventInput());
    EXPECT_TRUE(module->hasEventOutput());
    HostedBlock block({2}, {2}, 8);
    block.setEvents({rackEvent(RackEventKind::Midi, 0, 0x93, 60, 0),
                     rackEvent(RackEventKind::NoteOn, 1, 0x95, 0xFF, 0xFF),
                     rackEvent(RackEventKind::Start, 2), rackEvent(RackEventKind::Stop, 3),
                     rackEvent(RackEventKind::Midi, 4, 0xB0, 7, 100),
                     rackEvent(RackEventKind::NoteOff, 8, 0x80, 60, 0)});
    module->process(block.context);
    const Vst3TestBlock& seen = plugin.probe().lastBlock;
    ASSERT_EQ(seen.eventCount, 4);
    EXPECT_EQ(seen.events[0].type, vst3::Event::kNoteOffEvent);
    EXPECT_EQ(seen.events[0].noteOff.channel, 3);
    EXPECT_EQ(seen.events[0].noteOff.pitch, 60);
    EXPECT_EQ(seen.events[0].noteOff.noteId, -1);
    EXPECT_EQ(seen.events[1].type, vst3::Event::kNoteOnEvent);
    EXPECT_EQ(seen.events[1].sampleOffset, 1);
    EXPECT_EQ(seen.events[1].noteOn.channel, 5);
    EXPECT_EQ(seen.events[1].noteOn.pitch, 127);
    EXPECT_FLOAT_EQ(seen.events[1].noteOn.velocity, 1.0f);
    EXPECT_EQ(seen.events[1].noteOn.noteId, -1);
    EXPECT_EQ(seen.sysExCodes[2], 1);
    EXPECT_EQ(seen.sysExCodes[3], 2);

    // The echo comes back: the stop message as the end of a player.
    ASSERT_EQ(block.outputEvents.count, 4u);
    EXPECT_EQ(block.outputEvents.events[0], rackEvent(RackEventKind::NoteOff, 0, 0x83, 60, 0));
    EXPECT_EQ(block.outputEvents.events[1], rackEvent(RackEventKind::NoteOn, 1, 0x95, 127, 127));
    EXPECT_EQ(block.outputEvents.events[2].kind, RackEventKind::Start);
    EXPECT_EQ(block.outputEvents.events[3].kind, RackEventKind::Ended);
    EXPECT_EQ(block.outputEvents.events[3].sampleOffset, 3u);
}

TEST(VstModuleEvents, OutputVelocityIsClampedAndEventsPastTheBlockAreDropped) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::EventEcho));
    plugin.probe().addOutputEvent = true;
    plugin.probe().outputEvent = {};
    plugin.probe().outputEvent.type = vst3::Event::kNoteOnEvent;
    plugin.probe().outputEvent.sampleOffset = 7;
    plugin.probe().outputEvent.noteOn = {2, 64, 0.0f, 1.2f, 0, -1};
    HostedBlock block({2}, {2}, 8);
    module->process(block.context);
    ASSERT_EQ(block.outputEvents.count, 1u);
    EXPECT_EQ(block.outputEvents.events[0], rackEvent(RackEventKind::NoteOn, 7, 0x92, 64, 127));

    block.outputEvents.clear();
    plugin.probe().outputEvent.sampleOffset = 8;
    module->process(block.context);
    EXPECT_EQ(block.outputEvents.count, 0u);

    // Velocities round to the nearest byte; NaN and values below 0 never reach an unsigned cast;
    // a note-on never comes out at 0, which would play as a note-off, and a NaN one is dropped.
    struct Case {
        vst3::Event::EventTypes type;
        float velocity;
        std::uint32_t count;
        std::uint8_t data2;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Case& test :
         {Case{vst3::Event::kNoteOnEvent, 0.5f, 1, 64}, Case{vst3::Event::kNoteOnEvent, 0.0f, 1, 1},
          Case{vst3::Event::kNoteOnEvent, -0.5f, 1, 1}, Case{vst3::Event::kNoteOnEvent, nan, 0, 0},
          Case{vst3::Event::kNoteOffEvent, nan, 1, 0},
          Case{vst3::Event::kNoteOffEvent, 1.5f, 1, 127}}) {
        block.outputEvents.clear();
        plugin.probe().outputEvent.type = test.type;
        plugin.probe().outputEvent.sampleOffset = 1;
        if (test.type == vst3::Event::kNoteOnEvent) {
            plugin.probe().outputEvent.noteOn = {0, 60, 0.0f, test.velocity, 0, -1};
        } else {
            plugin.probe().outputEvent.noteOff = {0, 60, test.velocity, -1, 0.0f};
        }
        module->process(block.context);
        ASSERT_EQ(block.outputEvents.count, test.count) << test.velocity;
        if (test.count == 1) {
            EXPECT_EQ(block.outputEvents.events[0].data2, test.data2) << test.velocity;
        }
    }

    // Without an output list nothing is written.
    block.outputEvents.clear();
    block.context.outputEvents = nullptr;
    plugin.probe().outputEvent.sampleOffset = 0;
    module->process(block.context);
    EXPECT_EQ(block.outputEvents.count, 0u);
}

TEST(VstModuleEvents, EveryVelocityComesBackFromAPluginThatEncodesItAsAFloat) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::EventEcho));
    HostedBlock block({2}, {2}, 8);
    for (int v = 0; v <= 127; ++v) {
        const auto velocity = static_cast<std::uint8_t>(v);
        const auto onVelocity = static_cast<std::uint8_t>(std::max(v, 1));
        block.outputEvents.clear();
        block.setEvents({rackEvent(RackEventKind::NoteOn, 0, 0x90, 60, velocity),
                         rackEvent(RackEventKind::NoteOff, 1, 0x80, 60, velocity)});
        module->process(block.context);
        const Vst3TestBlock& seen = plugin.probe().lastBlock;
        EXPECT_EQ(seen.events[0].noteOn.velocity, static_cast<float>(onVelocity) / 127.0f) << v;
        EXPECT_EQ(seen.events[1].noteOff.velocity, static_cast<float>(v) / 127.0f) << v;
        ASSERT_EQ(block.outputEvents.count, 2u) << v;
        EXPECT_EQ(block.outputEvents.events[0].data2, onVelocity) << v;
        EXPECT_EQ(block.outputEvents.events[1].data2, velocity) << v;
    }
}

TEST(VstModuleEvents, EventsBeyond256AreDropped) {
    HeldVstPlugin plugin;
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::EventEcho));
    std::vector<RackEvent> many(300, rackEvent(RackEventKind::NoteOn, 0, 0x90, 60, 100));
    HostedBlock block({2}, {2}, 8);
    block.setEvents(many);
    module->process(block.context);
    EXPECT_EQ(plugin.probe().lastBlock.eventCount, 256);
}

TEST(VstModuleEditor, APluginWithAControllerButNoViewSaysSo) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Latency));
    std::string error;
    EXPECT_FALSE(module->openEditor(nullptr, error));
    EXPECT_EQ(error, "Plugin has no native editor; use parameters.");
    module->closeEditor();
}

} // namespace
} // namespace velkaphon::rack
