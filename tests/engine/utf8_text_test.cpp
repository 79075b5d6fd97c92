#include "engine/utf8_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velkaphon::rack {
namespace {

TEST(Utf8Text, AcceptsWellFormedTextAtTheEdgesOfEachLength) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ascii \x7F"));
    EXPECT_TRUE(isValidUtf8("\xC2\x80"));         // U+0080
    EXPECT_TRUE(isValidUtf8("\xE0\xA0\x80"));     // U+0800
    EXPECT_TRUE(isValidUtf8("\xED\x9F\xBF"));     // U+D7FF
    EXPECT_TRUE(isValidUtf8("\xEE\x80\x80"));     // U+E000
    EXPECT_TRUE(isValidUtf8("\xF0\x90\x80\x80")); // U+10000
    EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF")); // U+10FFFF
    EXPECT_TRUE(isValidUtf8("Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB9"));
}

TEST(Utf8Text, RefusesOverlongSurrogatesOutOfRangeAndCutOffSequences) {
    EXPECT_FALSE(isValidUtf8("\xC0\xAF")); // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xC1\xBF"));
    EXPECT_FALSE(isValidUtf8("\xE0\x9F\xBF"));     // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // U+D800
    EXPECT_FALSE(isValidUtf8("\xF0\x8F\xBF\xBF")); // overlong
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xF5\x80\x80\x80"));
    EXPECT_FALSE(isValidUtf8("\x80"));         // lone continuation
    EXPECT_FALSE(isValidUtf8("ab\xE2\x80"));   // cut off at the end
    EXPECT_FALSE(isValidUtf8("\xE2\x28\xA1")); // bad continuation
    EXPECT_FALSE(isValidUtf8("\xFF"));
}

TEST(Utf8Text, PathsKeepTheirCharacters) {
    EXPECT_FALSE(pathFromUtf8("bad\xFFname.wav"));
    const auto path = pathFromUtf8("Caf\xC3\xA9-\xE2\x80\x94.wav");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->u8string(), u8"Café-—.wav");
#ifdef _WIN32
    EXPECT_EQ(path->native(), L"Caf\u00e9-\u2014.wav");
#endif
}

} // namespace
} // namespace velkaphon::rack
