#include "engine/json_number.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;

std::string typeError(const json& value) {
    try {
        jsonInteger(value, 0, 10);
    } catch (const json::type_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(JsonNumber, BooleansAndOtherKindsAreTypeErrors) {
    EXPECT_EQ(typeError(true),
              "[json.exception.type_error.302] type must be number, but is boolean");
    EXPECT_EQ(typeError("3"), "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(typeError(nullptr),
              "[json.exception.type_error.302] type must be number, but is null");
    EXPECT_THROW(jsonReal(false, 0.0, 1.0), json::type_error);
}

TEST(JsonNumber, IntegersAreRangeCheckedBeforeNarrowing) {
    EXPECT_EQ(jsonInteger(64, 1, 64), 64);
    EXPECT_EQ(jsonInteger(1, 1, 64), 1);
    EXPECT_EQ(jsonInteger(65, 1, 64), std::nullopt);
    EXPECT_EQ(jsonInteger(0, 1, 64), std::nullopt);
    EXPECT_EQ(jsonInteger(-1, 0, 4294967295LL), std::nullopt);
    EXPECT_EQ(jsonInteger(4294967297LL, 0, 4294967295LL), std::nullopt);
    EXPECT_EQ(jsonInteger(std::numeric_limits<std::uint64_t>::max(), 0,
                          std::numeric_limits<std::int64_t>::max()),
              std::nullopt);
    EXPECT_EQ(jsonInteger(3u, -5, 5), 3);
    EXPECT_EQ(jsonInteger(-5, -5, 5), -5);
}

TEST(JsonNumber, WholeFloatsAreIntegersAndFractionsAreNot) {
    EXPECT_EQ(jsonInteger(2.0, 1, 64), 2);
    EXPECT_EQ(jsonInteger(1.5, 1, 64), std::nullopt);
    EXPECT_EQ(jsonInteger(-0.0, 0, 1), 0);
    EXPECT_EQ(jsonInteger(1e300, std::numeric_limits<std::int64_t>::min(),
                          std::numeric_limits<std::int64_t>::max()),
              std::nullopt);
    EXPECT_EQ(jsonInteger(9223372036854775808.0, 0, std::numeric_limits<std::int64_t>::max()),
              std::nullopt);
}

TEST(JsonNumber, RealsKeepTheirValueWithinBounds) {
    EXPECT_EQ(jsonReal(-80.0, -80.0, 12.0), -80.0);
    EXPECT_EQ(jsonReal(12, -80.0, 12.0), 12.0);
    EXPECT_EQ(jsonReal(12.0001, -80.0, 12.0), std::nullopt);
    EXPECT_EQ(jsonReal(-1, 0.0, 1.0), std::nullopt);
}

} // namespace
} // namespace velkaphon::rack
