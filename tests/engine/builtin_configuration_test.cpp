#include "engine/builtin.hpp"
#include "engine/builtin_configuration.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;

std::unique_ptr<Builtin> make(const std::string& type, const json& configuration = json::object()) {
    return createBuiltin(NodeDefinition{"node", type, configuration});
}

// The message a configuration is refused with, whichever exception carries it.
std::string refusal(const std::string& type, const json& configuration) {
    try {
        make(type, configuration);
    } catch (const std::invalid_argument& error) {
        return error.what();
    } catch (const json::exception& error) {
        return error.what();
    }
    return "accepted";
}

std::vector<PortSpec> ports(std::initializer_list<std::pair<const char*, std::uint32_t>> list) {
    std::vector<PortSpec> result;
    for (const auto& [text, channels] : list) {
        result.push_back({text, text, channels});
    }
    return result;
}

TEST(BuiltinCreation, TypeNamesAndAliasesAreExact) {
    EXPECT_EQ(make("input")->kind(), BuiltinKind::Input);
    EXPECT_EQ(make("output")->kind(), BuiltinKind::Output);
    EXPECT_EQ(make("summing")->kind(), BuiltinKind::Summing);
    EXPECT_EQ(make("digital-summing")->kind(), BuiltinKind::Summing);
    EXPECT_EQ(make("distributor")->kind(), BuiltinKind::Distributor);
    EXPECT_EQ(make("breakout")->kind(), BuiltinKind::Breakout);
    EXPECT_EQ(make("matrix")->kind(), BuiltinKind::Matrix);
    EXPECT_EQ(make("fader-bank")->kind(), BuiltinKind::FaderBank);
    EXPECT_EQ(make("faders")->kind(), BuiltinKind::FaderBank);
    EXPECT_EQ(make("Summing"), nullptr);
    EXPECT_EQ(make("player"), nullptr);
    EXPECT_EQ(make(""), nullptr);
    EXPECT_EQ(make("summing "), nullptr);
    EXPECT_EQ(make("FADERS"), nullptr);
}

TEST(BuiltinCreation, EmptyConfigurationGivesTheDefaults) {
    const auto input = make("input");
    EXPECT_TRUE(input->inputs().empty());
    EXPECT_EQ(input->outputs(), ports({{"out", 2}}));
    EXPECT_EQ(make("output")->inputs(), ports({{"in", 2}}));
    EXPECT_TRUE(make("output")->outputs().empty());
    EXPECT_EQ(make("summing")->inputs(), ports({{"in0", 2}, {"in1", 2}}));
    EXPECT_EQ(make("summing")->outputs(), ports({{"out", 2}}));
    EXPECT_EQ(make("digital-summing")->inputs(), make("summing")->inputs());
    EXPECT_EQ(make("distributor")->inputs(), ports({{"in", 2}}));
    EXPECT_EQ(make("distributor")->outputs(), ports({{"out0", 2}, {"out1", 2}}));
    EXPECT_EQ(make("breakout")->outputs(), ports({{"out0", 1}, {"out1", 1}}));
    EXPECT_EQ(make("matrix")->inputs(), ports({{"in", 2}}));
    EXPECT_EQ(make("matrix")->outputs(), ports({{"out", 2}}));

    const auto faders = make("faders");
    EXPECT_EQ(faders->inputs(), ports({{"in0", 2}}));
    EXPECT_EQ(faders->outputs(), ports({{"out0", 2}}));
    EXPECT_EQ(faders->status(), json({{"gainsDb", {0.0}}, {"mutes", {false}}, {"peaks", {0.0}}}));
    EXPECT_EQ(faders->latencySamples(), 0u);
    EXPECT_EQ(faders->level(), 0.0F);
}

TEST(BuiltinCreation, CountsShapeThePorts) {
    EXPECT_EQ(make("summing", {{"channels", 1}, {"inputs", 3}})->inputs(),
              ports({{"in0", 1}, {"in1", 1}, {"in2", 1}}));
    EXPECT_EQ(make("distributor", {{"channels", 64}, {"outputs", 64}})->outputs().back(),
              (PortSpec{"out63", "out63", 64}));
    EXPECT_EQ(make("breakout", {{"channels", 3}})->outputs(),
              ports({{"out0", 1}, {"out1", 1}, {"out2", 1}}));
    const auto matrix = make("matrix", {{"inputChannels", 6}, {"outputChannels", 1}});
    EXPECT_EQ(matrix->inputs(), ports({{"in", 6}}));
    EXPECT_EQ(matrix->outputs(), ports({{"out", 1}}));
    EXPECT_EQ(make("fader-bank", {{"strips", 3}, {"channels", {1, 2, 1}}})->outputs(),
              ports({{"out0", 1}, {"out1", 2}, {"out2", 1}}));
    EXPECT_EQ(make("fader-bank", {{"strips", 2}})->inputs(), ports({{"in0", 2}, {"in1", 2}}));
}

TEST(BuiltinCreation, CountsAreBoundedOneToSixtyFour) {
    EXPECT_EQ(refusal("input", {{"channels", 0}}), "channels is outside supported capacity");
    EXPECT_EQ(refusal("input", {{"channels", 65}}), "channels is outside supported capacity");
    EXPECT_EQ(make("input", {{"channels", 64}})->outputs(), ports({{"out", 64}}));
    EXPECT_EQ(refusal("summing", {{"inputs", 65}}), "inputs is outside supported capacity");
    EXPECT_EQ(refusal("distributor", {{"outputs", 0}}), "outputs is outside supported capacity");
    EXPECT_EQ(refusal("matrix", {{"inputChannels", 65}}),
              "inputChannels is outside supported capacity");
    EXPECT_EQ(refusal("matrix", {{"outputChannels", 0}}),
              "outputChannels is outside supported capacity");
    EXPECT_EQ(refusal("matrix", {{"channels", 65}}), "channels is outside supported capacity");
    EXPECT_EQ(refusal("faders", {{"strips", 65}}), "strips is outside supported capacity");
    EXPECT_EQ(refusal("faders", {{"strips", 0}}), "strips is outside supported capacity");
    EXPECT_EQ(make("faders", {{"strips", 64}})->inputs().size(), 64u);
}

// The JSON library's own conversion would take true for 1, -1 for 4294967295 and 4294967297
// for 1; each of these must be refused with the key's own message instead.
TEST(BuiltinCreation, NumbersThatWouldWrapOrPassAsBooleansAreRefused) {
    for (const json& value : {json(true), json(false), json(-1), json(4294967297LL),
                              json(4294967296LL), json(1.5), json(18446744073709551615ULL)}) {
        SCOPED_TRACE(value.dump());
        EXPECT_EQ(refusal("output", {{"channels", value}}),
                  "channels is outside supported capacity");
        EXPECT_EQ(refusal("summing", {{"inputs", value}}), "inputs is outside supported capacity");
        EXPECT_EQ(refusal("faders", {{"strips", value}}), "strips is outside supported capacity");
    }
    EXPECT_EQ(make("input", {{"channels", 2.0}})->outputs(), ports({{"out", 2}}));
}

TEST(BuiltinCreation, NonNumbersKeepTheLibraryTypeError) {
    EXPECT_EQ(refusal("input", {{"channels", "2"}}),
              "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(refusal("faders", {{"strips", nullptr}}),
              "[json.exception.type_error.302] type must be number, but is null");
    EXPECT_EQ(refusal("output", {{"offset", json::array()}}),
              "[json.exception.type_error.302] type must be number, but is array");
}

TEST(BuiltinCreation, HostOffsetReachesTheLimitAndNoFurther) {
    EXPECT_NO_THROW(make("input", {{"offset", 4096}}));
    EXPECT_NO_THROW(make("output", {{"offset", 4096}}));
    for (const json& value : {json(4097), json(-1), json(true), json(0.5), json(4294967297LL)}) {
        SCOPED_TRACE(value.dump());
        EXPECT_EQ(refusal("input", {{"offset", value}}), "Host channel offset exceeds capacity");
        EXPECT_EQ(refusal("output", {{"offset", value}}), "Host channel offset exceeds capacity");
    }
    // Only the host modules read the key.
    EXPECT_NO_THROW(make("summing", {{"offset", 9999}}));
}

TEST(BuiltinCreation, ConfigurationMustBeAnObject) {
    for (const char* type : {"input", "matrix", "faders"}) {
        EXPECT_EQ(refusal(type, json::array()), "Module configuration must be an object");
        EXPECT_EQ(refusal(type, nullptr), "Module configuration must be an object");
    }
}

TEST(BuiltinCreation, MatrixMappingIsCheckedForSizeThenSources) {
    EXPECT_EQ(refusal("matrix", {{"outputChannels", 3}, {"mapping", {0, 1}}}),
              "Matrix mapping must contain one index per output channel");
    EXPECT_EQ(refusal("matrix", {{"mapping", {0, -2}}}),
              "Matrix source channel is outside input bus");
    EXPECT_EQ(refusal("matrix", {{"mapping", {2, 0}}}),
              "Matrix source channel is outside input bus");
    // Size is checked before the sources.
    EXPECT_EQ(refusal("matrix", {{"mapping", {7}}}),
              "Matrix mapping must contain one index per output channel");
    // 4294967296 would narrow to the valid source 0; true to 1.
    EXPECT_EQ(refusal("matrix", {{"mapping", {4294967296LL, 0}}}),
              "Matrix source channel is outside input bus");
    EXPECT_EQ(refusal("matrix", {{"mapping", {true, 0}}}),
              "Matrix source channel is outside input bus");
    EXPECT_EQ(refusal("matrix", {{"mapping", {0.5, 0}}}),
              "Matrix source channel is outside input bus");
    EXPECT_NO_THROW(make("matrix", {{"inputChannels", 3}, {"mapping", {2, -1}}}));
}

TEST(BuiltinCreation, MatrixMappingMustBeAnArrayOfNumbers) {
    EXPECT_EQ(refusal("matrix", {{"mapping", json::object()}}),
              "[json.exception.type_error.302] type must be array, but is object");
    EXPECT_EQ(refusal("matrix", {{"mapping", 0}}),
              "[json.exception.type_error.302] type must be array, but is number");
    EXPECT_EQ(refusal("matrix", {{"mapping", nullptr}}),
              "[json.exception.type_error.302] type must be array, but is null");
    // A wrong entry type is reported ahead of the size.
    EXPECT_EQ(refusal("matrix", {{"mapping", {"0"}}}),
              "[json.exception.type_error.302] type must be number, but is string");
}

TEST(BuiltinCreation, MatrixCountsAreReadBeforeTheMapping) {
    EXPECT_EQ(refusal("matrix", {{"channels", 0}, {"inputChannels", 0}, {"mapping", 1}}),
              "channels is outside supported capacity");
    EXPECT_EQ(refusal("matrix", {{"inputChannels", 0}, {"outputChannels", 0}, {"mapping", 1}}),
              "inputChannels is outside supported capacity");
    EXPECT_EQ(refusal("matrix", {{"outputChannels", 99}, {"mapping", 1}}),
              "outputChannels is outside supported capacity");
}

TEST(BuiltinCreation, FaderArraysAreCheckedAgainstTheStripCount) {
    const std::string invalid = "Fader bank configuration arrays are invalid";
    EXPECT_EQ(refusal("faders", {{"strips", 2}, {"channels", {1}}}), invalid);
    EXPECT_EQ(refusal("faders", {{"channels", 2}}), invalid);
    EXPECT_EQ(refusal("faders", {{"gainsDb", 0}}), invalid);
    EXPECT_EQ(refusal("faders", {{"mutes", json::object()}}), invalid);
    EXPECT_EQ(refusal("faders", {{"gainsDb", {0, 0}}}), invalid);
    EXPECT_EQ(refusal("faders", {{"mutes", {false, false}}}), invalid);
    EXPECT_NO_THROW(make("faders", {{"strips", 3}, {"gainsDb", {-3}}, {"mutes", {true}}}));
    // The strip count is read first.
    EXPECT_EQ(refusal("faders", {{"strips", 65}, {"channels", 1}}),
              "strips is outside supported capacity");
}

TEST(BuiltinCreation, FaderEntriesAreCheckedStripByStrip) {
    EXPECT_EQ(refusal("faders", {{"strips", 2}, {"channels", {1, 3}}}),
              "Each fader strip must be mono or stereo");
    for (const json& entry : {json(0), json(true), json(1.5), json(4294967297LL)}) {
        SCOPED_TRACE(entry.dump());
        EXPECT_EQ(refusal("faders", {{"channels", {entry}}}),
                  "Each fader strip must be mono or stereo");
    }
    EXPECT_EQ(refusal("faders", {{"gainsDb", {13}}}), "Fader gain outside -80..12 dB");
    EXPECT_EQ(refusal("faders", {{"gainsDb", {-80.5}}}), "Fader gain outside -80..12 dB");
    EXPECT_EQ(refusal("faders", {{"gainsDb", {true}}}), "Fader gain outside -80..12 dB");
    EXPECT_NO_THROW(make("faders", {{"strips", 2}, {"gainsDb", {-80, 12}}}));
    EXPECT_EQ(refusal("faders", {{"gainsDb", {"0"}}}),
              "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(refusal("faders", {{"mutes", {1}}}),
              "[json.exception.type_error.302] type must be boolean, but is number");
    // Strip 0's gain is refused before strip 1's channel count is read.
    EXPECT_EQ(refusal("faders", {{"strips", 2}, {"channels", {1, 3}}, {"gainsDb", {13}}}),
              "Fader gain outside -80..12 dB");
    EXPECT_EQ(refusal("faders", {{"strips", 2}, {"channels", {3, 1}}, {"gainsDb", {13}}}),
              "Each fader strip must be mono or stereo");
}

TEST(BuiltinCreation, FaderGainCheckRefusesWhatIsNotFinite) {
    EXPECT_EQ(checkFaderGain(-80.0), -80.0F);
    EXPECT_EQ(checkFaderGain(12.0), 12.0F);
    EXPECT_THROW(checkFaderGain(std::nan("")), std::invalid_argument);
    EXPECT_THROW(checkFaderGain(HUGE_VAL), std::invalid_argument);
    EXPECT_THROW(checkFaderGain(12.000001), std::invalid_argument);
}

TEST(BuiltinStatus, RoutingModulesReturnTheirConfiguration) {
    const json configuration = {{"channels", 4}, {"offset", 2}, {"label", "Desk"}};
    EXPECT_EQ(make("output", configuration)->status(), configuration);
    EXPECT_EQ(make("matrix")->status(), json::object());
}

TEST(BuiltinStatus, FaderBankReplacesGainsMutesAndPeaks) {
    const auto faders = make("faders", {{"strips", 3},
                                        {"gainsDb", {-6.5, 3}},
                                        {"mutes", {false, true}},
                                        {"peaks", {"stale"}},
                                        {"title", "Band"}});
    EXPECT_EQ(faders->status(), json({{"strips", 3},
                                      {"gainsDb", {-6.5, 3.0, 0.0}},
                                      {"mutes", {false, true, false}},
                                      {"peaks", {0.0, 0.0, 0.0}},
                                      {"title", "Band"}}));
}

} // namespace
} // namespace velkaphon::rack
