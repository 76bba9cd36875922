#include "SysInfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

std::vector<char> cpath(const std::string& path) {
    std::vector<char> v(path.begin(), path.end());
    v.push_back('\0');
    return v;
}

std::string realPathError(const std::string& path) {
    try {
        SysInfo::getRealPath(cpath(path));
    } catch (const KvError<std::runtime_error>& e) {
        return e.rawMessage();
    }
    ADD_FAILURE() << "getRealPath(" << path << ") did not throw";
    return std::string();
}

// A bundle whose executable is a copy of the probe, started through links.
class MacSysInfoModulePath : public ::testing::Test {
protected:
    void SetUp() override {
        kvtest::makeDirs(tmp / "Demo.app/Contents/app");
        kvtest::makeDirs(tmp / "Demo.app/Contents/MacOS");
        installProbe(exe);
    }

    static void installProbe(const std::string& dest) {
        namespace fs = std::filesystem;
        fs::copy_file(KVTEST_SYSINFO_PROBE_PATH, dest, fs::copy_options::overwrite_existing);
        fs::permissions(dest, fs::perms::owner_all, fs::perm_options::add);
    }

    // What the started executable reports as its own path.
    static std::string reported(const std::string& startPath, const std::string& cwd = "") {
        const kvtest::ProcessResult r = kvtest::runProcess({startPath}, {}, cwd);
        EXPECT_EQ(0, r.exitCode) << r.out << r.err;
        std::string out = r.out;
        if (!out.empty() && out.back() == '\n') {
            out.pop_back();
        }
        return out;
    }

    kvtest::TempDir tmp;
    const std::string exe = tmp / "Demo.app/Contents/MacOS/Demo";
};

TEST_F(MacSysInfoModulePath, PlainExecutableGivesItsAbsolutePath) {
    EXPECT_EQ(exe, reported(exe));
    EXPECT_EQ(exe, reported("MacOS/Demo", tmp / "Demo.app/Contents"));
}

TEST_F(MacSysInfoModulePath, AbsoluteLinkGivesItsTarget) {
    kvtest::makeSymlink(exe, tmp / "demo");
    EXPECT_EQ(exe, reported(tmp / "demo"));
}

TEST_F(MacSysInfoModulePath, RelativeTargetIsJoinedToTheLinkDirectory) {
    kvtest::makeDirs(tmp / "bin");
    kvtest::makeDirs(tmp / "elsewhere/deeper");
    kvtest::makeSymlink("../Demo.app/Contents/MacOS/Demo", tmp / "bin/demo");

    EXPECT_EQ(exe, reported(tmp / "bin/demo", tmp / "elsewhere/deeper"));
    EXPECT_EQ(exe, reported("../../bin/demo", tmp / "elsewhere/deeper"));
}

TEST_F(MacSysInfoModulePath, ChainOfLinksIsFollowedToTheEnd) {
    kvtest::makeDirs(tmp / "a");
    kvtest::makeDirs(tmp / "b");
    kvtest::makeDirs(tmp / "c");
    kvtest::makeSymlink("../b/second", tmp / "a/first");
    kvtest::makeSymlink(tmp / "c/third", tmp / "b/second");
    kvtest::makeSymlink("../Demo.app/Contents/MacOS/Demo", tmp / "c/third");

    EXPECT_EQ(exe, reported(tmp / "a/first"));
}

TEST_F(MacSysInfoModulePath, LongTargetIsNotCut) {
    std::string dir = tmp.path();
    for (char c = 'a'; c <= 'f'; ++c) {
        dir += "/" + std::string(200, c);
    }
    kvtest::makeDirs(dir);
    const std::string longExe = dir + "/Demo";
    ASSERT_GT(longExe.size(), 1024u);
    installProbe(longExe);
    kvtest::makeSymlink(longExe, tmp / "demo");

    EXPECT_EQ(longExe, reported(tmp / "demo"));
}

TEST_F(MacSysInfoModulePath, DotAndDotDotComponentsAreSettled) {
    EXPECT_EQ(exe, reported("../MacOS/Demo", tmp / "Demo.app/Contents/app"));
    EXPECT_EQ(exe, reported("./.././MacOS/Demo", tmp / "Demo.app/Contents/app"));
}

TEST(MacSysInfoRealPath, LinkLoopIsAnErrorWithTheSystemText) {
    kvtest::TempDir tmp;
    kvtest::makeSymlink(tmp / "two", tmp / "one");
    kvtest::makeSymlink("one", tmp / "two");

    EXPECT_EQ("realpath(" + (tmp / "one") + ") failed. Error: " + std::strerror(ELOOP),
              realPathError(tmp / "one"));
}

TEST(MacSysInfoRealPath, MissingPathAndDanglingLinkAreErrors) {
    kvtest::TempDir tmp;
    kvtest::makeSymlink(tmp / "gone", tmp / "dangling");

    EXPECT_EQ("lstat(" + (tmp / "gone") + ") failed. Error: " + std::strerror(ENOENT),
              realPathError(tmp / "gone"));
    EXPECT_EQ("realpath(" + (tmp / "dangling") + ") failed. Error: " + std::strerror(ENOENT),
              realPathError(tmp / "dangling"));
}

TEST(MacSysInfoRealPath, ErrorCarriesItsThrowSite) {
    try {
        SysInfo::getRealPath(cpath("/nonexistent/kovalu/path"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("MacSysInfo.cpp("));
        EXPECT_NE(std::string::npos, std::string(e.what()).find(") at getRealPath(): lstat("));
    }
}

// Replaces the stored process arguments for one test.
class ArgvGuard {
public:
    explicit ArgvGuard(std::vector<std::string> args)
        : strings(std::move(args)), savedArgc(SysInfo::argc), savedArgv(SysInfo::argv) {
        for (std::string& s : strings) {
            pointers.push_back(&s[0]);
        }
        pointers.push_back(nullptr);
        SysInfo::argc = static_cast<int>(strings.size());
        SysInfo::argv = pointers.data();
    }
    ~ArgvGuard() {
        SysInfo::argc = savedArgc;
        SysInfo::argv = savedArgv;
    }
    ArgvGuard(const ArgvGuard&) = delete;
    ArgvGuard& operator=(const ArgvGuard&) = delete;

private:
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    int savedArgc;
    char** savedArgv;
};

using Args = std::vector<std::string>;

TEST(MacSysInfoCommandArgs, ProcessSerialNumberIsDropped) {
    ArgvGuard args({"/x/Demo", "-psn_0_123456", "word"});
    EXPECT_EQ(Args({"word"}), SysInfo::getCommandArgs(SysInfo::ExcludeProgramName));
    EXPECT_EQ(Args({"/x/Demo", "word"}), SysInfo::getCommandArgs(SysInfo::IncludeProgramName));
}

TEST(MacSysInfoCommandArgs, OnlyTheExactCasePrefixIsDropped) {
    ArgvGuard args({"Demo", "-PSN_1", "-psn_", "-psn", "x-psn_1", "-psn_2", "last"});
    EXPECT_EQ(Args({"-PSN_1", "-psn", "x-psn_1", "last"}),
              SysInfo::getCommandArgs(SysInfo::ExcludeProgramName));
}

TEST(MacSysInfoCommandArgs, ProgramNameIsFilteredLikeAnyArgument) {
    ArgvGuard args({"-psn_name", "a"});
    EXPECT_EQ(Args({"a"}), SysInfo::getCommandArgs(SysInfo::IncludeProgramName));
}

TEST(MacSysInfoCommandArgs, UnknownModeKeepsTheProgramName) {
    ArgvGuard args({"Demo", "a"});
    EXPECT_EQ(Args({"Demo", "a"}),
              SysInfo::getCommandArgs(static_cast<SysInfo::CommandArgProgramNameMode>(7)));
}

TEST(MacSysInfoCommandArgs, NothingBeyondTheFirstIndexGivesEmpty) {
    {
        ArgvGuard args({"Demo"});
        EXPECT_TRUE(SysInfo::getCommandArgs(SysInfo::ExcludeProgramName).empty());
    }
    ArgvGuard none({});
    EXPECT_TRUE(SysInfo::getCommandArgs(SysInfo::IncludeProgramName).empty());
    EXPECT_TRUE(SysInfo::getCommandArgs(SysInfo::ExcludeProgramName).empty());
}

} // namespace
