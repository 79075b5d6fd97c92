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

} // namespace
} // namespace velkaphon::rack::vst3
