#include "hosting/clap_utf8.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string pathFailure(const std::string& text) {
    try {
        utf8ToWidePath(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(ClapUtf8, PathsRoundTripThroughTheWideForm) {
    const std::string text = "Plug-ins/R\xC3\xB8"
                             "de \xE2\x82\xAC \xF0\x9F\x8E\xB9.clap";
    EXPECT_EQ(pathToUtf8(utf8ToWidePath(text)), text);
#ifdef _WIN32
    EXPECT_EQ(utf8ToWidePath("\xC3\xB8").native(), std::wstring(L"\u00F8"));
#endif
}

// Overlong forms, surrogates, values past U+10FFFF, stray and missing continuation bytes.
TEST(ClapUtf8, EveryIllFormedSequenceMakesThePathInvalid) {
    for (const std::string bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "\xF5\x80\x80\x80", "\x80", "a\xE2\x82", "\xFF"}) {
        EXPECT_EQ(pathFailure("x/" + bad + ".clap"), "Invalid UTF-8 path.") << bad;
    }
    // The largest of each length is still valid.
    EXPECT_EQ(pathFailure("\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), "no error");
}

TEST(ClapUtf8, AnEmbeddedNulWouldNameAnotherFileAndIsRefused) {
    EXPECT_EQ(pathFailure(std::string("good.clap\0other", 15)), "Invalid UTF-8 path.");
}

TEST(ClapUtf8, ValidTextIsKeptAsItIs) {
    const std::string text = "Gain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB9";
    EXPECT_EQ(replaceInvalidUtf8(text), text);
    EXPECT_EQ(replaceInvalidUtf8(""), "");
}

// Unicode's own example: each maximal part that could begin a sequence is one replacement.
TEST(ClapUtf8, EachMaximalInvalidPartBecomesOneReplacement) {
    const std::string r = kReplacement;
    EXPECT_EQ(replaceInvalidUtf8("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              "a" + r + r + r + "b" + r + "c" + r + r + "d");
    EXPECT_EQ(replaceInvalidUtf8("\xED\xA0\x80"), r + r + r);
    EXPECT_EQ(replaceInvalidUtf8("end \xE2\x82"), "end " + r);
}

} // namespace
} // namespace velkaphon::rack
