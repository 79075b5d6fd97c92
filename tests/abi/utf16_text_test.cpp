#include "abi/utf16_text.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

TEST(Utf16Text, Utf16BecomesValidUtf8WithLoneSurrogatesReplaced) {
    EXPECT_EQ(utf8FromUtf16(u"\U0001F3B8"), "\xF0\x9F\x8E\xB8");
    EXPECT_EQ(utf8FromUtf16(u"\u20AC"), "\xE2\x82\xAC");
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(utf8FromUtf16(std::u16string_view(lone, 4)), "a\xEF\xBF\xBD"
                                                           "b\xEF\xBF\xBD");
}

TEST(Utf16Text, StrictUtf8ReadingRefusesEveryMalformedSequence) {
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
} // namespace velkaphon::rack
