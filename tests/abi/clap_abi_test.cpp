#include "abi/clap/audio_ports.hpp"
#include "abi/clap/entry.hpp"
#include "abi/clap/events.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/note_ports.hpp"
#include "abi/clap/params.hpp"
#include "abi/clap/state.hpp"
#include "abi/clap/thread_check.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velkaphon::rack {
namespace {

// A plug-in finds what it asks for only by these exact texts.
TEST(ClapAbi, IdentifiersAreThePublishedTexts) {
    EXPECT_EQ(std::string(kClapEntrySymbol), "clap_entry");
    EXPECT_EQ(std::string(CLAP_PLUGIN_FACTORY_ID), "clap.plugin-factory");
    EXPECT_EQ(std::string(CLAP_EXT_AUDIO_PORTS), "clap.audio-ports");
    EXPECT_EQ(std::string(CLAP_EXT_NOTE_PORTS), "clap.note-ports");
    EXPECT_EQ(std::string(CLAP_EXT_PARAMS), "clap.params");
    EXPECT_EQ(std::string(CLAP_EXT_GUI), "clap.gui");
    EXPECT_EQ(std::string(CLAP_EXT_LATENCY), "clap.latency");
    EXPECT_EQ(std::string(CLAP_EXT_STATE), "clap.state");
    EXPECT_EQ(std::string(CLAP_EXT_THREAD_CHECK), "clap.thread-check");
    EXPECT_EQ(std::string(CLAP_WINDOW_API_WIN32), "win32");
}

TEST(ClapAbi, VersionIsOneTwoTen) {
    EXPECT_EQ(kClapVersion.major, 1u);
    EXPECT_EQ(kClapVersion.minor, 2u);
    EXPECT_EQ(kClapVersion.revision, 10u);
}

// The values both sides of the interface must agree on, bit for bit.
TEST(ClapAbi, EventTypesAndFlagsHaveThePublishedValues) {
    EXPECT_EQ(CLAP_EVENT_NOTE_ON, 0);
    EXPECT_EQ(CLAP_EVENT_NOTE_OFF, 1);
    EXPECT_EQ(CLAP_EVENT_PARAM_VALUE, 5);
    EXPECT_EQ(CLAP_EVENT_TRANSPORT, 9);
    EXPECT_EQ(CLAP_EVENT_MIDI, 10);
    EXPECT_EQ(CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                  CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING |
                  CLAP_TRANSPORT_IS_RECORDING,
              0x37u);
    EXPECT_EQ(CLAP_BEATTIME_FACTOR, 2147483648);
    EXPECT_EQ(CLAP_PARAM_IS_READONLY, 8u);
    EXPECT_EQ(CLAP_PARAM_RESCAN_VALUES, 1u);
    EXPECT_EQ(CLAP_PARAM_RESCAN_ALL, 8u);
    EXPECT_EQ(CLAP_NOTE_DIALECT_CLAP, 1u);
    EXPECT_EQ(CLAP_NOTE_DIALECT_MIDI, 2u);
    EXPECT_EQ(CLAP_PROCESS_ERROR, 0);
    EXPECT_EQ(CLAP_PROCESS_CONTINUE, 1);
}

} // namespace
} // namespace velkaphon::rack
