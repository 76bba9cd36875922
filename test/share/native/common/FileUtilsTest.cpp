#include "FileUtils.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::vector<std::pair<std::string, std::string>> Cases;

// The same path with every '/' turned into '\\'.
std::string backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

// Each case: the argument, then what `f` gives for it.
void expectEach(std::string (*f)(const std::string&), const Cases& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, f(c.first)) << "path: " << c.first;
    }
}

// Each case: both arguments, then what combinePath or replaceSuffix gives.
void expectEach(std::string (*f)(const std::string&, const std::string&),
                const std::vector<std::array<const char*, 3>>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(c[2], f(c[0], c[1])) << "arguments: " << c[0] << ", " << c[1];
    }
}

} // namespace

TEST(FileUtilsSeparators, BothSlashesSeparateAndNothingElse) {
    EXPECT_TRUE(FileUtils::isDirSeparator('/'));
    EXPECT_TRUE(FileUtils::isDirSeparator('\\'));
    EXPECT_FALSE(FileUtils::isDirSeparator(':'));
    EXPECT_FALSE(FileUtils::isDirSeparator('.'));
    EXPECT_EQ(':', FileUtils::pathSeparator);
}

TEST(FileUtilsDirname, ClimbsOneComponentWithEitherSeparator) {
    const Cases cases = {
        {"/a/b", "/a"}, {"/a/b/", "/a/b"}, {"a//b", "a"},   {"/a", ""},     {"/", ""},
        {"name", ""},   {"/a/b/.", "/a"},  {"x/.", ""},      {"", ""},       {"/.", ""},
        {"a/b//", "a/b"}, {"//a", ""},     {"a///b/c", "a///b"}, {"///", ""}, {"a/b/c/.", "a/b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, FileUtils::dirname(c.first)) << "path: " << c.first;
        EXPECT_EQ(backslashed(c.second), FileUtils::dirname(backslashed(c.first)))
            << "path: " << backslashed(c.first);
    }
}

TEST(FileUtilsDirname, MixedSeparatorsCountAlike) {
    expectEach(FileUtils::dirname,
               {{"/a\\b/c", "/a\\b"}, {"/a/\\b", "/a"}, {"/a/b\\.", "/a"}, {"a\\/\\b", "a"}});
}

TEST(FileUtilsDirname, DotOnlyCountsAfterASeparator) {
    expectEach(FileUtils::dirname, {{"/a/b.", "/a"}, {"/a/b/..", "/a/b"}, {".", ""}});
}

TEST(FileUtilsBasename, TakesTextAfterLastSeparator) {
    expectEach(FileUtils::basename, {{"/a/b", "b"}, {"/a/b/", ""}, {"a\\b", "b"}, {"name", "name"},
                                     {"", ""}, {"/a\\b/c", "c"}});
}

TEST(FileUtilsSuffix, FindsExtensionOfLastComponent) {
    expectEach(FileUtils::suffix,
               {{"a.txt", ".txt"}, {"dir.d/file", ""}, {".profile", ".profile"},
                {"a/.profile", ".profile"}, {"..", ""}, {"a/..", ""}, {"a..b", ".b"},
                {"file.", "."}, {"noext", ""}, {"a\\..", ""}, {"dir.d\\file", ""},
                {"x/a.tar.gz", ".gz"}, {"a/..b", ""}, {"", ""}});
}

TEST(FileUtilsCombinePath, JoinsWithExactlyOneSlash) {
    expectEach(FileUtils::combinePath,
               {{"/", "x", "/x"}, {"a/", "/b", "a/b"}, {"a//", "//b", "a//b"},
                {"a\\", "\\b", "a/b"}, {"a", "b", "a/b"}});
}

TEST(FileUtilsCombinePath, EmptyPartGivesTheOtherUnchanged) {
    expectEach(FileUtils::combinePath,
               {{"", "b", "b"}, {"", "/b", "/b"}, {"a/", "", "a/"}, {"", "", ""}});
}

TEST(FileUtilsRemoveTrailingSlash, DropsEveryTrailingSeparator) {
    expectEach(FileUtils::removeTrailingSlash,
               {{"/a/b/\\/", "/a/b"}, {"/a/b", "/a/b"}, {"//", ""}, {"", ""}});
}

TEST(FileUtilsNormalizePath, TurnsBackslashesIntoSlashesOnly) {
    EXPECT_EQ("a/b//./../C", FileUtils::normalizePath("a\\b\\/./..\\C"));
}

TEST(FileUtilsReplaceSuffix, SwapsOrAppendsExtension) {
    expectEach(FileUtils::replaceSuffix,
               {{"a.txt", ".cfg", "a.cfg"}, {"a", ".cfg", "a.cfg"}, {"a.txt", "", "a"},
                {"dir.d/file", ".x", "dir.d/file.x"}, {"a/..", ".x", "a/...x"}});
}
