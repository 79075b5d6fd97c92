#include "abi/vst3/text.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack::vst3 {
namespace {

TEST(Vst3Text, CopyZeroFillsTheFieldAndKeepsRoomForTheNul) {
    char field[8];
    std::fill(std::begin(field), std::end(field), 'x');
    copyText(field, "abc");
    EXPECT_EQ(std::string(field, 8), std::string("abc\0\0\0\0\0", 8));
    copyText(field, "0123456789");
    EXPECT_EQ(std::string(field, 8), std::string("0123456\0", 8));

    char16_t wide[4];
    copyText(wide, "\xE9z");
    EXPECT_EQ(wide[0], u'\u00E9');
    EXPECT_EQ(wide[1], u'z');
    EXPECT_EQ(wide[2], u'\0');
    EXPECT_EQ(wide[3], u'\0');
}

TEST(Vst3Text, FieldsEndAtTheFirstNulOrTheirCapacity) {
    const char narrow[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(textOf(narrow, 4), "abcd");
    const char shortText[4] = {'a', '\0', 'c', 'd'};
    EXPECT_EQ(textOf(shortText, 4), "a");

    const char16_t wide[3] = {u'\u00FC', u'b', u'c'};
    EXPECT_EQ(utf8FromField(wide, 3), "\xC3\xBC"
                                      "bc");
    const char16_t cut[3] = {u'x', u'\0', u'c'};
    EXPECT_EQ(utf8FromField(cut, 3), "x");
}

TEST(Vst3Text, Utf16BecomesValidUtf8WithLoneSurrogatesReplaced) {
    EXPECT_EQ(utf8FromUtf16(u"\U0001F3B8"), "\xF0\x9F\x8E\xB8");
    EXPECT_EQ(utf8FromUtf16(u"\u20AC"), "\xE2\x82\xAC");
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(utf8FromUtf16(std::u16string_view(lone, 4)), "a\xEF\xBF\xBD"
                                                           "b\xEF\xBF\xBD");
}

TEST(Vst3Text, StrictUtf8ReadingRefusesEveryMalformedSequence) {
    EXPECT_EQ(utf16FromUtf8("C:\\Plug-ins\\\xC3\xBC.vst3"), u"C:\\Plug-ins\\\u00FC.vst3");
    EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x8E\xB8"), u"\U0001F3B8");
    EXPECT_EQ(utf16FromUtf8(""), u"");
    EXPECT_FALSE(utf16FromUtf8("\xC3"));             // cut short
    EXPECT_FALSE(utf16FromUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(utf16FromUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(utf16FromUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(utf16FromUtf8("\x80"));             // a lone continuation
    EXPECT_FALSE(utf16FromUtf8("a\xE2\x82z"));       // continuation missing
}

} // namespace
} // namespace velkaphon::rack::vst3
