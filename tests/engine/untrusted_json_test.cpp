#include "engine/untrusted_json.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;

std::string nested(std::size_t depth, const std::string& open, const std::string& close) {
    std::string text;
    for (std::size_t level = 0; level < depth; ++level) {
        text += open;
    }
    text += "1";
    for (std::size_t level = 0; level < depth; ++level) {
        text += close;
    }
    return text;
}

std::string outcome(const std::string& text, JsonExtent extent) {
    try {
        return readUntrustedJson(text, extent, "too deep").dump().substr(0, 12);
    } catch (const json::parse_error&) {
        return "parse error";
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

TEST(UntrustedJson, NestingIsRefusedPastTheLimitWhateverFollows) {
    struct Case {
        std::string text;
        JsonExtent extent;
        std::string expected;
    };
    const std::string arrays = nested(kMaxJsonDepth, "[", "]");
    const std::string objects = nested(kMaxJsonDepth, R"({"k":)", "}");
    const Case cases[] = {
        {arrays, JsonExtent::WholeText, "[[[[[[[[[[[["},
        {objects, JsonExtent::WholeText, R"({"k":{"k":{")"},
        {nested(kMaxJsonDepth + 1, "[", "]"), JsonExtent::WholeText, "too deep"},
        {nested(kMaxJsonDepth + 1, R"({"k":)", "}"), JsonExtent::FirstValue, "too deep"},
        {nested(200000, "[", "]"), JsonExtent::WholeText, "too deep"},
        // Unclosed and never finished: the depth is still what refuses it.
        {std::string(200000, '['), JsonExtent::WholeText, "too deep"},
        {arrays + " x", JsonExtent::WholeText, "parse error"},
        {arrays + " x", JsonExtent::FirstValue, "[[[[[[[[[[[["},
        // Only the first value is read, so a deep tail after it does no harm.
        {"{} " + std::string(200000, '['), JsonExtent::FirstValue, "{}"},
        {"", JsonExtent::FirstValue, "parse error"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(outcome(test.text, test.extent), test.expected) << test.text.substr(0, 40);
    }
}

} // namespace
} // namespace velkaphon::rack
