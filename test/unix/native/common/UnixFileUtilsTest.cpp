#include "FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string currentDir() {
    std::vector<char> buffer(8192, 0);
    if (!::getcwd(buffer.data(), buffer.size())) {
        throw std::runtime_error("getcwd failed in the test");
    }
    return buffer.data();
}

} // namespace

TEST(UnixFileUtilsIsFileExists, FollowsLinksAndAcceptsAnyKind) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir / "file", "x");
    kvtest::makeDirs(dir / "sub");
    kvtest::makeSymlink(dir / "missing", dir / "dangling");
    kvtest::makeSymlink(dir / "file", dir / "good");

    EXPECT_TRUE(FileUtils::isFileExists(dir / "file"));
    EXPECT_TRUE(FileUtils::isFileExists(dir / "sub"));
    EXPECT_TRUE(FileUtils::isFileExists(dir / "good"));
    EXPECT_FALSE(FileUtils::isFileExists(dir / "dangling"));
    EXPECT_FALSE(FileUtils::isFileExists(dir / "missing"));
    EXPECT_FALSE(FileUtils::isFileExists(""));
}

TEST(UnixFileUtilsToAbsolutePath, KeepsPathsThatStartWithASeparator) {
    EXPECT_EQ("/a/./b", FileUtils::toAbsolutePath("/a/./b"));
    EXPECT_EQ("\\a", FileUtils::toAbsolutePath("\\a"));
}

TEST(UnixFileUtilsToAbsolutePath, JoinsRelativePathsToCurrentDirectory) {
    const std::string cwd = currentDir();
    EXPECT_EQ(cwd, FileUtils::toAbsolutePath(""));
    EXPECT_EQ(cwd + "/x", FileUtils::toAbsolutePath("x"));
    EXPECT_EQ(cwd + "/./x", FileUtils::toAbsolutePath("./x"));
    EXPECT_EQ(cwd + "/../y", FileUtils::toAbsolutePath("../y"));
}

// The current directory is changed only in forked children.
TEST(UnixFileUtilsToAbsolutePathDeathTest, RootAsCurrentDirectoryGivesOneSlash) {
    EXPECT_EXIT(
        {
            if (::chdir("/") != 0) {
                ::_exit(2);
            }
            const std::string result = FileUtils::toAbsolutePath("x");
            std::fprintf(stderr, "result: %s\n", result.c_str());
            ::_exit(result == "/x" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(UnixFileUtilsToAbsolutePathDeathTest, ReportsCurrentDirectoryTooLongForItsBuffer) {
    kvtest::TempDir dir;
    EXPECT_EXIT(
        {
            // About 1100 bytes: too long for a 1024-byte buffer, short enough for the OS.
            if (::chdir(dir.path().c_str()) != 0) {
                ::_exit(2);
            }
            const std::string name(100, 'd');
            for (int i = 0; i < 11; ++i) {
                if (::mkdir(name.c_str(), 0700) != 0 || ::chdir(name.c_str()) != 0) {
                    ::_exit(2);
                }
            }
            const std::string expected =
                std::string("getcwd() failed. Error: ") + std::strerror(ERANGE);
            for (const char* path : {"", "rel"}) {
                try {
                    FileUtils::toAbsolutePath(path);
                    std::fprintf(stderr, "no exception\n");
                    ::_exit(1);
                } catch (const KvErrorBase& e) {
                    std::fprintf(stderr, "message: %s\n", e.rawMessage());
                    if (expected != e.rawMessage()) {
                        ::_exit(1);
                    }
                }
            }
            ::_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(UnixFileUtilsStripExeSuffix, LeavesPathUnchanged) {
    EXPECT_EQ("/a/b.exe", FileUtils::stripExeSuffix("/a/b.exe"));
    EXPECT_EQ("launcher", FileUtils::stripExeSuffix("launcher"));
}
