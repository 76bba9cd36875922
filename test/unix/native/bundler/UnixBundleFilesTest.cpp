#include "BundleFiles.h"

#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(BundleFiles, MakeUniqueDirAndFileArePrivateAndNew) {
    kvtest::TempDir tmp;
    const std::string a = BundleFiles::makeUniqueDir(tmp / ".x.");
    const std::string b = BundleFiles::makeUniqueDir(tmp / ".x.");
    const std::string f = BundleFiles::makeUniqueFile(tmp / ".x.");
    EXPECT_NE(a, b);
    EXPECT_EQ(0u, a.rfind(tmp / ".x.", 0));
    for (const std::string& path : {a, b, f}) {
        struct stat st;
        ASSERT_EQ(0, ::stat(path.c_str(), &st)) << path;
        EXPECT_EQ(0u, st.st_mode & 077) << path;
    }
    EXPECT_NE("", kvtest::thrownBy([&] { BundleFiles::makeUniqueDir(tmp / "no/x."); }).raw);
}

// What lets two runs into one place end with one bundle and one failure.
TEST(BundleFiles, RenamePathNeverMovesIntoAnExistingBundle) {
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "staged/Contents/x", "new");
    kvtest::writeFile(tmp / "placed/Contents/x", "old");
    kvtest::writeFile(tmp / "file", "f");
    const int intoFull = BundleFiles::renamePath(tmp / "staged", tmp / "placed");
    EXPECT_TRUE(intoFull == ENOTEMPTY || intoFull == EEXIST) << intoFull;
    EXPECT_EQ(ENOTDIR, BundleFiles::renamePath(tmp / "staged", tmp / "file"));
    EXPECT_EQ("old", kvtest::readFile(tmp / "placed/Contents/x"));
    EXPECT_EQ("new", kvtest::readFile(tmp / "staged/Contents/x"));

    EXPECT_EQ(0, BundleFiles::renamePath(tmp / "staged", tmp / "fresh"));
    EXPECT_EQ("new", kvtest::readFile(tmp / "fresh/Contents/x"));
    kvtest::writeFile(tmp / "other", "o");
    EXPECT_EQ(0, BundleFiles::renamePath(tmp / "other", tmp / "file"));
    EXPECT_EQ("o", kvtest::readFile(tmp / "file"));
}
