// Bundles made with --train on runtime 25: the first launch maps the cache
// shipped in the bundle, also after a move or a zip round trip; a refused one
// falls back to the per-user cache; what cannot be trained ships nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CacheFiles.h"
#include "E2eSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

const int timeoutSeconds = 280;
const char* const temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

// "fail" exits 4, "hang" never ends, "mark FILE" prints whether FILE was
// there and creates it; then it prints its arguments.
const char* const appSource = R"(package train;
import java.nio.file.*;
public final class App {
    public static void main(String[] a) throws Exception {
        String mode = a.length > 0 ? a[0] : "";
        if (mode.equals("fail")) { System.err.println("broken on purpose"); System.exit(4); }
        if (mode.equals("hang")) { Thread.sleep(3_600_000); }
        if (mode.equals("mark")) {
            Path p = Path.of(a[1]);
            System.out.println(Files.exists(p) ? "again" : "first");
            Files.write(p, new byte[0]);
        }
        System.out.println("app " + String.join(" ", a));
    }
}
)";

class TrainBundle : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access((std::string(temurin25) + "/bin/javac").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "no runtime 25 at " << temurin25;
        }
        kvtest::writeFile(work / "src/train/App.java", appSource);
        run({std::string(temurin25) + "/bin/javac", "-d", work / "classes",
             work / "src/train/App.java"});
        kvtest::makeDirs(work / "in");
        run({std::string(temurin25) + "/bin/jar", "--create", "--file", work / "in/app.jar", "-C",
             work / "classes", "."});
        kvtest::makeDirs(work / "out");
    }

    void run(const Args& argv) {
        const kvtest::ProcessResult r = kvtest::runProcess(argv, {}, "", timeoutSeconds);
        ASSERT_EQ(0, r.exitCode) << argv[0] << ":\n" << r.out << r.err;
    }

    /// The tool for "<work>/out/Train.app" with `options` after the usual ones.
    kvtest::ProcessResult bundle(const Args& options, const std::string& runtime = temurin25,
                                 const e2e::Env& extra = {}) {
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher", KVTEST_LAUNCHER_PATH, "--name", "Train",
                  "--runtime", runtime, "--output", work / "out", "--input", work / "in/app.jar",
                  "--class-path", "app.jar", "--main-class", "train.App", "--java-option",
                  "-Xlog:class+load:file=" + work / "load.log"};
        argv.insert(argv.end(), options.begin(), options.end());
        e2e::Env env = e2e::jvmEnvironment();
        env.insert(extra.begin(), extra.end());
        return kvtest::runProcess(argv, env, "", timeoutSeconds);
    }

    /// Launches the bundle at `app` with "x" for `home`: expects the
    /// application's output and status; returns where its class came from.
    /// A recording launch on 25 may note the recording on standard error,
    /// and the create step it starts writes the class-load log too.
    std::string launch(const std::string& app, const std::string& home, bool recording = false) {
        std::remove((work / "load.log").c_str());
        e2e::Env env = e2e::jvmEnvironment();
        env["HOME"] = home;
        const kvtest::ProcessResult r = kvtest::runProcess(
            {app + "/Contents/MacOS/Train", "x"}, env, "", timeoutSeconds);
        EXPECT_EQ(0, r.exitCode) << app << "\n" << r.err;
        EXPECT_EQ("app x\n", r.out) << app;
        if (!recording) {
            EXPECT_EQ("", r.err) << app;
        }
        const std::string log = kvtest::readFile(work / "load.log");
        const std::size_t at = log.find("train.App source: ");
        return at == std::string::npos ? log : log.substr(at + 18, log.find('\n', at) - at - 18);
    }

    std::string freshHome(const std::string& name) {
        kvtest::makeDirs(work / name);
        return work / name;
    }

    kvtest::TempDir work;
};

} // namespace

TEST_F(TrainBundle, FirstLaunchMapsTheShippedCacheWhereverTheBundleGoes) {
    const kvtest::ProcessResult made = bundle({"--train", "--train-argument", "t", "--zip"});
    ASSERT_EQ(0, made.exitCode) << made.err;
    const std::string shipped = work / "out/Train.app/Contents/app/Train.aot";
    const std::string said = "Training the start-up cache ... Contents/app/Train.aot, " +
                             std::to_string(fs::file_size(shipped)) + " bytes, after ";
    EXPECT_EQ(said, made.err.substr(0, said.size()));
    EXPECT_NE(std::string::npos, kvtest::readFile(work / "out/Train.app/Contents/app/Train.cfg")
                                     .find("app.cds=auto\n"));

    run({"/bin/mv", work / "out/Train.app", work / "moved.app"});
    kvtest::makeDirs(work / "unzipped");
    run({"/usr/bin/unzip", "-q", work / "out/Train-1.0.zip", "-d", work / "unzipped"});
    // The runtime checks no jar's times: a copy that loses them maps too.
    run({"/bin/cp", "-r", work / "moved.app", work / "copied.app"});
    const struct {
        const char* what;
        std::string app;
    } cases[] = {
        {"moved", work / "moved.app"},
        {"zip round trip", work / "unzipped/Train.app"},
        {"cp -r", work / "copied.app"},
    };
    for (const auto& c : cases) {
        const std::string home = freshHome(std::string("home-") + c.what);
        EXPECT_EQ("shared objects file", launch(c.app, home)) << c.what;
        EXPECT_EQ("shared objects file", launch(c.app, home)) << c.what << ", second launch";
        EXPECT_EQ(kvtest::readFile(work / "moved.app/Contents/app/Train.aot"),
                  kvtest::readFile(c.app + "/Contents/app/Train.aot"))
            << c.what << ": nothing is written into the bundle";
    }
}

// A shipped cache the runtime refuses (here: the bundle's options changed
// after training) is set aside for that state, and the per-user cache takes
// over; the bundle stays as it was.
TEST_F(TrainBundle, RefusedShippedCacheFallsBackToThePerUserCache) {
    const kvtest::ProcessResult made = bundle({"--train"});
    ASSERT_EQ(0, made.exitCode) << made.err;
    const std::string app = work / "out/Train.app";
    const std::string cfg = app + "/Contents/app/Train.cfg";
    std::string text = kvtest::readFile(cfg);
    text.replace(text.find("[JavaOptions]\n"), 14,
                 "[JavaOptions]\njava-options=-XX:-UseCompressedOops\n");
    kvtest::writeFile(cfg, text);
    const Args before = CacheFiles::listDir(app + "/Contents/app");

    const std::string home = freshHome("home");
    const std::string cache = home + "/Library/Caches/Train";
    EXPECT_EQ("file:" + app + "/Contents/app/app.jar", launch(app, home)) << "refused";
    launch(app, home, true);
    std::string archive;
    for (int i = 0; i < timeoutSeconds * 10 && archive.empty(); ++i) {
        for (const std::string& name : CacheFiles::listDir(cache)) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".aot") == 0) {
                archive = name;
            }
        }
        ::usleep(100 * 1000);
    }
    EXPECT_FALSE(archive.empty()) << "no per-user cache was created";
    EXPECT_EQ("shared objects file", launch(app, home)) << "per-user cache";
    bool refused = false;
    for (const std::string& name : CacheFiles::listDir(cache)) {
        refused |= name.find(".shipped") != std::string::npos &&
                   kvtest::readFile(cache + "/" + name).rfind("refused ", 0) == 0;
    }
    EXPECT_TRUE(refused);
    EXPECT_EQ(before, CacheFiles::listDir(app + "/Contents/app"));

    // The tool's create step without a recording ends; the application never runs.
    kvtest::makeDirs(work / "train");
    e2e::Env env = e2e::jvmEnvironment();
    env["HOME"] = home;
    env["KOVALU_AOT_TRAIN"] = "create:" + work / "train";
    const kvtest::ProcessResult r =
        kvtest::runProcess({app + "/Contents/MacOS/Train", "x"}, env, "", timeoutSeconds);
    EXPECT_NE(0, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, kvtest::readFile(work / "train/Train.off").find("no recording"));
}

// Each refusal is one line and leaves nothing; a cache that changes what the
// application prints is not shipped, with one warning.
TEST_F(TrainBundle, WhatCannotBeTrainedShipsNothing) {
    const std::string jdk = e2e::findJdkHome();
    const std::string marker = work / "marker";
    const struct {
        const char* what;
        Args options;
        std::string runtime;
        std::string message; // the beginning of the line after "kovalu-bundle: "
        bool built;
    } cases[] = {
        {"runtime 17", {"--train"}, jdk,
         "--train needs a runtime of Java 25 or later, not Java 17", false},
        {"failing run", {"--train", "--train-argument", "fail"}, temurin25,
         "the training run failed with exit status 4: broken on purpose", false},
        {"run past its time",
         {"--train", "--train-argument", "hang", "--train-timeout", "2"}, temurin25,
         "the training run did not end within 2 seconds: give --train-argument", false},
        {"no cache written",
         {"--train", "--java-option", "-XX:SharedArchiveFile=" + work / "x.jsa"}, temurin25,
         "the training run wrote no start-up cache: option \"-XX:SharedArchiveFile=", false},
        {"differs with the cache",
         {"--train", "--train-argument", "mark", "--train-argument", marker}, temurin25,
         "warning: the trained start-up cache is not shipped: the launch with it printed other "
         "standard output from line 1",
         true},
    };
    for (const auto& c : cases) {
        if (c.runtime.empty()) {
            continue;
        }
        fs::remove_all(work / "out");
        kvtest::makeDirs(work / "out");
        Args options = c.options;
        options.push_back("--quiet");
        const kvtest::ProcessResult r = bundle(options, c.runtime);
        EXPECT_EQ(c.built ? 0 : 1, r.exitCode) << c.what << "\n" << r.err;
        EXPECT_EQ(1u, e2e::lines(r.err).size()) << c.what << "\n" << r.err;
        EXPECT_EQ("kovalu-bundle: " + c.message,
                  r.err.substr(0, std::string("kovalu-bundle: ").size() + c.message.size()))
            << c.what;
        const Args left = CacheFiles::listDir(work / "out");
        EXPECT_EQ(c.built ? Args{"Train.app"} : Args{}, left) << c.what;
        EXPECT_FALSE(fs::exists(work / "out/Train.app/Contents/app/Train.aot")) << c.what;
    }
}

// Signed, the cache is trained before anything but the jars is signed, so
// that the bundle's seal covers it.
TEST_F(TrainBundle, TrainedBeforeTheBundleIsSigned) {
    // Notes for each path it signs whether a trained cache is there yet.
    kvtest::writeFile(work / "bin/codesign",
                      "#!/bin/sh\n"
                      "for a; do last=$a; done\n"
                      "if find \"$OUT\" -name Train.aot | grep -q .; then\n"
                      "  echo \"${last##*/} trained\"\n"
                      "else echo \"${last##*/} untrained\"; fi >>\"$OUT.log\"\n");
    ::chmod((work / "bin/codesign").c_str(), 0755);
    const kvtest::ProcessResult made =
        bundle({"--train", "--sign", "-"}, temurin25,
               {{"PATH", work / "bin:" + std::string(::getenv("PATH"))}, {"OUT", work / "out"}});
    ASSERT_EQ(0, made.exitCode) << made.err;
    EXPECT_EQ("Train trained\nTrain.app trained\n", kvtest::readFile(work / "out.log"));
    EXPECT_TRUE(fs::is_regular_file(work / "out/Train.app/Contents/app/Train.aot"));
}
