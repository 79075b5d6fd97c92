#include "audio/text_codec.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

// The same cases run against Windows' own conversions and against the portable codec.

TEST(WideToUtf8, NullAndEmptyGiveAnEmptyText) {
    EXPECT_EQ(wideToUtf8(nullptr), "");
    EXPECT_EQ(wideToUtf8(u""), "");
}

TEST(WideToUtf8, EncodesEveryLengthOfSequence) {
    EXPECT_EQ(wideToUtf8(u"A"), "A");
    EXPECT_EQ(wideToUtf8(u"Lautsprecher (Gerät)"), "Lautsprecher (Ger\xC3\xA4t)");
    EXPECT_EQ(wideToUtf8(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(wideToUtf8(u"\U0001F3B9"), "\xF0\x9F\x8E\xB9");
    EXPECT_EQ(wideToUtf8(u"{0.0.0.00000000}.{a1b2}"), "{0.0.0.00000000}.{a1b2}");
}

TEST(WideToUtf8, ALoneSurrogateBecomesTheReplacementCharacter) {
    const char16_t lone[] = {u'a', char16_t(0xD83C), u'b', 0};
    EXPECT_EQ(wideToUtf8(lone), "a\xEF\xBF\xBD"
                                "b");
}

TEST(Utf8ToWide, RoundTripsValidTexts) {
    EXPECT_EQ(utf8ToWide("A"), u"A");
    EXPECT_EQ(utf8ToWide("Ger\xC3\xA4t \xE2\x82\xAC"), u"Gerät €");
    EXPECT_EQ(utf8ToWide("\xF0\x9F\x8E\xB9"), u"\U0001F3B9");
    EXPECT_EQ(utf8ToWide(""), u"");
}

TEST(Utf8ToWide, AnInvalidSequenceGivesAnEmptyText) {
    EXPECT_EQ(utf8ToWide("abc\xFF"), u"");
    EXPECT_EQ(utf8ToWide("ab\xC3"), u"");           // truncated
    EXPECT_EQ(utf8ToWide("\xC0\xAF"), u"");         // overlong
    EXPECT_EQ(utf8ToWide("\xED\xA0\x80"), u"");     // encoded surrogate
    EXPECT_EQ(utf8ToWide("\xF4\x90\x80\x80"), u""); // past U+10FFFF
    EXPECT_EQ(utf8ToWide("a\x80z"), u"");           // stray continuation byte
}

} // namespace
} // namespace velkaphon::rack
