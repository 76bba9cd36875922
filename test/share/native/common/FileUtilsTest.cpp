#include "FileUtils.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ("/a\\b", FileUtils::dirname("/a\\b/c"));
    EXPECT_EQ("/a", FileUtils::dirname("/a/\\b"));
    EXPECT_EQ("/a", FileUtils::dirname("/a/b\\."));
    EXPECT_EQ("a", FileUtils::dirname("a\\/\\b"));
}

TEST(FileUtilsDirname, DotOnlyCountsAfterASeparator) {
    EXPECT_EQ("/a", FileUtils::dirname("/a/b."));
    EXPECT_EQ("/a/b", FileUtils::dirname("/a/b/.."));
    EXPECT_EQ("", FileUtils::dirname("."));
}

TEST(FileUtilsBasename, TakesTextAfterLastSeparator) {
    const Cases cases = {
        {"/a/b", "b"}, {"/a/b/", ""}, {"a\\b", "b"}, {"name", "name"}, {"", ""}, {"/a\\b/c", "c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, FileUtils::basename(c.first)) << "path: " << c.first;
    }
}

TEST(FileUtilsSuffix, FindsExtensionOfLastComponent) {
    const Cases cases = {
        {"a.txt", ".txt"},   {"dir.d/file", ""},     {".profile", ".profile"},
        {"a/.profile", ".profile"}, {"..", ""},       {"a/..", ""},
        {"a..b", ".b"},      {"file.", "."},          {"noext", ""},
        {"a\\..", ""},       {"dir.d\\file", ""},     {"x/a.tar.gz", ".gz"},
        {"a/..b", ""},       {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, FileUtils::suffix(c.first)) << "path: " << c.first;
    }
}

TEST(FileUtilsCombinePath, JoinsWithExactlyOneSlash) {
    EXPECT_EQ("/x", FileUtils::combinePath("/", "x"));
    EXPECT_EQ("a/b", FileUtils::combinePath("a/", "/b"));
    EXPECT_EQ("a//b", FileUtils::combinePath("a//", "//b"));
    EXPECT_EQ("a/b", FileUtils::combinePath("a\\", "\\b"));
    EXPECT_EQ("a/b", FileUtils::combinePath("a", "b"));
}

TEST(FileUtilsCombinePath, EmptyPartGivesTheOtherUnchanged) {
    EXPECT_EQ("b", FileUtils::combinePath("", "b"));
    EXPECT_EQ("/b", FileUtils::combinePath("", "/b"));
    EXPECT_EQ("a/", FileUtils::combinePath("a/", ""));
    EXPECT_EQ("", FileUtils::combinePath("", ""));
}

TEST(FileUtilsRemoveTrailingSlash, DropsEveryTrailingSeparator) {
    EXPECT_EQ("/a/b", FileUtils::removeTrailingSlash("/a/b/\\/"));
    EXPECT_EQ("/a/b", FileUtils::removeTrailingSlash("/a/b"));
    EXPECT_EQ("", FileUtils::removeTrailingSlash("//"));
    EXPECT_EQ("", FileUtils::removeTrailingSlash(""));
}

TEST(FileUtilsNormalizePath, TurnsBackslashesIntoSlashesOnly) {
    EXPECT_EQ("a/b//./../C", FileUtils::normalizePath("a\\b\\/./..\\C"));
}

TEST(FileUtilsReplaceSuffix, SwapsOrAppendsExtension) {
    EXPECT_EQ("a.cfg", FileUtils::replaceSuffix("a.txt", ".cfg"));
    EXPECT_EQ("a.cfg", FileUtils::replaceSuffix("a", ".cfg"));
    EXPECT_EQ("a", FileUtils::replaceSuffix("a.txt", ""));
    EXPECT_EQ("dir.d/file.x", FileUtils::replaceSuffix("dir.d/file", ".x"));
    EXPECT_EQ("a/...x", FileUtils::replaceSuffix("a/..", ".x"));
}
