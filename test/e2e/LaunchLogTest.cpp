// What a failed launch leaves in the per-user launch log, and what it must
// never change: standard error, the exit status, files the log path points at.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

using e2e::Launch;
using kvtest::regexQuote;

namespace {

const char* const mainJarCfg = "[Application]\napp.mainjar=$APPDIR/main.jar\n";

class LaunchLog : public ::testing::Test {
protected:
    LaunchLog() : bundle(tmp.path(), "App"), home(tmp / "home") { kvtest::makeDirs(home); }

    std::string log(const std::string& folder = "App") const {
        return home + "/Library/Logs/" + folder + "/App.log";
    }
    std::string noCfg() const {
        return "Error opening \"" + bundle.cfgPath + "\" file: No such file or directory";
    }
    Launch run(e2e::Env env = {}) const {
        env.emplace("HOME", home);
        return e2e::runLauncher(bundle.launcher, {}, env);
    }
    /// Starts the launcher as the Finder would; false when this machine cannot.
    bool runFromFinder(e2e::Env env = {}) const {
        env.emplace("HOME", home);
        env.emplace("KOVALU_DEBUG", std::nullopt);
        env.emplace("KVTEST_JLI_RECORD", tmp / "jli-record");
        std::string why;
        const bool started = e2e::runAsLaunchServices(bundle.launcher, env, why);
        if (!started) {
            ADD_FAILURE() << "cannot start as launch services would: " << why;
        }
        return started;
    }
    /// Status 1, no runtime started, `message` the one line on standard error.
    static void expectFailure(const Launch& launch, const std::string& message) {
        EXPECT_EQ(1, launch.process.exitCode);
        EXPECT_EQ(message + "\n", launch.process.err);
        EXPECT_TRUE(launch.calls.empty());
    }
    /// The file holds one record "<UTC time> <pid> <executable>: <message>".
    void expectRecord(const std::string& file, const std::string& message) const {
        std::smatch m;
        const std::string record = kvtest::readFile(file);
        ASSERT_TRUE(std::regex_match(record, m, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:"
                                                           "[0-9]{2}:[0-9]{2}Z [0-9]+ (.*)\n")))
            << record;
        EXPECT_EQ(bundle.launcher + ": " + message, m[1].str());
    }

    kvtest::TempDir tmp;
    e2e::Bundle bundle;
    std::string home;
};

} // namespace

TEST_F(LaunchLog, FailureAppendsOneRecordInThePackageOrLauncherFolder) {
    const std::string noJvm = "Failed to find JVM in \"" + bundle.root + "/Contents/runtime\" directory.";
    const struct {
        const char* package; // written to Contents/app/.package unless null
        const char* folder;
        bool cfg;
        const char* library; // "": a file that is no library
        std::string message; // the beginning of the line
    } cases[] = {
        {nullptr, "App", false, KVTEST_FAKEJLI_PATH, noCfg()},
        {"Demo Package", "Demo Package", false, KVTEST_FAKEJLI_PATH, noCfg()},
        {nullptr, "App", true, nullptr, noJvm},
        {"Demo", "Demo", true, nullptr, noJvm},
        {"..", "App", true, "", "dlopen(" + bundle.defaultLibrary() + ") failed. Error: "},
        {"Demo", "Demo", true, "", "dlopen(" + bundle.defaultLibrary() + ") failed. Error: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + (" / " + c.message));
        std::filesystem::remove_all(home + "/Library");
        ::unlink((bundle.appDir + "/.package").c_str());
        ::unlink(bundle.defaultLibrary().c_str());
        if (c.package) {
            kvtest::writeFile(bundle.appDir + "/.package", std::string(c.package) + "\n");
        }
        kvtest::writeFile(bundle.cfgPath, mainJarCfg);
        if (!c.cfg) {
            ::unlink(bundle.cfgPath.c_str());
        }
        if (c.library && *c.library) {
            bundle.linkRuntimeLibrary(c.library);
        } else if (c.library) {
            kvtest::writeFile(bundle.defaultLibrary(), "not a library\n");
        }

        const Launch launch = run();

        const std::string& err = launch.process.err;
        EXPECT_EQ(1, launch.process.exitCode);
        EXPECT_EQ(c.message, err.substr(0, c.message.size()));
        expectRecord(log(c.folder), err.substr(0, err.size() - 1));
        struct stat info;
        EXPECT_EQ(0, ::stat((home + "/Library/Logs").c_str(), &info));
        EXPECT_EQ(0700u, info.st_mode & 0777u);
    }
}

TEST_F(LaunchLog, FileOverOneMebibyteMovesAsideAndGoodLaunchWritesNothing) {
    const std::string full(1024 * 1024, 'x');
    kvtest::writeFile(log(), full);
    kvtest::writeFile(log() + ".1", "older");
    expectFailure(run(), noCfg());
    const std::string grown = kvtest::readFile(log());
    EXPECT_EQ(full, grown.substr(0, full.size()));
    EXPECT_EQ("older", kvtest::readFile(log() + ".1"));

    expectFailure(run(), noCfg());
    EXPECT_EQ(grown, kvtest::readFile(log() + ".1"));
    expectRecord(log(), noCfg());

    bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    bundle.writeCfg(mainJarCfg);
    const std::string before = kvtest::readFile(log());
    EXPECT_EQ(0, run().process.exitCode);
    EXPECT_EQ(before, kvtest::readFile(log()));
}

TEST_F(LaunchLog, RotationLosesNoRecord) {
    const std::string full(1024 * 1024 + 1, 'x');
    // A directory in the way of the move: the record goes to the long file.
    kvtest::writeFile(log(), full);
    kvtest::makeDirs(log() + ".1/inside");
    expectFailure(run(), noCfg());
    EXPECT_EQ(full, kvtest::readFile(log()).substr(0, full.size()));
    EXPECT_EQ(1u, e2e::lines(kvtest::readFile(log()).substr(full.size())).size());

    // Launches that all find the file due for rotation at once; a few rounds,
    // since they need not meet in the window between the look and the move.
    std::filesystem::remove_all(log() + ".1");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        kvtest::writeFile(log(), full);
        std::vector<std::thread> launches;
        for (int i = 0; i < 12; ++i) {
            launches.emplace_back([this] { run(); });
        }
        for (std::thread& launch : launches) {
            launch.join();
        }
        const std::string all = kvtest::readFile(log() + ".1") + kvtest::readFile(log());
        EXPECT_EQ(full, all.substr(0, full.size()));
        EXPECT_EQ(12u, e2e::lines(all.substr(full.size())).size());
        // A run of the filler, not one letter: records quote the executable's
        // path, and a temporary directory's random name may hold an 'x'.
        EXPECT_EQ(std::string::npos, kvtest::readFile(log()).find(std::string(64, 'x')));
    }
}

TEST_F(LaunchLog, FinderLaunchKeepsItsOutputBesideTheLog) {
    const std::string output = home + "/Library/Logs/App/App-output.log";
    const std::string tailHeading = regexQuote("\\n\\nThe last lines of standard error:\\n");
    const struct {
        const char* name;
        bool cfg;
        e2e::Env env;
        std::string output; // a regular expression for all of the kept output
        std::string record; // one for the message of the log record; none: no record
    } cases[] = {
        {"failure of the launcher", false, {}, regexQuote(noCfg()) + "\n", regexQuote(noCfg())},
        // The failure's own line is left out of the record: it is there already.
        {"debug output", false, {{"KOVALU_DEBUG", "true"}},
         "(\\[TRACE\\] [^\n]*\n)+\\[ERROR\\] [^\n]*\n" + regexQuote(noCfg()) +
             "\n\\[TRACE\\] [^\n]*\n",
         regexQuote(noCfg()) + tailHeading +
             "(\\[TRACE\\] [^\\\\]*\\\\n)+\\[ERROR\\] [^\\\\]*\\\\n\\[TRACE\\] [^\\\\]*"},
        {"good launch", true, {}, "", ""},
    };
    // From a terminal the streams are left alone and nothing is kept.
    expectFailure(run(), noCfg());
    EXPECT_FALSE(std::filesystem::exists(output));
    bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(home + "/Library");
        ::unlink(bundle.cfgPath.c_str());
        if (c.cfg) {
            bundle.writeCfg(mainJarCfg);
        }
        if (!runFromFinder(c.env) || !runFromFinder(c.env)) {
            return;
        }

        const std::string kept = kvtest::readFile(output);
        EXPECT_TRUE(std::regex_match(kept, std::regex(c.output))) << kept;
        EXPECT_EQ(kept, kvtest::readFile(output + ".1"));
        EXPECT_TRUE(std::filesystem::is_regular_file(output + ".1"));
        struct stat info;
        ASSERT_EQ(0, ::stat(output.c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777u);
        const std::vector<std::string> records = e2e::lines(kvtest::readFile(log()));
        EXPECT_EQ(c.record.empty() ? 0u : 2u, records.size());
        for (const std::string& record : records) {
            EXPECT_TRUE(std::regex_search(
                record, std::regex(regexQuote(bundle.launcher + ": ") + c.record + "$")))
                << record;
        }
    }
}

TEST_F(LaunchLog, UnwritableLogChangesNothingAndFollowsNoLink) {
    const std::string target = tmp / "target";
    const std::string folder = home + "/Library/Logs/App";
    const struct {
        const char* name;
        std::string dir, file, link; // made at the log's place
        e2e::Env env;
        std::string foreign = ""; // given to another user; root only
        std::string why = "";     // the end of the debug line
        std::string dirLink = ""; // a link to a directory elsewhere
    } cases[] = {
        {"directory at the log path", log(), "", "", {}},
        {"file in place of the folder", "", folder, "", {}},
        {"links at the log paths", folder, "", log(), {}},
        {"no HOME", "", "", "", {{"HOME", std::nullopt}}},
        {"relative HOME", "", "", "", {{"HOME", "home"}}},
        {"folder of another user", folder, "", "", {}, folder,
         "\"" + folder + "\" belongs to another user"},
        {"HOME of another user", "", "", "", {}, home, "\"" + home + "\" belongs to another user"},
        {"link of another user", "", "", "", {}, home + "/Library",
         "\"" + home + "/Library\" is a link of another user", home + "/Library"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(home + "/Library");
        ASSERT_EQ(0, ::lchown(home.c_str(), ::geteuid(), ::getegid()));
        if (!c.foreign.empty() && ::geteuid() != 0) {
            continue;
        }
        if (!c.dirLink.empty()) {
            kvtest::makeDirs(tmp / "elsewhere");
            kvtest::makeSymlink(tmp / "elsewhere", c.dirLink);
        }
        kvtest::writeFile(target, "target");
        if (!c.dir.empty()) {
            kvtest::makeDirs(c.dir);
        }
        if (!c.file.empty()) {
            kvtest::writeFile(c.file, "");
        }
        if (!c.link.empty()) {
            kvtest::makeSymlink(target, c.link);
            kvtest::makeSymlink(target, c.link + ".1");
        }
        if (!c.foreign.empty()) {
            ASSERT_EQ(0, ::lchown(c.foreign.c_str(), 65534, 65534));
        }

        expectFailure(run(c.env), noCfg());
        e2e::Env debug = c.env;
        debug["KOVALU_DEBUG"] = "true";
        const std::string err = run(debug).process.err;
        EXPECT_TRUE(std::regex_search(err, std::regex("\n\\[TRACE\\] MacLauncher\\.cpp:[0-9]+: No "
                                                      "launch log record written: [^\n]+\n$")))
            << err;
        EXPECT_EQ(c.why, c.why.empty() ? "" : err.substr(err.size() - c.why.size() - 1, c.why.size()));
        EXPECT_EQ("target", kvtest::readFile(target));
        EXPECT_FALSE(std::filesystem::exists(tmp / "elsewhere/App"));
    }
    ASSERT_EQ(0, ::lchown(home.c_str(), ::geteuid(), ::getegid()));
}

TEST_F(LaunchLog, ReadOnlyFolderChangesNothing) {
    const std::string dir = home + "/Library/Logs/App";
    kvtest::makeDirs(dir);
    ASSERT_EQ(0, ::chmod(dir.c_str(), 0500));
    if (::geteuid() != 0) {
        expectFailure(run(), noCfg());
    } else {
        // Permission bits do not stop root: the launcher runs as nobody, for
        // whom the folder, owned by root, is just as read-only.
        ASSERT_EQ(0, ::chmod(tmp.path().c_str(), 0755));
        const kvtest::ProcessResult p = kvtest::runProcess(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
             bundle.launcher},
            {{"HOME", home}, {"KOVALU_DEBUG", std::nullopt}});
        EXPECT_EQ(1, p.exitCode);
        EXPECT_EQ(noCfg() + "\n", p.err);
    }
    EXPECT_FALSE(std::filesystem::exists(log()));
    ::chmod(dir.c_str(), 0700);
}

TEST(ShallowLauncher, FailsWithoutReadingTheWorkingDirectory) {
    std::optional<kvtest::TempDir> shallow;
    {
        const kvtest::EnvGuard tmpdir("TMPDIR", std::string("/tmp"));
        shallow.emplace();
    }
    if (std::count(shallow->path().begin(), shallow->path().end(), '/') != 2) {
        GTEST_SKIP() << "/tmp is not a directory right below the root: " << shallow->path();
    }
    const kvtest::TempDir cwd;
    kvtest::writeFile(cwd / "Contents/app/app.cfg", mainJarCfg);
    kvtest::makeDirs(cwd / "Contents/runtime/Contents/Home/lib");
    kvtest::makeSymlink(KVTEST_FAKEJLI_PATH, cwd / "Contents/runtime/Contents/Home/lib/libjli.dylib");
    const std::string launcher = *shallow / "app";
    e2e::copyFile(KVTEST_LAUNCHER_PATH, launcher, 0755);

    const Launch launch = e2e::runLauncher(launcher, {}, {}, cwd.path());

    EXPECT_EQ(1, launch.process.exitCode);
    EXPECT_EQ("Executable \"" + launcher +
                  "\" must be inside an application bundle as <bundle>/Contents/MacOS/<launcher>\n",
              launch.process.err);
    EXPECT_TRUE(launch.calls.empty());
}
