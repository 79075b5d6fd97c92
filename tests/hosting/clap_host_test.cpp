#include "abi/clap/audio_ports.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/params.hpp"
#include "abi/clap/state.hpp"
#include "abi/clap/thread_check.hpp"
#include "hosting/clap_event_buffer.hpp"
#include "hosting/clap_host.hpp"
#include "hosting/clap_library.hpp"
#include "tests/hosting/clap_test_plugin_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velkaphon::rack {
namespace {

template <typename Extension>
const Extension& extensionOf(const clap_host& host, const char* id) {
    const void* found = host.get_extension(&host, id);
    EXPECT_NE(found, nullptr) << id;
    return *static_cast<const Extension*>(found);
}

// The four request flags as one number, values first, for compact expectations.
int requests(const ClapHostState& state) {
    return state.valuesRequest.load() * 1000 + state.restartRequest.load() * 100 +
           state.callbackRequest.load() * 10 + state.flushRequest.load();
}

TEST(ClapHost, TheRecordNamesTheRackAndItsVersion) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    EXPECT_EQ(host.clap_version.major, 1u);
    EXPECT_EQ(host.clap_version.minor, 2u);
    EXPECT_EQ(host.clap_version.revision, 10u);
    EXPECT_EQ(host.host_data, &state);
    EXPECT_EQ(std::string(host.name), "VELKAPHON RACK");
    EXPECT_EQ(std::string(host.vendor), "VELKAPHON");
    EXPECT_EQ(std::string(host.version), "0.1.0-beta.3");
    EXPECT_EQ(std::string(host.url).rfind("https://", 0), 0u);
}

TEST(ClapHost, ExtensionsAreFoundByTheirExactIdOnly) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    for (const char* id : {"clap.thread-check", "clap.gui", "clap.params", "clap.latency",
                           "clap.audio-ports", "clap.state"}) {
        EXPECT_NE(host.get_extension(&host, id), nullptr) << id;
    }
    for (const char* id : {"clap.note-ports", "clap.gui.", "clap.gu", "CLAP.GUI", "", "clap.log"}) {
        EXPECT_EQ(host.get_extension(&host, id), nullptr) << id;
    }
    EXPECT_EQ(host.get_extension(&host, nullptr), nullptr);
}

TEST(ClapHost, CoreRequestsSetTheirOwnFlag) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    host.request_process(&host);
    EXPECT_EQ(requests(state), 0);
    host.request_callback(&host);
    EXPECT_EQ(requests(state), 10);
    host.request_restart(&host);
    EXPECT_EQ(requests(state), 110);
}

TEST(ClapHost, ParameterRescansReadValuesAgainAndRestartOnlyForAll) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    const auto& params = extensionOf<clap_host_params>(host, "clap.params");
    const std::vector<std::pair<std::uint32_t, int>> cases{
        {CLAP_PARAM_RESCAN_VALUES, 1000},
        {CLAP_PARAM_RESCAN_TEXT | CLAP_PARAM_RESCAN_INFO, 0},
        {CLAP_PARAM_RESCAN_ALL, 1100},
        {CLAP_PARAM_RESCAN_ALL | CLAP_PARAM_RESCAN_VALUES, 1100},
    };
    for (const auto& [flags, expected] : cases) {
        ClapHostState rescanned;
        const clap_host rescannedHost = makeClapHost(rescanned);
        params.rescan(&rescannedHost, flags);
        EXPECT_EQ(requests(rescanned), expected) << flags;
    }

    params.clear(&host, 3, CLAP_PARAM_CLEAR_ALL);
    EXPECT_EQ(requests(state), 0);
    params.request_flush(&host);
    EXPECT_EQ(requests(state), 1);
}

TEST(ClapHost, LatencyPortsAndStateCallbacks) {
    ClapHostState latencyState;
    const clap_host latencyHost = makeClapHost(latencyState);
    extensionOf<clap_host_latency>(latencyHost, "clap.latency").changed(&latencyHost);
    EXPECT_EQ(requests(latencyState), 100);

    ClapHostState portState;
    const clap_host portHost = makeClapHost(portState);
    const auto& ports = extensionOf<clap_host_audio_ports>(portHost, "clap.audio-ports");
    for (std::uint32_t flag : {1u, 2u, 4u, 8u, 16u, 32u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(ports.is_rescan_flag_supported(&portHost, flag)) << flag;
    }
    EXPECT_EQ(requests(portState), 0);
    ports.rescan(&portHost, CLAP_AUDIO_PORTS_RESCAN_NAMES);
    EXPECT_EQ(requests(portState), 100);

    ClapHostState dirtyState;
    const clap_host dirtyHost = makeClapHost(dirtyState);
    extensionOf<clap_host_state>(dirtyHost, "clap.state").mark_dirty(&dirtyHost);
    EXPECT_EQ(requests(dirtyState), 10);
}

TEST(ClapHost, TheEditorMayShowAndHideButNotResize) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    const auto& gui = extensionOf<clap_host_gui>(host, "clap.gui");
    gui.resize_hints_changed(&host);
    EXPECT_FALSE(gui.request_resize(&host, 640, 480));
    EXPECT_TRUE(gui.request_show(&host));
    EXPECT_TRUE(gui.request_hide(&host));
    gui.closed(&host, true);
    EXPECT_EQ(requests(state), 0);
}

TEST(ClapHost, TheAudioThreadIsOnlyTheOneRecordedAsInsideProcess) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    const auto& check = extensionOf<clap_host_thread_check>(host, "clap.thread-check");
    EXPECT_TRUE(check.is_main_thread(&host));
    EXPECT_FALSE(check.is_audio_thread(&host));
    state.audioThreadId = currentThreadId();
    EXPECT_TRUE(check.is_audio_thread(&host));
    state.audioThreadId = 0;
    EXPECT_FALSE(check.is_audio_thread(&host));
}

TEST(ClapHostThreads, OtherThreadsAreNeitherMainNorAudioUnlessRecorded) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    const auto& check = extensionOf<clap_host_thread_check>(host, "clap.thread-check");
    bool mainOnWorker = true;
    bool audioBeforeRecorded = true;
    bool audioWhenRecorded = false;
    std::thread worker([&] {
        mainOnWorker = check.is_main_thread(&host);
        audioBeforeRecorded = check.is_audio_thread(&host);
        state.audioThreadId = currentThreadId();
        audioWhenRecorded = check.is_audio_thread(&host);
    });
    worker.join();
    EXPECT_FALSE(mainOnWorker);
    EXPECT_FALSE(audioBeforeRecorded);
    EXPECT_TRUE(audioWhenRecorded);
    // Recorded for the worker, so not for this thread.
    EXPECT_FALSE(check.is_audio_thread(&host));
    EXPECT_NE(state.audioThreadId.load(), currentThreadId());
}

TEST(ClapHostThreads, RequestsFromManyThreadsAtOnceAreAllSeen) {
    ClapHostState state;
    const clap_host host = makeClapHost(state);
    const auto& params = extensionOf<clap_host_params>(host, "clap.params");
    std::vector<std::thread> threads;
    threads.emplace_back([&] { host.request_restart(&host); });
    threads.emplace_back([&] { host.request_callback(&host); });
    threads.emplace_back([&] { params.request_flush(&host); });
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(requests(state), 111);
}

// The host record as a real plug-in sees it, through the test plug-in's own calls.
class ClapHostWithPlugin : public ::testing::Test {
protected:
    const clap_plugin* create(const char* id) {
        const clap_plugin_factory* factory = library_->factory;
        const clap_plugin* plugin = factory->create_plugin(factory, &host_, id);
        EXPECT_NE(plugin, nullptr) << id;
        return plugin;
    }

    testing::ClapTestProbe& probe() { return testing::clapTestProbe(*library_); }

    std::shared_ptr<ClapLibrary> library_ = acquireClapLibrary(VELKAPHON_CLAP_TEST_PLUGIN);
    ClapHostState state_;
    clap_host host_ = makeClapHost(state_);
};

TEST_F(ClapHostWithPlugin, InitRunsOnTheMainThreadAndProcessOnTheRecordedAudioThread) {
    const clap_plugin* plugin = create("velkaphon.test.requests-restart");
    probe().initOnMainThread = false;
    ASSERT_TRUE(plugin->init(plugin));
    EXPECT_TRUE(probe().initOnMainThread);

    ClapEventBuffer inputEvents;
    ClapEventBuffer outputEvents;
    std::vector<float> left(8, 0.5f);
    std::vector<float> right(8, -0.25f);
    float* channels[] = {left.data(), right.data()};
    clap_audio_buffer inputs[] = {{channels, nullptr, 2, 0, 0}};
    clap_audio_buffer outputs[] = {{channels, nullptr, 2, 0, 0}};
    const clap_process process{
        0, 8, nullptr, inputs, outputs, 1, 1, inputEvents.input(), outputEvents.output()};

    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 8));
    ASSERT_TRUE(plugin->start_processing(plugin));
    EXPECT_EQ(plugin->process(plugin, &process), CLAP_PROCESS_CONTINUE);
    EXPECT_FALSE(probe().processOnAudioThread);
    state_.audioThreadId = currentThreadId();
    plugin->process(plugin, &process);
    EXPECT_TRUE(probe().processOnAudioThread);
    EXPECT_EQ(requests(state_), 100);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
}

TEST_F(ClapHostWithPlugin, AParameterEventFromTheBufferReachesThePlugIn) {
    const clap_plugin* plugin = create("velkaphon.test.gain");
    ASSERT_TRUE(plugin->init(plugin));
    ClapEventBuffer inputEvents;
    ClapEventBuffer outputEvents;
    clap_event_param_value gain{};
    gain.header = {sizeof(gain), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    gain.param_id = 100;
    gain.note_id = -1;
    gain.port_index = -1;
    gain.channel = -1;
    gain.key = -1;
    gain.value = 0.5;
    ASSERT_TRUE(inputEvents.push(&gain.header));

    std::vector<float> in(4, 0.8f);
    std::vector<float> out(4, 0.0f);
    float* inChannels[] = {in.data(), in.data()};
    float* outChannels[] = {out.data(), out.data()};
    clap_audio_buffer inputs[] = {{inChannels, nullptr, 2, 0, 0}};
    clap_audio_buffer outputs[] = {{outChannels, nullptr, 2, 0, 0}};
    const clap_process process{
        0, 4, nullptr, inputs, outputs, 1, 1, inputEvents.input(), outputEvents.output()};
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 4));
    EXPECT_EQ(plugin->process(plugin, &process), CLAP_PROCESS_CONTINUE);
    EXPECT_FLOAT_EQ(out[3], 0.4f);
    EXPECT_EQ(probe().lastInputEventCount, 1u);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
}

} // namespace
} // namespace velkaphon::rack
