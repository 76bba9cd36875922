#include "tstrings.h"

#include <clocale>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::string> Strings;

Strings split(const std::string& str, const std::string& delimiter, tstrings::SplitType st) {
    Strings out;
    tstrings::split(out, str, delimiter, st);
    return out;
}

} // namespace

TEST(TstringsAny, AppendsTextsAndNumbersInOrder) {
    tstrings::any builder(std::string("a"));
    builder << 42 << "b";
    EXPECT_EQ("a42b", builder.str());
}

TEST(TstringsAny, StartsEmptyOrWithItsArgument) {
    EXPECT_EQ("", tstrings::any().str());
    EXPECT_EQ("c", tstrings::any("c").str());
    EXPECT_EQ("", tstrings::any(static_cast<const char*>(nullptr)).str());
    EXPECT_EQ("-7 18446744073709551615",
              (tstrings::any() << -7 << " " << static_cast<std::size_t>(-1)).str());
}

TEST(TstringsEquals, ComparesBytesOrLoweredBytes) {
    EXPECT_FALSE(tstrings::equals("abc", "ABC", tstrings::ExactCase));
    EXPECT_TRUE(tstrings::equals("abc", "ABC", tstrings::AnyCase));
    EXPECT_FALSE(tstrings::equals("abc", "abcd", tstrings::ExactCase));
    EXPECT_FALSE(tstrings::equals("abc", "abcd", tstrings::AnyCase));
    EXPECT_TRUE(tstrings::equals("", "", tstrings::ExactCase));
    EXPECT_TRUE(tstrings::equals(std::string("a\0b", 3), std::string("a\0b", 3)));
    EXPECT_FALSE(tstrings::equals(std::string("a\0b", 3), std::string("a\0c", 3)));
}

TEST(TstringsEquals, UnnamedCompareTypeComparesExactly) {
    EXPECT_FALSE(tstrings::equals("abc", "ABC", static_cast<tstrings::CompareType>(2)));
    EXPECT_FALSE(tstrings::startsWith("ABC", "a", static_cast<tstrings::CompareType>(-1)));
}

TEST(TstringsToLower, ChangesOnlyAsciiCapitals) {
    EXPECT_EQ("ab1-z", tstrings::toLower("Ab1-Z"));
    EXPECT_EQ("\xC4", tstrings::toLower("\xC4"));
    EXPECT_EQ("@[`{", tstrings::toLower("@[`{"));
}

TEST(TstringsStartsWith, MatchesPrefixes) {
    EXPECT_TRUE(tstrings::startsWith("-splash:x", "-splash:"));
    EXPECT_FALSE(tstrings::startsWith("-spl", "-splash:"));
    EXPECT_TRUE(tstrings::startsWith("", ""));
    EXPECT_TRUE(tstrings::startsWith("x", ""));
    EXPECT_FALSE(tstrings::startsWith("-PSN_1", "-psn_"));
    EXPECT_TRUE(tstrings::startsWith("-PSN_1", "-psn_", tstrings::AnyCase));
}

TEST(TstringsEndsWith, MatchesSuffixes) {
    EXPECT_TRUE(tstrings::endsWith("/a/b/", "/"));
    EXPECT_FALSE(tstrings::endsWith("", "/"));
    EXPECT_TRUE(tstrings::endsWith("abc", ""));
    EXPECT_FALSE(tstrings::endsWith("abc", "xbc"));
    EXPECT_TRUE(tstrings::endsWith("a.CFG", ".cfg", tstrings::AnyCase));
}

TEST(TstringsSplit, KeepsEmptyPiecesOnRequest) {
    EXPECT_EQ((Strings{"/a", "", "/b"}), split("/a::/b", ":", tstrings::KeepEmptyPieces));
    EXPECT_EQ((Strings{"", "a", ""}), split(":a:", ":", tstrings::KeepEmptyPieces));
    EXPECT_EQ((Strings{"", ""}), split(":", ":", tstrings::KeepEmptyPieces));
}

TEST(TstringsSplit, DropsEmptyPiecesOnRequest) {
    EXPECT_EQ((Strings{"/a", "/b"}), split("/a::/b", ":", tstrings::DropEmptyPieces));
    EXPECT_EQ((Strings{"a"}), split(":a:", ":", tstrings::DropEmptyPieces));
    EXPECT_EQ((Strings{"x", "y", "z"}), split("x:y:z", ":", tstrings::DropEmptyPieces));
    EXPECT_EQ((Strings{"a"}), split(":a:", ":", static_cast<tstrings::SplitType>(5)));
}

TEST(TstringsSplit, MatchesWholeDelimiterWithoutOverlap) {
    EXPECT_EQ((Strings{"abc"}), split("abc", "::", tstrings::KeepEmptyPieces));
    EXPECT_EQ((Strings{"a", "b"}), split("a::b", "::", tstrings::KeepEmptyPieces));
    EXPECT_EQ((Strings{"a", ":b"}), split("a:::b", "::", tstrings::KeepEmptyPieces));
    EXPECT_EQ((Strings{"", "", "x"}), split("aaaax", "aa", tstrings::KeepEmptyPieces));
}

TEST(TstringsSplit, EmptyInputOrDelimiterGivesNothing) {
    EXPECT_TRUE(split("", ":", tstrings::KeepEmptyPieces).empty());
    EXPECT_TRUE(split("", ":", tstrings::DropEmptyPieces).empty());
    EXPECT_TRUE(split("abc", "", tstrings::KeepEmptyPieces).empty());
}

TEST(TstringsSplit, AppendsAfterExistingContent) {
    Strings out{"p", "q"};
    tstrings::split(out, "r:s", ":", tstrings::KeepEmptyPieces);
    EXPECT_EQ((Strings{"p", "q", "r", "s"}), out);
}

TEST(TstringsReplace, ReplacesLeftToRightWithoutRescanning) {
    EXPECT_EQ("ba", tstrings::replace("aaa", "aa", "b"));
    EXPECT_EQ("xx", tstrings::replace("x", "x", "xx"));
    EXPECT_EQ("abc", tstrings::replace("abc", "", "z"));
    EXPECT_EQ("/app/lib:/app", tstrings::replace("$APPDIR/lib:$APPDIR", "$APPDIR", "/app"));
    EXPECT_EQ("", tstrings::replace("aa", "a", ""));
}

// A class path written on one line holds its macro once per entry; replacing
// in place moved the rest of the string each time, and a fuzzed value took
// most of a minute. Large enough to hang that way, not to slow this down.
TEST(TstringsReplace, ReplacesEveryOccurrenceOfAMillion) {
    std::string str;
    std::string expected;
    for (int i = 0; i < 1000000; ++i) {
        str += i % 2 ? "$A:" : "$A";
        expected += i % 2 ? "/app/lib:" : "/app/lib";
    }
    EXPECT_EQ(expected, tstrings::replace(str, "$A", "/app/lib"));
    EXPECT_EQ(std::string(1000000 / 2, ':'), tstrings::replace(str, "$A", ""));
}

TEST(TstringsJoin, PutsDelimiterBetweenNeighboursOnly) {
    const std::tuple<Strings, const char*, const char*> cases[] = {
        {{"a", "b", "c"}, ", ", "a, b, c"}, {{"a"}, ", ", "a"}, {{}, ", ", ""},
        {{"", ""}, ":", ":"}};
    for (const auto& [pieces, delimiter, expected] : cases) {
        EXPECT_EQ(expected, tstrings::join(pieces.begin(), pieces.end(), delimiter));
    }
}

TEST(TstringsTrim, RemovesGivenBytesAtBothEnds) {
    EXPECT_EQ("ab", tstrings::trim(" \tab \t", " \t"));
    EXPECT_EQ("", tstrings::trim("   ", " "));
    EXPECT_EQ("", tstrings::trim("", " "));
    EXPECT_EQ(" a ", tstrings::trim(" a ", ""));
    EXPECT_EQ("a b", tstrings::trim("xxa bxx", "x"));
}

TEST(TstringsUnsafeFormat, FormatsLikePrintf) {
    EXPECT_EQ("5-x", tstrings::unsafe_format("%d-%s", 5, "x"));
    EXPECT_EQ("", tstrings::unsafe_format("%s", ""));
}

TEST(TstringsUnsafeFormat, GrowsBufferForLongOutput) {
    for (int length : {255, 256, 257, 511, 512, 1000}) {
        const std::string text(static_cast<std::size_t>(length), 'q');
        EXPECT_EQ(text, tstrings::unsafe_format("%s", text.c_str())) << "length " << length;
    }
    EXPECT_EQ(std::string(1000, ' ') + "7", tstrings::unsafe_format("%1001d", 7));
}

TEST(TstringsUnsafeFormat, RejectsNullFormat) {
    const char* format = nullptr;
    try {
        tstrings::unsafe_format(format);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("Destination buffer can't be NULL", e.what());
    }
}

TEST(TstringsUnsafeFormat, ThrowsWhenTheLibraryReportsAnError) {
    ASSERT_STREQ("C", std::setlocale(LC_ALL, nullptr));
    // A character outside ASCII cannot be converted in the C locale.
    const wchar_t unconvertible[] = {static_cast<wchar_t>(0xE9), 0};
    EXPECT_THROW(tstrings::unsafe_format("%ls", unconvertible), std::runtime_error);
}
