#include "PackageFile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string packageNameIn(const std::string& content) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir / ".package", content);
    return PackageFile::loadFromAppDir(dir.path()).getPackageName();
}

std::string loadError(const std::string& appDir) {
    return kvtest::thrownBy([&] { PackageFile::loadFromAppDir(appDir); }).raw;
}

// Root opens any file whatever its mode, so root's check runs in a child that
// gives root up first. Returns the child's answer, or "" when it could not run.
std::string loadErrorWithoutRoot(const std::string& appDir) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::string();
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const uid_t nobody = 65534;
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            ::_exit(2);
        }
        const std::string message = loadError(appDir);
        const ssize_t written = ::write(fds[1], message.data(), message.size());
        ::_exit(written == static_cast<ssize_t>(message.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        message.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::string();
    }
    return message;
}

} // namespace

TEST(PackageFile, FirstLineIsTheNameAsWritten) {
    const std::pair<const char*, const char*> cases[] = {
        {"MyCompany MyApp", "MyCompany MyApp"},
        {" padded name \nsecond line\n", " padded name "},
        {"\nMyApp\n", ""},
        {"", ""},
        {"MyApp\r\nOther\r\n", "MyApp\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, packageNameIn(c.first)) << "content: " << c.first;
    }
}

TEST(PackageFile, MissingFileGivesEmptyNameSilently) {
    kvtest::TempDir dir;
    kvtest::LogRecorder log;
    EXPECT_EQ("", PackageFile::loadFromAppDir(dir.path()).getPackageName());
    EXPECT_TRUE(log.events.empty());
}

TEST(PackageFile, TracesPathAndName) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir / ".package", "MyApp\n");
    kvtest::LogRecorder log;
    PackageFile::loadFromAppDir(dir.path() + "/");

    const std::vector<std::string> expected = {
        "Read \"" + dir.path() + "/.package\" package file",
        "Package name is [MyApp]",
    };
    EXPECT_EQ(expected, log.messagesFrom("loadFromAppDir"));
    EXPECT_EQ(expected.size(), log.events.size());

    kvtest::writeFile(dir / ".package", "");
    log.events.clear();
    PackageFile::loadFromAppDir(dir.path());
    EXPECT_EQ(std::vector<std::string>{expected.front()}, log.messagesFrom("loadFromAppDir"));
}

TEST(PackageFile, UnreadableFileFailsWithSystemText) {
    kvtest::TempDir dir;
    const std::string path = dir / ".package";
    kvtest::writeFile(path, "MyApp\n");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0));
    const std::string expected =
        "Error opening \"" + path + "\" file: " + std::strerror(EACCES);

    if (::geteuid() != 0) {
        EXPECT_EQ(expected, loadError(dir.path()));
        return;
    }
    // The unprivileged child must be able to reach the file to be refused it.
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0711));
    const std::string message = loadErrorWithoutRoot(dir.path());
    if (message.empty()) {
        GTEST_SKIP() << "running as root and cannot drop to an unprivileged user to be refused "
                        "the file";
    }
    EXPECT_EQ(expected, message);
}

// Read as the configuration file is: nothing but a regular file, never waited on.
TEST(PackageFile, AnythingButARegularFileFailsAtOnce) {
    kvtest::TempDir dir;
    const std::string path = dir / ".package";
    const struct {
        const char* what;
        std::function<void()> plant;
        std::string error;
    } cases[] = {
        {"FIFO", [&] { ::mkfifo(path.c_str(), 0600); }, "Not a regular file"},
        {"directory", [&] { kvtest::makeDirs(path); }, std::strerror(EISDIR)},
    };
    for (const auto& c : cases) {
        kvtest::runProcess({"/bin/rm", "-rf", path});
        c.plant();
        EXPECT_EQ("Error opening \"" + path + "\" file: " + c.error, loadError(dir.path()))
            << c.what;
    }
}
