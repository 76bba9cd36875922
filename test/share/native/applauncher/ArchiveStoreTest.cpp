#include "ArchiveStore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "TestSupport.h"

using Strings = std::vector<std::string>;

namespace {

const std::string key = "0123456789abcdef";
const char complete[] = "\xa8\xab\x0b\xf0 complete"; // the dynamic archive's magic first

void setMtime(const std::string& path, long seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

} // namespace

TEST(ArchiveStore, FileNames) {
    const ArchiveStore store("/c", "My-App", key, ".jsa");
    EXPECT_EQ("/c/My-App-0123456789abcdef.log", store.path(".log"));
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {"My-App-0123456789abcdef-4096.jsa", true},
        {"My-App-0123456789abcdef-4096.aot", true},
        {"My-App-0123456789abcdef.tmp", true},
        {"My-App-0123456789abcdef.failed", true},
        {"My-App-0123456789abcdef.aotconf", true},
        {"My-App-0123456789abcdef.shipped", true},
        {"My-App-0123456789abcdef-.jsa", false},
        {"My-App-0123456789abcdeF-4096.jsa", false},
        {"My-App-0123456789abcde-14096.jsa", false},
        {"My-App-0123456789abcdef-4096.jsa.tmp", false},
        {"My-0123456789abcdef-4096.jsa", false},
        {"My-App-x-0123456789abcdef-4096.jsa", false},
        {"My-App.lock", false},
    };
    for (const auto& c : cases) {
        std::string fileKey;
        EXPECT_EQ(c.ours, store.parseName(c.name, fileKey)) << c.name;
        EXPECT_EQ(c.ours ? key : "", fileKey) << c.name;
    }
}

// Only a file that begins right and is as long as its name says is an
// archive; anything else under an archive's name is removed.
TEST(ArchiveStore, FindsOnlyCompleteArchives) {
    kvtest::TempDir tmp;
    const ArchiveStore store(tmp.path(), "App", key, ".jsa");
    const struct {
        std::string content;
        const char* size;
        bool found;
    } cases[] = {
        {complete, "13", true},
        {complete, "12", false},
        {std::string(complete).replace(0, 1, "x"), "13", false},
        {"", "0", false},
    };
    for (const auto& c : cases) {
        const std::string name = store.path(std::string("-") + c.size + ".jsa");
        kvtest::writeFile(name, c.content);
        EXPECT_EQ(c.found ? name : "", store.findArchive(0xf00baba8)) << c.size;
        EXPECT_EQ(c.found, CacheFiles::getStatus(name, false).exists) << c.size;
        ::unlink(name.c_str());
    }
}

TEST(ArchiveStore, CommitKeepsTheMostRecentlyUsedKeys) {
    kvtest::TempDir tmp;
    Strings keys;
    for (char digit : std::string("12345")) {
        keys.push_back(std::string(ArchiveStore::keyDigits - 1, 'a') + digit);
    }
    // Used longest ago first; the key being committed counts as the latest.
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        const ArchiveStore old(tmp.path(), "App", keys[i], ".jsa");
        kvtest::writeFile(old.path("-13.jsa"), complete);
        kvtest::writeFile(old.path(".log"), "");
        setMtime(old.path("-13.jsa"), 1000 + static_cast<long>(i));
        setMtime(old.path(".log"), 1000);
    }
    kvtest::writeFile(tmp / "Other-aaaaaaaaaaaaaaa1-13.jsa", complete);
    const ArchiveStore store(tmp.path(), "App", keys.back(), ".jsa");
    kvtest::writeFile(store.path(".tmp"), complete);
    ASSERT_TRUE(store.commit(store.path(".tmp"), 0xf00baba8, 3));

    Strings left = CacheFiles::listDir(tmp.path());
    std::sort(left.begin(), left.end());
    const Strings expected = {
        "App-" + keys[2] + "-13.jsa", "App-" + keys[2] + ".log",
        "App-" + keys[3] + "-13.jsa", "App-" + keys[3] + ".log",
        "App-" + keys[4] + "-13.jsa", "Other-aaaaaaaaaaaaaaa1-13.jsa",
    };
    EXPECT_EQ(expected, left);
    kvtest::writeFile(store.path(".tmp"), "cut short");
    EXPECT_FALSE(store.commit(store.path(".tmp"), 0xf00baba8, 3));
}
