#include "CacheFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "TestSupport.h"

namespace {

unsigned modeOf(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777u : 0u;
}

} // namespace

TEST(PrivateDir, OpensOnlyAFolderOfTheUserAndGivesItMode0700) {
    const kvtest::TempDir tmp;
    kvtest::makeDirs(tmp / "open");
    ASSERT_EQ(0, ::chmod((tmp / "open").c_str(), 0777));
    kvtest::writeFile(tmp / "file", "");
    const struct {
        std::string home, rel;
        std::string error; // empty: opens
    } cases[] = {
        {tmp.path(), "new/nested", ""},
        {tmp.path(), "open", "\"" + tmp.path() + "/open\" may be written by other users"},
        {"relative", "x", "HOME \"relative\" is not an absolute path"},
        {tmp.path(), "new/../up", "\"" + tmp.path() + "/new/../up\" is not a plain path"},
        {tmp.path(), "file", "open(" + tmp.path() + "/file) failed. Error: Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel);
        const CacheFiles::PrivateDir dir(c.home, c.rel);
        EXPECT_EQ(c.error.empty(), dir.isOpen());
        EXPECT_EQ(c.error, dir.error());
        if (c.error.empty()) {
            EXPECT_EQ(0700u, modeOf(tmp / c.rel));
        }
    }
    EXPECT_EQ(0700u, modeOf(tmp / "new"));
    EXPECT_FALSE(::access((tmp / "up").c_str(), F_OK) == 0);

    ASSERT_EQ(0, ::chmod((tmp / "open").c_str(), 0755));
    EXPECT_TRUE(CacheFiles::makePrivateDirs(tmp / "open"));
    EXPECT_EQ(0700u, modeOf(tmp / "open"));
}

// With a standard stream closed, the lock must not take its number: the
// application would write into the lock file, and a create step handed the
// lock would lose it to the null device.
TEST(ExclusiveLock, NeverTakesAStandardStream) {
    kvtest::TempDir tmp;
    for (const int closed : {0, 1, 2}) {
        const int saved = ::dup(closed);
        ASSERT_LE(0, saved);
        ::close(closed);
        int descriptor = -1;
        {
            const CacheFiles::ExclusiveLock lock(tmp / "a.lock");
            descriptor = lock.descriptor();
        }
        ::dup2(saved, closed);
        ::close(saved);
        EXPECT_LE(3, descriptor) << closed;
    }
}
