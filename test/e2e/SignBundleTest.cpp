// The bundle tool's signing, icon and refusals, with a recording stand-in for
// codesign first on the PATH and Info.plist read back by a real plist parser.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

using Args = std::vector<std::string>;

namespace {

// Records each call as one line of tab-separated arguments and keeps a copy of
// the entitlements it was given; fails on a path matching KVTEST_CODESIGN_FAIL,
// else marks a file it signs by appending "+signed".
const char *const kCodesign = R"(#!/bin/sh
for a in "$@"; do printf '%s\t' "$a"; last=$a; done >>"$KVTEST_CODESIGN_RECORD"
printf '\n' >>"$KVTEST_CODESIGN_RECORD"
while [ $# -gt 1 ]; do [ "$1" != --entitlements ] || cp "$2" "$KVTEST_CODESIGN_RECORD.ent"; shift; done
case $last in ${KVTEST_CODESIGN_FAIL:-/}) exit 3 ;; esac
[ ! -f "$last" ] || printf '+signed' >>"$last"
)";

// Records its arguments and what the folder it images holds, then writes the image.
const char *const kHdiutil = R"(#!/bin/sh
echo "$@" >"$KVTEST_CODESIGN_RECORD.hdiutil"
ls -A "$5" >>"$KVTEST_CODESIGN_RECORD.hdiutil"
readlink "$5/Applications" >>"$KVTEST_CODESIGN_RECORD.hdiutil"
for a in "$@"; do last=$a; done
echo image >"$last"
)";

// Lists a zip file: each entry's name, kind and mode, and a link's target.
const char *const kListZip = R"(import stat, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    mode = i.external_attr >> 16
    link = ' -> ' + z.read(i).decode() if stat.S_ISLNK(mode) else ''
    print(i.filename, oct(stat.S_IMODE(mode)), 'l' if stat.S_ISLNK(mode) else '-', link)
)";

// A thin 64-bit Mach-O header of the given file type (2 executable, 6 library).
std::string thinMachO(char fileType) {
    return std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01\0\0\0\0", 12) + fileType + std::string(3, '\0');
}

// Reads a property list and prints what the tests compare.
const char *const kReadPlist = R"(import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    d = plistlib.load(f)
print(sorted((k, v) for k, v in d.items()
             if k in sys.argv[2:] or (v is True and k != 'CFBundleAllowMixedLocalizations')))
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
        // A macOS launcher to go with the macOS runtime; the tests never start it.
        kvtest::writeFile(tmp / "launcher", thinMachO('\x02'));
        ::chmod((tmp / "launcher").c_str(), 0755);
    }

    /// Runs the tool quietly: the step lines have a test of their own.
    kvtest::ProcessResult tool(const Args &more, const char *failOn = nullptr) {
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher",   tmp / "launcher", "--runtime",
                  tmp / "jdk",        "--output",     tmp / "out",          "--input",
                  tmp / "in/classes", "--class-path", "classes",            "--main-class",
                  "a.B",              "--quiet"};
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
            std::string &path = args.back();
            const std::size_t app = path.rfind("/Demo.app");
            path = app == std::string::npos ? path : "APP" + path.substr(app + 9);
            // A jar's entries are signed where they were unpacked, each in a
            // numbered directory of its own.
            for (std::size_t unpacked = path.find("/.unpacked."); unpacked != std::string::npos;
                 unpacked = path.find("/.unpacked.")) {
                path.replace(unpacked, path.find('/', unpacked + 18) + 1 - unpacked, "!/");
            }
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
        "[('CFBundleAllowMixedLocalizations', True), ('CFBundleExecutable', 'R&D <T>'), "
        "('CFBundleIconFile', 'a&b.icns'), "
        "('CFBundleName', 'R&D <T>'), ('CFBundleVersion', '2.0'), "
        "('LSMinimumSystemVersion', '11.0'), ('NSHighResolutionCapable', True)]\n",
        plist(contents + "/Info.plist",
              {"CFBundleAllowMixedLocalizations", "CFBundleExecutable", "CFBundleIconFile",
               "CFBundleName", "CFBundleVersion", "LSMinimumSystemVersion"}));
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
              tmp / "launcher",
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

namespace {

/// Each recorded call's path, followed by " +E" when it came with entitlements.
std::vector<std::string> signedPaths(const std::vector<Args> &calls) {
    std::vector<std::string> paths;
    for (const Args &call : calls) {
        const bool entitled =
            std::find(call.begin(), call.end(), "--entitlements") != call.end();
        paths.push_back(call.back() + (entitled ? " +E" : ""));
    }
    return paths;
}

} // namespace

TEST_F(SignBundle, SignsJarEntriesAndApplicationCodeThenTheRuntimeWithItsExecutablesEntitled) {
    const std::string universal64 = std::string("\xca\xfe\xba\xbf\0\0\0\x01", 8) +
                                    std::string("\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0\x20", 16) +
                                    std::string(8, '\0');
    kvtest::writeFile(tmp / "jdk/bin/java", thinMachO('\x02'));
    kvtest::writeFile(tmp / "jdk/lib/jspawnhelper", universal64 + thinMachO('\x02'));
    const std::vector<std::pair<std::string, std::string>> entries{
        {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n\n"},
        {"a/C.class", std::string("\xca\xfe\xba\xbe\0\0\0\x3d", 8)},
        {"native/libfoo.dylib", universal64 + thinMachO('\x06')},
        {"native/x/libbar.jnilib", thinMachO('\x06')}};
    // A jar inside, as in a Spring Boot application, with native code of its own.
    kvtest::writeJar(tmp / "inner.jar", {entries[1], {"libz.dylib", thinMachO('\x06')}});
    std::vector<std::pair<std::string, std::string>> outer = entries;
    outer.emplace_back("BOOT-INF/lib/inner.jar", kvtest::readFile(tmp / "inner.jar"));
    kvtest::writeJar(tmp / "in/lib/native.jar", outer);
    kvtest::writeJar(tmp / "in/lib/plain.jar", {entries[0], entries[1]});
    kvtest::writeFile(tmp / "in/lib/libjni.dylib", thinMachO('\x06'));
    const kvtest::ProcessResult r =
        tool({"--name", "Demo", "--sign", "-", "--input", tmp / "in/lib"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string home = "APP/Contents/runtime/Contents/Home/";
    EXPECT_EQ((std::vector<std::string>{
                  "APP/Contents/app/lib!!/libz.dylib",
                  "APP/Contents/app/lib!/libfoo.dylib",
                  "APP/Contents/app/lib!/libbar.jnilib",
                  "APP/Contents/app/lib/libjni.dylib",
                  home + "lib/server/libjvm.dylib",
                  home + "bin/java +E",
                  home + "lib/jspawnhelper +E",
                  home + "lib/libjli.dylib",
                  "APP/Contents/MacOS/Demo +E",
                  "APP +E",
              }),
              signedPaths(calls()));
    // The signed entries are back in the jar; the others and the jar without
    // native code are unchanged.
    const std::string lib = tmp / "out/Demo.app/Contents/app/lib/";
    const kvtest::ProcessResult jar =
        kvtest::runProcess({"/usr/bin/env", "python3", "-c",
                            "import io, sys, zipfile\ndef show(z, at):\n"
                            " assert z.testzip() is None\n for n in z.namelist():\n"
                            "  b = z.read(n)\n  print(at + n, b.endswith(b'+signed'), len(b))\n"
                            "  if n.endswith('.jar'): show(zipfile.ZipFile(io.BytesIO(b)), n + '!')\n"
                            "show(zipfile.ZipFile(sys.argv[1]), '')",
                            lib + "native.jar"});
    EXPECT_EQ("META-INF/MANIFEST.MF False 23\na/C.class False 8\n"
              "native/libfoo.dylib True 55\nnative/x/libbar.jnilib True 23\n"
              "BOOT-INF/lib/inner.jar False 243\nBOOT-INF/lib/inner.jar!a/C.class False 8\n"
              "BOOT-INF/lib/inner.jar!libz.dylib True 23\n",
              jar.out)
        << jar.err;
    EXPECT_EQ(kvtest::readFile(tmp / "in/lib/plain.jar"), kvtest::readFile(lib + "plain.jar"));
    EXPECT_EQ("", kvtest::runProcess({"/usr/bin/find", lib, "-name", ".*"}).out);
}

TEST_F(SignBundle, RefusesASignedJarOnlyWhenItsNativeCodeNeedsSigning) {
    const std::string refused = "kovalu-bundle: cannot sign the native code in " + tmp /
                                "out/Demo.app/Contents/app/signed.jar: it is a signed jar "
                                "(META-INF/*.SF), which changing an entry would break\n";
    kvtest::writeJar(tmp / "inner.jar", {{"libz.dylib", thinMachO('\x06')}});
    const std::vector<std::pair<std::string, std::string>> cases{
        {"a/libx.dylib", refused},
        {"lib/inner.jar", refused}, // native code only in a jar inside
        {"a/x.txt", ""},
    };
    for (const auto &[entry, message] : cases) {
        SCOPED_TRACE(entry);
        const std::string content = entry == "lib/inner.jar" ? kvtest::readFile(tmp / "inner.jar")
                                    : thinMachO('\x06').substr(0, entry == "a/x.txt" ? 2 : 16);
        kvtest::writeJar(tmp / "in/signed.jar", {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n\n"},
                                                 {"META-INF/KEY.SF", "sig"},
                                                 {"META-INF/KEY.RSA", "rsa"},
                                                 {entry, content}});
        const kvtest::ProcessResult r = tool(
            {"--name", "Demo", "--sign", "-", "--force", "--input", tmp / "in/signed.jar"});
        EXPECT_EQ(message.empty() ? 0 : 1, r.exitCode);
        EXPECT_EQ(message, r.err);
        EXPECT_EQ(message.empty() ? "Demo.app\nDemo.entitlements\n" : "", listing());
    }
}

TEST_F(SignBundle, SignCommandSignsAnExistingBundleInPlace) {
    ASSERT_EQ(0, tool({"--name", "Demo", "--usage", "microphone=To record"}).exitCode);
    const std::string app = tmp / "out/Demo.app";
    const std::vector<std::pair<Args, std::string>> cases{
        {{app, "--sign", "-", "--zip"}, "sign takes only --sign, --entitlements and --quiet: --zip"},
        {{tmp / "out", "--sign", "-"}, "not a bundle (NAME.app holding Contents): " + tmp / "out"},
        {{app}, "sign needs --sign IDENTITY"},
        {{app + "/", "--sign", "-", "-q"}, ""},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(message);
        Args argv{KVTEST_MAKE_BUNDLE, "sign"};
        argv.insert(argv.end(), args.begin(), args.end());
        const kvtest::ProcessResult r = kvtest::runProcess(
            argv, {{"PATH", tmp.path() + "/bin:" + ::getenv("PATH")},
                   {"KVTEST_CODESIGN_RECORD", tmp / "record"}});
        EXPECT_EQ(message.empty() ? "" : "kovalu-bundle: " + message + "\n", r.err);
        EXPECT_EQ("Demo.app\n", listing());
    }
    const std::string home = "APP/Contents/runtime/Contents/Home/";
    const std::vector<std::string> paths = signedPaths(calls());
    ASSERT_EQ(5u, paths.size());
    EXPECT_EQ((std::set<std::string>{home + "bin/java", home + "lib/libjli.dylib",
                                     home + "lib/server/libjvm.dylib"}),
              std::set<std::string>(paths.begin(), paths.begin() + 3));
    EXPECT_EQ((std::vector<std::string>{"APP/Contents/MacOS/Demo +E", "APP +E"}),
              std::vector<std::string>(paths.begin() + 3, paths.end()));
    EXPECT_NE(std::string::npos, plist(tmp / "record.ent", {}).find(
                                     "('com.apple.security.device.audio-input', True)"));
}

TEST_F(SignBundle, ZipHoldsTheBundleWithLinksAndModesKept) {
    const kvtest::ProcessResult r = tool({"--name", "Demo", "--zip"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Demo-1.0.zip\nDemo.app\n", listing());
    const std::string listed =
        kvtest::runProcess({"/usr/bin/env", "python3", "-c", kListZip, tmp / "out/Demo-1.0.zip"}).out;
    const std::string home = "Demo.app/Contents/runtime/Contents/Home/";
    for (const std::string &line :
         {home + "lib/link.dylib 0o777 l  -> server/libjvm.dylib",
          std::string("Demo.app/Contents/MacOS/Demo 0o755 - "),
          std::string("Demo.app/Contents/Info.plist 0o644 - ")}) {
        EXPECT_NE(std::string::npos, listed.find(line + "\n")) << line << "\n" << listed;
    }
    for (const std::string &line : e2e::lines(listed)) {
        EXPECT_EQ(0u, line.find("Demo.app/")) << line;
        EXPECT_EQ(std::string::npos, line.find("__MACOSX")) << line;
        EXPECT_EQ(std::string::npos, line.find("/._")) << line;
    }
}

TEST_F(SignBundle, DiskImageOfTheBundleAndAnApplicationsLinkSignedWithTheBundle) {
    const std::vector<std::tuple<bool, Args, std::string>> cases{
        {false, {}, "--dmg needs hdiutil, which is not on the PATH (it comes with macOS)"},
        {true, {}, ""},
        {true, {"--sign", "-"}, ""},
    };
    for (const auto &[hdiutil, more, message] : cases) {
        SCOPED_TRACE(message + (more.empty() ? "" : " signed"));
        ::unlink((tmp / "record").c_str());
        if (hdiutil) {
            kvtest::writeFile(tmp / "bin/hdiutil", kHdiutil);
            ::chmod((tmp / "bin/hdiutil").c_str(), 0755);
        }
        Args options{"--name", "Demo", "--dmg", "--force"};
        options.insert(options.end(), more.begin(), more.end());
        const kvtest::ProcessResult r = tool(options);
        EXPECT_EQ(message.empty() ? "" : "kovalu-bundle: " + message + "\n", r.err);
        if (!message.empty()) {
            EXPECT_EQ("", listing());
            continue;
        }
        EXPECT_EQ(more.empty() ? "Demo-1.0.dmg\nDemo.app\n"
                               : "Demo-1.0.dmg\nDemo.app\nDemo.entitlements\n",
                  listing());
        // The stand-in marks what it signs: the image in place is the signed one.
        EXPECT_EQ(more.empty() ? "image\n" : "image\n+signed",
                  kvtest::readFile(tmp / "out/Demo-1.0.dmg"));
        const std::vector<std::string> record = e2e::lines(kvtest::readFile(tmp / "record.hdiutil"));
        ASSERT_EQ(4u, record.size());
        EXPECT_EQ(0u, record[0].find("create -volname Demo -srcfolder ")) << record[0];
        EXPECT_NE(std::string::npos, record[0].find(" -ov -format UDZO ")) << record[0];
        EXPECT_EQ((std::vector<std::string>{"Applications", "Demo.app", "/Applications"}),
                  std::vector<std::string>(record.begin() + 1, record.end()));
        if (!more.empty()) {
            const std::vector<Args> c = calls();
            ASSERT_FALSE(c.empty());
            EXPECT_EQ("APP", c[c.size() - 2].back());
            EXPECT_EQ(Args({"--force", "--sign", "-"}), Args(c.back().begin(), c.back().end() - 1));
            EXPECT_EQ("/Demo-1.0.dmg", c.back().back().substr(c.back().back().rfind('/')));
        }
    }
}

TEST_F(SignBundle, InfoPlistDeclarationsReadBackAsGiven) {
    kvtest::writeFile(tmp / "mine.plist",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                      "  <key>CFBundleName</key><string>Other &amp; name</string>\n"
                      "  <key>LSUIElement</key><false/>\n"
                      "  <key>Extra</key><array><integer>3</integer><dict><key>r</key>"
                      "<real>1.5</real></dict></array>\n</dict>\n</plist>\n");
    const std::string text = "R&D <\"'> \xc2\xa9 ]]> \xe6\x97\xa5";
    const std::string warned = "kovalu-bundle: warning: --info-plist replaces ";
    const std::vector<std::tuple<Args, Args, std::string, std::string>> cases{
        {{"--file-type", "kvd=" + text, "--file-type", "x-y=Other"},
         {"CFBundleDocumentTypes", "UTExportedTypeDeclarations"},
         "[('CFBundleDocumentTypes', [{'CFBundleTypeName': " + std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") +
             ", 'CFBundleTypeRole': 'Editor', 'LSHandlerRank': 'Owner', 'LSItemContentTypes': "
             "['app.kovalu.Demo.kvd']}, {'CFBundleTypeName': 'Other', 'CFBundleTypeRole': 'Editor', "
             "'LSHandlerRank': 'Owner', 'LSItemContentTypes': ['app.kovalu.Demo.x-y']}]), "
             "('NSHighResolutionCapable', True), ('UTExportedTypeDeclarations', "
             "[{'UTTypeIdentifier': 'app.kovalu.Demo.kvd', 'UTTypeDescription': " +
             std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") +
             ", 'UTTypeConformsTo': ['public.data'], 'UTTypeTagSpecification': "
             "{'public.filename-extension': ['kvd']}}, {'UTTypeIdentifier': 'app.kovalu.Demo.x-y', "
             "'UTTypeDescription': 'Other', 'UTTypeConformsTo': ['public.data'], "
             "'UTTypeTagSpecification': {'public.filename-extension': ['x-y']}}])]\n",
         ""},
        {{"--url-scheme", "kov+x.1", "--identifier", "com.example.demo"},
         {"CFBundleURLTypes"},
         "[('CFBundleURLTypes', [{'CFBundleURLName': 'com.example.demo.kov-x.1', "
         "'CFBundleURLSchemes': ['kov+x.1']}]), ('NSHighResolutionCapable', True)]\n",
         ""},
        {{"--usage", "camera=" + text, "--usage", "downloads=Saves files", "--category",
          "developer-tools", "--copyright", text, "--agent"},
         {"NSCameraUsageDescription", "NSDownloadsFolderUsageDescription",
          "LSApplicationCategoryType", "NSHumanReadableCopyright"},
         "[('LSApplicationCategoryType', 'public.app-category.developer-tools'), "
         "('LSUIElement', True), ('NSCameraUsageDescription', " +
             std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") +
             "), ('NSDownloadsFolderUsageDescription', 'Saves files'), "
             "('NSHighResolutionCapable', True), ('NSHumanReadableCopyright', " +
             std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") + ")]\n",
         ""},
        {{"--agent", "--info-plist", tmp / "mine.plist"},
         {"CFBundleName", "LSUIElement", "Extra"},
         "[('CFBundleName', 'Other & name'), ('Extra', [3, {'r': 1.5}]), "
         "('LSUIElement', False), ('NSHighResolutionCapable', True)]\n",
         warned + "CFBundleName\n" + warned + "LSUIElement\n"},
    };
    for (const auto &[options, keys, expected, warnings] : cases) {
        SCOPED_TRACE(options[0]);
        Args all{"--name", "Demo", "--force"};
        all.insert(all.end(), options.begin(), options.end());
        const kvtest::ProcessResult r = tool(all);
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(warnings, r.err);
        EXPECT_EQ(expected, plist(tmp / "out/Demo.app/Contents/Info.plist", keys));
    }
}

TEST_F(SignBundle, UsageDescriptionsAddTheirEntitlementsToTheDefaults) {
    const kvtest::ProcessResult r = tool({"--name", "Demo", "--sign", "-", "--usage", "camera=C",
                                          "--usage", "microphone=M", "--usage", "documents=D"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("[('com.apple.security.cs.allow-dyld-environment-variables', True), "
              "('com.apple.security.cs.allow-jit', True), "
              "('com.apple.security.cs.allow-unsigned-executable-memory', True), "
              "('com.apple.security.cs.disable-library-validation', True), "
              "('com.apple.security.device.audio-input', True), "
              "('com.apple.security.device.camera', True)]\n",
              plist(tmp / "out/Demo.entitlements", {}));
    // A file of the user's that lacks one is used, with a warning.
    kvtest::writeFile(tmp / "mine.plist", "<plist><dict><key>com.apple.security.device.camera"
                                          "</key><true/></dict></plist>");
    const kvtest::ProcessResult mine =
        tool({"--name", "Demo", "--force", "--sign", "-", "--entitlements", tmp / "mine.plist",
              "--usage", "camera=C", "--usage", "microphone=M"});
    EXPECT_EQ(0, mine.exitCode);
    EXPECT_EQ("kovalu-bundle: warning: " + tmp / "mine.plist" +
                  " does not grant com.apple.security.device.audio-input, which the usage "
                  "descriptions need\n",
              mine.err);
}

TEST_F(SignBundle, FailureOnAJarEntryLeavesTheJarAsItWas) {
    kvtest::writeJar(tmp / "in/native.jar", {{"a/libx.dylib", thinMachO('\x06')}, {"b.txt", "b"}});
    ASSERT_EQ(0, tool({"--name", "Demo", "--input", tmp / "in/native.jar"}).exitCode);
    const std::string app = tmp / "out/Demo.app";
    const kvtest::ProcessResult r = kvtest::runProcess(
        {KVTEST_MAKE_BUNDLE, "sign", app, "--sign", "-", "--quiet"},
        {{"PATH", tmp.path() + "/bin:" + ::getenv("PATH")},
         {"KVTEST_CODESIGN_RECORD", tmp / "record"},
         {"KVTEST_CODESIGN_FAIL", std::string("*/libx.dylib")}});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(0u, r.err.find("kovalu-bundle: codesign failed on " + app +
                             "/Contents/app/native.jar!/a/libx.dylib: "))
        << r.err;
    EXPECT_EQ(kvtest::readFile(tmp / "in/native.jar"), kvtest::readFile(app + "/Contents/app/native.jar"));
    EXPECT_EQ("", kvtest::runProcess({"/usr/bin/find", tmp / "out", "-name", ".*"}).out);
}
