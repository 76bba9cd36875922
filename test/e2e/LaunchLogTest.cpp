// What a failed launch leaves in the per-user launch log, and what it must
// never change: standard error, the exit status, files the log path points at.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "E2eSupport.h"
#include "TestSupport.h"

using e2e::Bundle;
using e2e::Launch;
using e2e::runLauncher;

namespace {

const char* const mainJarCfg = "[Application]\napp.mainjar=$APPDIR/main.jar\n";

class LaunchLog : public ::testing::Test {
protected:
    LaunchLog() : bundle(tmp.path(), "App"), home(tmp / "home") {
        kvtest::makeDirs(home);
        bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    }

    std::string logPath(const std::string& folder = "App") const {
        return home + "/Library/Logs/" + folder + "/App.log";
    }

    Launch run(const e2e::Env& env = {}) const {
        e2e::Env all = env;
        all.emplace("HOME", home);
        return runLauncher(bundle.launcher, {}, all);
    }

    /// A failure: status 1 and `message` as the one line on standard error.
    static void expectFailure(const Launch& launch, const std::string& message) {
        EXPECT_EQ(1, launch.process.exitCode);
        EXPECT_EQ(message + "\n", launch.process.err);
        EXPECT_TRUE(launch.calls.empty());
    }

    /// The record "<UTC time> <pid> <executable>: <message>" written just now.
    void expectRecord(const std::string& record, const std::string& message) const {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(record, m, std::regex("([0-9T:-]+Z) [0-9]+ (.*)\n")))
            << record;
        std::tm utc = {};
        ASSERT_NE(nullptr, ::strptime(m[1].str().c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc)) << record;
        EXPECT_LT(std::abs(std::difftime(::timegm(&utc), std::time(nullptr))), 300) << record;
        EXPECT_EQ(bundle.launcher + ": " + message, m[2].str());
    }

    kvtest::TempDir tmp;
    Bundle bundle;
    std::string home;
};

} // namespace

TEST_F(LaunchLog, FailureAppendsOneRecordInThePackageOrLauncherFolder) {
    const std::string noCfg =
        "Error opening \"" + bundle.cfgPath + "\" file: No such file or directory";
    const std::string noJvm = "Failed to find JVM in \"" + bundle.root + "/Contents/runtime\" directory.";
    const std::string badLib = "dlopen(" + bundle.defaultLibrary() + ") failed. Error: ";
    const struct {
        const char* package;
        const char* folder;
        const char* cfg;
        const char* library; // null: none, "": a file that is no library
        std::string message;
    } cases[] = {
        {nullptr, "App", nullptr, KVTEST_FAKEJLI_PATH, noCfg},
        {"Demo Package", "Demo Package", nullptr, KVTEST_FAKEJLI_PATH, noCfg},
        {nullptr, "App", mainJarCfg, nullptr, noJvm},
        {"Demo", "Demo", mainJarCfg, nullptr, noJvm},
        {"..", "App", mainJarCfg, "", badLib},
        {"Demo", "Demo", mainJarCfg, "", badLib},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + std::string(" / ") + c.message);
        ::unlink(bundle.cfgPath.c_str());
        ::unlink((bundle.appDir + "/.package").c_str());
        ::unlink(bundle.defaultLibrary().c_str());
        if (c.package) {
            kvtest::writeFile(bundle.appDir + "/.package", std::string(c.package) + "\n");
        }
        if (c.cfg) {
            bundle.writeCfg(c.cfg);
        }
        if (c.library && *c.library) {
            bundle.linkRuntimeLibrary(c.library);
        } else if (c.library) {
            kvtest::writeFile(bundle.defaultLibrary(), "not a library\n");
        }

        const Launch launch = run();

        EXPECT_EQ(1, launch.process.exitCode);
        EXPECT_EQ(c.message, launch.process.err.substr(0, c.message.size()));
        const std::string line = launch.process.err.substr(0, launch.process.err.size() - 1);
        expectRecord(kvtest::readFile(logPath(c.folder)), line);
        ::unlink(logPath(c.folder).c_str());
    }
    struct stat info;
    ASSERT_EQ(0, ::stat((home + "/Library/Logs/Demo").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777u);
}

TEST_F(LaunchLog, FileOverOneMebibyteMovesAsideBeforeTheNextRecord) {
    const std::string message = "Error opening \"" + bundle.cfgPath + "\" file: No such file or directory";
    const std::string old(1024 * 1024 + 1, 'x');
    kvtest::writeFile(logPath(), old);
    kvtest::writeFile(logPath() + ".1", "older");

    expectFailure(run(), message);
    EXPECT_EQ(old, kvtest::readFile(logPath() + ".1"));
    expectRecord(kvtest::readFile(logPath()), message);

    // Up to the limit the file only grows.
    const std::string full(1024 * 1024, 'x');
    kvtest::writeFile(logPath(), full);
    expectFailure(run(), message);
    EXPECT_EQ(full, kvtest::readFile(logPath()).substr(0, full.size()));
    EXPECT_EQ(old, kvtest::readFile(logPath() + ".1"));
}

TEST_F(LaunchLog, GoodLaunchWritesNothing) {
    bundle.writeCfg(mainJarCfg);
    const Launch launch = run();
    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    EXPECT_NE(0, ::access((home + "/Library").c_str(), F_OK));
}

TEST_F(LaunchLog, UnwritableLogChangesNothingAndFollowsNoLink) {
    const std::string message = "Error opening \"" + bundle.cfgPath + "\" file: No such file or directory";
    const std::string target = tmp / "target";
    const struct {
        const char* name;
        void (*plant)(const std::string& log, const std::string& target);
        e2e::Env env;
    } cases[] = {
        {"directory at the log path", [](const std::string& log, const std::string&) {
             kvtest::makeDirs(log);
         }, {}},
        {"file in place of the folder", [](const std::string& log, const std::string&) {
             kvtest::writeFile(log.substr(0, log.rfind('/')), "");
         }, {}},
        {"link at the log path", [](const std::string& log, const std::string& target) {
             kvtest::makeDirs(log.substr(0, log.rfind('/')));
             kvtest::makeSymlink(target, log);
             kvtest::makeSymlink(target, log + ".1");
         }, {}},
        {"no HOME", [](const std::string&, const std::string&) {}, {{"HOME", std::nullopt}}},
        {"relative HOME", [](const std::string&, const std::string&) {}, {{"HOME", "home"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::writeFile(target, "target");
        c.plant(logPath(), target);

        expectFailure(run(c.env), message);

        e2e::Env debug = c.env;
        debug["KOVALU_DEBUG"] = "true";
        const std::string err = run(debug).process.err;
        const std::string last = err.substr(err.rfind('\n', err.size() - 2) + 1);
        EXPECT_EQ(0u, last.find("[TRACE] MacLauncher.cpp:")) << err;
        EXPECT_NE(std::string::npos, last.find(": No launch log record written: ")) << err;
        EXPECT_EQ("target", kvtest::readFile(target));
        std::filesystem::remove_all(home + "/Library");
    }
}

TEST_F(LaunchLog, ReadOnlyFolderChangesNothing) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root from writing";
    }
    const std::string dir = home + "/Library/Logs/App";
    kvtest::makeDirs(dir);
    ASSERT_EQ(0, ::chmod(dir.c_str(), 0500));
    expectFailure(run(), "Error opening \"" + bundle.cfgPath + "\" file: No such file or directory");
    EXPECT_EQ("", kvtest::readFile(logPath()));
    ::chmod(dir.c_str(), 0700);
}

TEST(ShallowLauncher, FailsWithoutReadingTheWorkingDirectory) {
    std::optional<kvtest::TempDir> shallow;
    {
        const kvtest::EnvGuard tmpdir("TMPDIR", std::string("/tmp"));
        shallow.emplace();
    }
    if (std::count(shallow->path().begin(), shallow->path().end(), '/') != 2) {
        GTEST_SKIP() << "/tmp is not a directory below the root: " << shallow->path();
    }
    const kvtest::TempDir cwd;
    kvtest::writeFile(cwd / "Contents/app/app.cfg", mainJarCfg);
    kvtest::makeDirs(cwd / "Contents/runtime/Contents/Home/lib");
    kvtest::makeSymlink(KVTEST_FAKEJLI_PATH, cwd / "Contents/runtime/Contents/Home/lib/libjli.dylib");
    const std::string launcher = *shallow / "app";
    e2e::copyFile(KVTEST_LAUNCHER_PATH, launcher, 0755);

    const Launch launch = runLauncher(launcher, {}, {}, cwd.path());

    EXPECT_EQ(1, launch.process.exitCode);
    EXPECT_EQ("Executable \"" + launcher +
                  "\" must be inside an application bundle as <bundle>/Contents/MacOS/<launcher>\n",
              launch.process.err);
    EXPECT_TRUE(launch.calls.empty());
}
