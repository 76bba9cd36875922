#include "SysInfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "TestSupport.h"

namespace {

std::vector<char> cpath(const std::string& path) {
    std::vector<char> v(path.begin(), path.end());
    v.push_back('\0');
    return v;
}

std::string realPathError(const std::string& path) {
    return kvtest::thrownBy([&] { SysInfo::getRealPath(cpath(path)); }).raw;
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

TEST_F(MacSysInfoModulePath, EveryWayOfStartingGivesTheExecutable) {
    const std::pair<std::string, std::string> links[] = {  // link below tmp, its target
        {"demo", exe},
        {"bin/demo", "../Demo.app/Contents/MacOS/Demo"},
        {"a/first", "../b/second"},
        {"b/second", tmp / "c/third"},
        {"c/third", "../Demo.app/Contents/MacOS/Demo"},
    };
    for (const auto& [link, target] : links) {
        kvtest::makeDirs(tmp / link.substr(0, link.rfind('/') + 1));
        kvtest::makeSymlink(target, tmp / link);
    }
    kvtest::makeDirs(tmp / "elsewhere/deeper");
    const std::pair<std::string, std::string> starts[] = {  // start path, working directory
        {exe, ""},
        {"MacOS/Demo", tmp / "Demo.app/Contents"},
        {tmp / "demo", ""},                           // absolute link
        {tmp / "bin/demo", tmp / "elsewhere/deeper"}, // relative target, joined to the link's dir
        {"../../bin/demo", tmp / "elsewhere/deeper"},
        {tmp / "a/first", ""},                        // chain of links
        {"../MacOS/Demo", tmp / "Demo.app/Contents/app"},     // "." and ".." settled
        {"./.././MacOS/Demo", tmp / "Demo.app/Contents/app"},
    };
    for (const auto& [start, cwd] : starts) {
        EXPECT_EQ(exe, reported(start, cwd)) << start << " started in " << cwd;
    }
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

TEST(MacSysInfoRealPath, LinkLoopMissingPathAndDanglingLinkAreErrorsWithTheSystemText) {
    kvtest::TempDir tmp;
    kvtest::makeSymlink(tmp / "two", tmp / "one");
    kvtest::makeSymlink("one", tmp / "two");
    kvtest::makeSymlink(tmp / "gone", tmp / "dangling");
    const std::tuple<const char*, const char*, int> cases[] = {
        {"one", "realpath", ELOOP}, {"gone", "lstat", ENOENT}, {"dangling", "realpath", ENOENT}};
    for (const auto& [name, call, error] : cases) {
        EXPECT_EQ(std::string(call) + "(" + (tmp / name) + ") failed. Error: " +
                      std::strerror(error),
                  realPathError(tmp / name));
    }
}

TEST(MacSysInfoRealPath, ErrorCarriesItsThrowSite) {
    const std::string what =
        kvtest::thrownBy([] { SysInfo::getRealPath(cpath("/nonexistent/kovalu/path")); }).what;
    EXPECT_NE(std::string::npos, what.find("MacSysInfo.cpp("));
    EXPECT_NE(std::string::npos, what.find(") at getRealPath(): lstat("));
}

using Args = std::vector<std::string>;

TEST(MacSysInfoCommandArgs, ProcessSerialNumbersAreDroppedByExactCasePrefix) {
    const SysInfo::CommandArgProgramNameMode exclude = SysInfo::ExcludeProgramName;
    const SysInfo::CommandArgProgramNameMode include = SysInfo::IncludeProgramName;
    const std::tuple<const char*, Args, SysInfo::CommandArgProgramNameMode, Args> cases[] = {
        {"serial number dropped", {"/x/Demo", "-psn_0_123456", "word"}, exclude, {"word"}},
        {"program name kept on request", {"/x/Demo", "-psn_0_123456", "word"}, include,
         {"/x/Demo", "word"}},
        {"only the exact-case prefix",
         {"Demo", "-PSN_1", "-psn_", "-psn", "x-psn_1", "-psn_2", "last"},
         exclude, {"-PSN_1", "-psn", "x-psn_1", "last"}},
        {"program name filtered like any argument", {"-psn_name", "a"}, include, {"a"}},
        {"nothing beyond the program name", {"Demo"}, exclude, {}},
        {"no arguments at all", {}, include, {}},
        {"no arguments at all, excluding", {}, exclude, {}},
    };
    for (const auto& [name, argv, mode, expected] : cases) {
        const kvtest::CommandLineGuard commandLine(argv);
        EXPECT_EQ(expected, SysInfo::getCommandArgs(mode)) << name;
    }
    // Passed straight on: an out-of-range value held in an enum object is itself undefined.
    const kvtest::CommandLineGuard commandLine({"Demo", "a"});
    EXPECT_EQ(Args({"Demo", "a"}),
              SysInfo::getCommandArgs(static_cast<SysInfo::CommandArgProgramNameMode>(7)));
}

} // namespace
