#include "hosting/parameter_values.hpp"

#include <gtest/gtest.h>

#include <map>

namespace velkaphon::rack {
namespace {

std::map<std::size_t, double> takeEdits(ParameterValues& values) {
    std::map<std::size_t, double> edits;
    values.takeEdits([&](std::size_t place, double value) {
        edits[place] = value;
        return true;
    });
    return edits;
}

// Whatever the plug-in reports in a block, or holds when the control thread asks it, a rack edit
// stored after the block took its values or after the question was asked stays current and
// waits for the plug-in.
TEST(ParameterValues, AnEditStoredAfterTheBlockOrTheQuestionStaysCurrent) {
    ParameterValues values;
    values.reset(70);
    const std::uint64_t asked = values.clock();
    values.edit(69, 0.9);
    values.hold(69, 0.3, asked);
    EXPECT_EQ(values.current(69), 0.9);

    EXPECT_EQ(takeEdits(values), (std::map<std::size_t, double>{{69, 0.9}}));
    values.edit(69, 0.8);
    EXPECT_FALSE(values.report(69, 0.2));
    EXPECT_EQ(values.current(69), 0.8);
    EXPECT_TRUE(values.editPending(69));

    EXPECT_EQ(takeEdits(values), (std::map<std::size_t, double>{{69, 0.8}}));
    EXPECT_TRUE(values.report(69, 0.2));
    EXPECT_EQ(values.current(69), 0.2);
    values.hold(69, 0.4, values.clock());
    EXPECT_EQ(values.current(69), 0.4);
    EXPECT_EQ(takeEdits(values), (std::map<std::size_t, double>{}));
}

// An edit the block could not take waits, with those after it, and refuses the plug-in's report.
TEST(ParameterValues, EditsABlockCannotTakeWaitForTheNext) {
    ParameterValues values;
    values.reset(3);
    values.edit(0, 0.1);
    values.edit(1, 0.2);
    values.edit(2, 0.3);
    std::map<std::size_t, double> taken;
    values.takeEdits([&](std::size_t place, double value) {
        if (place == 1) {
            return false;
        }
        taken[place] = value;
        return true;
    });
    EXPECT_EQ(taken, (std::map<std::size_t, double>{{0, 0.1}}));
    EXPECT_FALSE(values.report(1, 0.5));
    EXPECT_EQ(takeEdits(values), (std::map<std::size_t, double>{{1, 0.2}, {2, 0.3}}));
}

} // namespace
} // namespace velkaphon::rack
