// The bundle tool's signing, icon and refusals, with a recording stand-in for
// codesign first on the PATH and Info.plist read back by a real plist parser.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

using Args = std::vector<std::string>;

namespace {

// Records each call as one line of tab-separated arguments and keeps a copy of
// the entitlements it was given; fails on a path matching KVTEST_CODESIGN_FAIL.
const char *const kCodesign = R"(#!/bin/sh
for a in "$@"; do printf '%s\t' "$a"; last=$a; done >>"$KVTEST_CODESIGN_RECORD"
printf '\n' >>"$KVTEST_CODESIGN_RECORD"
while [ $# -gt 1 ]; do [ "$1" != --entitlements ] || cp "$2" "$KVTEST_CODESIGN_RECORD.ent"; shift; done
case $last in ${KVTEST_CODESIGN_FAIL:-/}) exit 3 ;; esac
)";

// Reads a property list and prints what the tests compare.
const char *const kReadPlist = R"(import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    d = plistlib.load(f)
print(sorted((k, v) for k, v in d.items() if k in sys.argv[2:] or v is True))
)";

class SignBundle : public ::testing::Test {
protected:
    SignBundle() {
        kvtest::writeFile(tmp / "bin/codesign", kCodesign);
        ::chmod((tmp / "bin/codesign").c_str(), 0755);
        // Headers are enough for the stand-in: thin 64 and 32 bit, universal
        // with two architectures; then what shares the magic but is not Mach-O.
        kvtest::writeFile(tmp / "jdk/lib/libjli.dylib",
                          std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8));
        kvtest::writeFile(tmp / "jdk/bin/java", "\xce\xfa\xed\xfe");
        kvtest::writeFile(tmp / "jdk/lib/server/libjvm.dylib",
                          std::string("\xca\xfe\xba\xbe\0\0\0\x02", 8));
        kvtest::writeFile(tmp / "jdk/lib/A.class", std::string("\xca\xfe\xba\xbe\0\0\0\x3d", 8));
        kvtest::writeFile(tmp / "jdk/lib/Old.class", std::string("\xca\xfe\xba\xbe\0\0\0\x2d", 8));
        kvtest::writeFile(tmp / "jdk/release", "JAVA_VERSION=\"17\"\n");
        kvtest::makeSymlink("server/libjvm.dylib", tmp / "jdk/lib/link.dylib");
        kvtest::writeFile(tmp / "in/a&b.icns", "icns bytes");
        kvtest::writeFile(tmp / "in/classes/a/B.class", "class bytes");
        kvtest::makeDirs(tmp / "out");
    }

    kvtest::ProcessResult tool(const Args &more, const char *failOn = nullptr) {
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher",   KVTEST_LAUNCHER_PATH, "--runtime",
                  tmp / "jdk",        "--output",     tmp / "out",          "--input",
                  tmp / "in/classes", "--class-path", "classes",            "--main-class",
                  "a.B"};
        argv.insert(argv.end(), more.begin(), more.end());
        return kvtest::runProcess(
            argv,
            {{"PATH", tmp.path() + "/bin:" + ::getenv("PATH")},
             {"KVTEST_CODESIGN_RECORD", tmp / "record"},
             {"KVTEST_CODESIGN_FAIL", failOn ? std::optional<std::string>(failOn) : std::nullopt}});
    }

    /// The recorded calls, each one's arguments with the bundle's path
    /// (under whatever hidden name it was signed) shortened to "APP".
    std::vector<Args> calls() const {
        std::vector<Args> result;
        for (const std::string &line : e2e::lines(kvtest::readFile(tmp / "record"))) {
            Args args;
            for (std::size_t at = 0, tab; (tab = line.find('\t', at)) != std::string::npos;
                 at = tab + 1) {
                args.push_back(line.substr(at, tab - at));
            }
            const std::size_t app = args.back().rfind("/Demo.app");
            args.back() =
                app == std::string::npos ? args.back() : "APP" + args.back().substr(app + 9);
            result.push_back(args);
        }
        return result;
    }

    std::string listing() const { return kvtest::runProcess({"/bin/ls", "-A", tmp / "out"}).out; }

    std::string plist(const std::string &path, const Args &keys) const {
        Args argv{"/usr/bin/env", "python3", "-c", kReadPlist, path};
        argv.insert(argv.end(), keys.begin(), keys.end());
        return kvtest::runProcess(argv).out;
    }

    kvtest::TempDir tmp;
};

} // namespace

TEST_F(SignBundle, SignsRuntimeMachOFilesThenTheLauncherThenTheBundle) {
    const std::string mine = tmp / "mine.plist";
    kvtest::writeFile(mine, "<plist/>");
    // The user's entitlements first: no default may be written beside the bundle.
    for (const auto &[identity, entitlements] : std::vector<std::pair<std::string, std::string>>{
             {"-", mine}, {"Developer ID Application: Kovalu (T1)", ""}, {"-", ""}}) {
        SCOPED_TRACE(identity + " " + entitlements);
        ::unlink((tmp / "record").c_str());
        Args options{"--name", "Demo", "--sign", identity, "--force"};
        if (!entitlements.empty()) {
            options.insert(options.end(), {"--entitlements", entitlements});
        }
        const kvtest::ProcessResult r = tool(options);
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(entitlements.empty() ? "Demo.app\nDemo.entitlements\n" : "Demo.app\n", listing());

        Args flags{"--force", "--sign", identity, "--timestamp", "--options", "runtime"};
        if (identity == "-") {
            flags.erase(flags.begin() + 3);
        }
        const std::vector<Args> c = calls();
        ASSERT_EQ(5u, c.size());
        std::set<std::string> runtimeFiles;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(flags, Args(c[i].begin(), c[i].end() - 1));
            runtimeFiles.insert(c[i].back());
        }
        const std::string home = "APP/Contents/runtime/Contents/Home/";
        EXPECT_EQ((std::set<std::string>{home + "bin/java", home + "lib/libjli.dylib",
                                         home + "lib/server/libjvm.dylib"}),
                  runtimeFiles);
        flags.push_back("--entitlements");
        EXPECT_EQ(flags, Args(c[3].begin(), c[3].end() - 2));
        EXPECT_EQ("APP/Contents/MacOS/Demo", c[3].back());
        EXPECT_EQ(Args(c[3].begin(), c[3].end() - 1), Args(c[4].begin(), c[4].end() - 1));
        EXPECT_EQ("APP", c[4].back());
        // What was signed with is the user's file, or the default kept beside the bundle.
        const std::string used = entitlements.empty() ? tmp / "out/Demo.entitlements" : mine;
        EXPECT_EQ(kvtest::readFile(used), kvtest::readFile(tmp / "record.ent"));
    }
    EXPECT_EQ("[('com.apple.security.cs.allow-dyld-environment-variables', True), "
              "('com.apple.security.cs.allow-jit', True), "
              "('com.apple.security.cs.allow-unsigned-executable-memory', True), "
              "('com.apple.security.cs.disable-library-validation', True)]\n",
              plist(tmp / "out/Demo.entitlements", {}));
}

TEST_F(SignBundle, FailingCodesignLeavesNothingBehind) {
    for (const char *failOn : {"*/java", "*/MacOS/Demo", "*/Demo.app"}) {
        SCOPED_TRACE(failOn);
        const kvtest::ProcessResult r = tool({"--name", "Demo", "--sign", "-"}, failOn);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(0u, r.err.find("kovalu-bundle: codesign failed on " + tmp / "out/Demo.app"))
            << r.err;
        EXPECT_EQ("", listing());
    }
}

TEST_F(SignBundle, InfoPlistParsesAndNamesTheIcon) {
    const kvtest::ProcessResult r =
        tool({"--name", "R&D <T>.app", "--icon", tmp / "in/a&b.icns", "--version", "2.0"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string contents = tmp / "out/R&D <T>.app/Contents";
    EXPECT_EQ("icns bytes", kvtest::readFile(contents + "/Resources/a&b.icns"));
    EXPECT_EQ(
        "[('CFBundleExecutable', 'R&D <T>'), ('CFBundleIconFile', 'a&b.icns'), "
        "('CFBundleName', 'R&D <T>'), ('CFBundleVersion', '2.0'), "
        "('LSMinimumSystemVersion', '11.0'), ('NSHighResolutionCapable', True)]\n",
        plist(contents + "/Info.plist", {"CFBundleExecutable", "CFBundleIconFile", "CFBundleName",
                                         "CFBundleVersion", "LSMinimumSystemVersion"}));
}

TEST_F(SignBundle, RefusesWhatItCannotWriteWithOneLineAndNoOutput) {
    kvtest::writeFile(tmp / "out/Demo.entitlements", "mine");
    const std::string ctl = "must not contain control characters";
    const std::vector<std::pair<Args, std::string>> cases{
        {{"--name", "a\x01"
                    "b"},
         "--name " + ctl},
        {{"--name", "a\rb"}, "--name " + ctl},
        {{"--version", "1\x02"}, "--version " + ctl},
        {{"--java-option", "-Da=\x1f"}, "--java-option " + ctl},
        {{"--argument", "a\tb"}, "--argument " + ctl},
        {{"--package", "p\x7f"}, "--package " + ctl},
        {{"--class-path", "a\x1b"}, "--class-path " + ctl},
        {{"--icon", tmp / "in/a\x03.icns"}, "--icon " + ctl},
        {{"--package", "a/b"}, "--package must be a plain name: a/b"},
        {{"--package", ".."}, "--package must be a plain name: .."},
        {{"--name", ".app"}, "--name must be a plain file name: .app"},
        {{"--launcher", tmp / "in"}, "launcher is not a regular file: " + tmp / "in"},
        {{"--icon", tmp / "record"}, "icon not found: " + tmp / "record"},
        {{"--icon", tmp / "jdk/release"}, "--icon needs an .icns file: " + tmp / "jdk/release"},
        {{"--entitlements", tmp / "in/a&b.icns"}, "--entitlements needs --sign"},
        {{"--sign", "-", "--entitlements", tmp / "none"},
         "entitlements file not found: " + tmp / "none"},
        {{"--sign", "-"}, tmp / "out/Demo.entitlements already exists (use --force to replace it)"},
    };
    for (const auto &[more, message] : cases) {
        SCOPED_TRACE(message);
        Args options{"--name", "Demo"};
        options.insert(options.end(), more.begin(), more.end());
        const kvtest::ProcessResult r = tool(options);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("kovalu-bundle: " + message + "\n", r.err);
        EXPECT_EQ("Demo.entitlements\n", listing());
    }
}

TEST_F(SignBundle, MissingCodesignFailsBeforeWritingAnything) {
    if (::access("/usr/bin/codesign", X_OK) == 0) {
        GTEST_SKIP() << "codesign is installed";
    }
    Args argv{KVTEST_MAKE_BUNDLE,
              "--launcher",
              KVTEST_LAUNCHER_PATH,
              "--name",
              "Demo",
              "--runtime",
              tmp / "jdk",
              "--output",
              tmp / "out",
              "--main-class",
              "a.B",
              "--sign",
              "-"};
    const kvtest::ProcessResult r =
        kvtest::runProcess(argv, {{"PATH", std::string("/usr/bin:/bin")}});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("kovalu-bundle: --sign needs codesign, which is not on the PATH\n", r.err);
    EXPECT_EQ("", listing());
}
