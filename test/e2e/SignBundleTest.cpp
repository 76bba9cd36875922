// The bundle tool's signing, icon and refusals, with a recording stand-in for
// codesign first on the PATH and Info.plist read back by a real plist parser.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"
#include "tstrings.h"

using Args = std::vector<std::string>;

namespace {

// Records each call as one line of tab-separated arguments and keeps a copy of
// the entitlements it was given; fails on a path matching KVTEST_CODESIGN_FAIL,
// naming it, else marks a file it signs by appending "+signed".
const char* const kCodesign = R"(#!/bin/sh
for a in "$@"; do printf '%s\t' "$a"; last=$a; done >>"$KVTEST_CODESIGN_RECORD"
printf '\n' >>"$KVTEST_CODESIGN_RECORD"
while [ $# -gt 1 ]; do [ "$1" != --entitlements ] || cp "$2" "$KVTEST_CODESIGN_RECORD.ent"; shift; done
case $last in ${KVTEST_CODESIGN_FAIL:-/}) echo "$last: invalid" >&2; exit 3 ;; esac
[ -z "$KVTEST_CODESIGN_SIGNAL" ] || kill -"$KVTEST_CODESIGN_SIGNAL" $PPID
[ ! -f "$last" ] || printf '+signed' >>"$last"
)";

// notarytool and stapler as xcrun runs them: records each call like the
// codesign stand-in and keeps the submitted file; answers in JSON with the
// status KVTEST_NOTARY (default Accepted), the log listing two issues; staple
// marks what it staples; validate fails unless it was stapled.
const char *const kXcrun = R"(#!/bin/sh
for a in "$@"; do printf '%s\t' "$a"; done >>"$KVTEST_CODESIGN_RECORD.xcrun"
printf '\n' >>"$KVTEST_CODESIGN_RECORD.xcrun"
case "$1 $2" in
"notarytool submit") cp "$3" "$KVTEST_CODESIGN_RECORD.submitted"
  printf '{"id":"2efe2717-0001","status":"%s","message":"Processing complete"}\n' "${KVTEST_NOTARY:-Accepted}" ;;
"notarytool log") printf '{"jobId":"%s","status":"Invalid","issues":[{"severity":"error","path":"Demo.zip/Demo.app/Contents/MacOS/Demo","message":"The binary is not signed with a valid Developer ID certificate.","architecture":"arm64"},{"severity":"error","path":"Demo.zip/Demo.app/Contents/MacOS/Demo","message":"The signature does not include a secure timestamp."}]}\n' "$3" ;;
"stapler staple") echo "Processing: $3"
  if [ -d "$3" ]; then echo ticket >"$3/Contents/CodeResources"; else printf '+stapled' >>"$3"; fi
  echo "The staple and validate action worked!" ;;
"stapler validate") echo "Processing: $3"
  [ -f "$3/Contents/CodeResources" ] || { echo "${3##*/} does not have a ticket stapled to it."; exit 65; }
  echo "The validate action worked!" ;;
esac
)";

// Gatekeeper's verdict as spctl gives it, rejected when KVTEST_SPCTL says so.
const char *const kSpctl = R"(#!/bin/sh
for a in "$@"; do last=$a; done
if [ "$KVTEST_SPCTL" = rejected ]; then printf '%s: rejected\nsource=Unnotarized Developer ID\n' "$last" >&2; exit 3; fi
printf '%s: accepted\nsource=Notarized Developer ID\n' "$last" >&2
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
        if (!quiet) {
            argv.erase(std::find(argv.begin(), argv.end(), "--quiet"));
        }
        return kvtest::runProcess(
            argv,
            {{"PATH", tmp.path() + "/bin:" + tmp.path() + "/mac:" + ::getenv("PATH")},
             {"KVTEST_CODESIGN_RECORD", tmp / "record"},
             {"KVTEST_CODESIGN_FAIL", failOn ? std::optional<std::string>(failOn) : std::nullopt}});
    }

    /// Runs a command of the tool with the stand-ins, xcrun and spctl among
    /// them unless `mac` is false; `env` comes on top.
    kvtest::ProcessResult command(const Args &args, e2e::Env env, bool mac = true) {
        Args argv{KVTEST_MAKE_BUNDLE};
        argv.insert(argv.end(), args.begin(), args.end());
        env["PATH"] = tmp.path() + "/bin:" + (mac ? tmp.path() + "/mac:" : "") + "/usr/bin:/bin";
        env["KVTEST_CODESIGN_RECORD"] = tmp / "record";
        return kvtest::runProcess(argv, env);
    }

    void installMacTools() {
        kvtest::writeFile(tmp / "mac/xcrun", kXcrun);
        kvtest::writeFile(tmp / "mac/spctl", kSpctl);
        ::chmod((tmp / "mac/xcrun").c_str(), 0755);
        ::chmod((tmp / "mac/spctl").c_str(), 0755);
    }

    /// The recorded xcrun calls, one line each, the temporary directory shown
    /// as TMP and hidden working folders' random names as "*".
    std::vector<std::string> xcrunCalls() const {
        std::vector<std::string> calls;
        for (std::string line : e2e::lines(kvtest::readFile(tmp / "record.xcrun"))) {
            std::replace(line.begin(), line.end(), '\t', ' ');
            line = tstrings::replace(line.substr(0, line.size() - 1), tmp.path(), "TMP");
            calls.push_back(std::regex_replace(
                line, std::regex("/\\.(Demo\\.app|notarize|zip|dmg)\\.[A-Za-z0-9]{6}"), "/.$1.*"));
        }
        return calls;
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
    bool quiet = true;
};

} // namespace

TEST_F(SignBundle, SignsRuntimeMachOFilesThenTheLauncherThenTheBundle) {
    const std::string mine = tmp / "mine.plist";
    kvtest::writeFile(mine, "<plist><dict><key>com.apple.security.cs.allow-jit</key><true/>"
                            "</dict></plist>");
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
    const std::string app = tmp / "out/Demo.app";
    for (const auto& [failOn, path] : std::vector<std::pair<const char*, std::string>>{
             {"*/java", app + "/Contents/runtime/Contents/Home/bin/java"},
             {"*/MacOS/Demo", app + "/Contents/MacOS/Demo"},
             {"*/Demo.app", app}}) {
        SCOPED_TRACE(failOn);
        const kvtest::ProcessResult r = tool({"--name", "Demo", "--sign", "-"}, failOn);
        EXPECT_EQ(1, r.exitCode);
        // codesign's own words name the bundle where it will be, not the hidden place.
        EXPECT_EQ("kovalu-bundle: codesign failed on " + path + ": " + path + ": invalid\n", r.err);
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
    kvtest::writeFile(tmp / "in/png.icns", "\x89PNG\r\n");
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
        {{"--icon", tmp / "in/png.icns"},
         "--icon is no icns image (it does not start with \"icns\"): " + tmp / "in/png.icns"},
        {{"--icon", tmp / "in"}, "--icon needs an .icns file, not a directory: " + tmp / "in"},
        {{"--runtime", tmp / "jdk/bin/java"},
         "--runtime needs the Java runtime's home directory, not a file: " + tmp / "jdk/bin/java"},
        {{"--version", "v2"},
         "--version needs one to three numbers separated by '.', as macOS reads it (1.2.3): v2"},
        {{"--version", "1.2.3.4"},
         "--version needs one to three numbers separated by '.', as macOS reads it (1.2.3): "
         "1.2.3.4"},
        {{"--entitlements", tmp / "in/a&b.icns"}, "--entitlements needs --sign"},
        {{"--sign", "-", "--entitlements", tmp / "none"},
         "entitlements file not found: " + tmp / "none"},
        {{"--sign", "-"}, tmp / "out/Demo.entitlements already exists (use --force to replace it)"},
        {{"--sign", "-", "--force", "--entitlements", tmp / "jdk/release"},
         "cannot read --entitlements " + tmp / "jdk/release" + ": no <plist> element"},
        {{"--min-macos", "10.15"}, "--min-macos must be 11.0 or later, the launcher's floor: 10.15"},
        {{"--min-macos", "11.0.0.1"}, "--min-macos must be 11.0 or later, the launcher's floor: 11.0.0.1"},
        {{"--build", "1.x"}, "--build must be one to three numbers separated by periods: 1.x"},
        {{"--zip", tmp / "none/Demo.zip"}, "no directory for " + tmp / "none/Demo.zip"},
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
    kvtest::writeJar(tmp / "in/lib/LIB.JAR", {{"libq.dylib", thinMachO('\x06')}});
    // A framework is signed by its version, after what it holds.
    kvtest::writeFile(tmp / "in/lib/F.framework/Versions/A/F", thinMachO('\x06'));
    kvtest::makeSymlink("A", tmp / "in/lib/F.framework/Versions/Current");
    kvtest::makeSymlink("Versions/Current/F", tmp / "in/lib/F.framework/F");
    const kvtest::ProcessResult r =
        tool({"--name", "Demo", "--sign", "-", "--input", tmp / "in/lib"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string home = "APP/Contents/runtime/Contents/Home/";
    EXPECT_EQ((std::vector<std::string>{
                  "APP/Contents/app/lib!/libq.dylib",
                  "APP/Contents/app/lib!!/libz.dylib",
                  "APP/Contents/app/lib!/libfoo.dylib",
                  "APP/Contents/app/lib!/libbar.jnilib",
                  "APP/Contents/app/lib/F.framework/Versions/A/F",
                  "APP/Contents/app/lib/F.framework/Versions/A",
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
        {{app, "--sign", "-", "--entitlements", tmp / "jdk/release"},
         "cannot read --entitlements " + tmp / "jdk/release" + ": no <plist> element"},
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
    kvtest::writeFile(tmp / "in/Caf\xc3\xa9.txt", "");
    const kvtest::ProcessResult r =
        tool({"--name", "Demo", "--zip", "--input", tmp / "in/Caf\xc3\xa9.txt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Demo-1.0.zip\nDemo.app\n", listing());
    const std::string listed =
        kvtest::runProcess({"/usr/bin/env", "python3", "-c", kListZip, tmp / "out/Demo-1.0.zip"}).out;
    const std::string home = "Demo.app/Contents/runtime/Contents/Home/";
    for (const std::string& line : {home + "lib/link.dylib 0o777 l  -> server/libjvm.dylib",
                                    std::string("Demo.app/Contents/MacOS/Demo 0o755 - "),
                                    // Flagged as UTF-8, or Python would read it as code page 437.
                                    std::string("Demo.app/Contents/app/Caf\xc3\xa9.txt 0o644 - "),
                                    std::string("Demo.app/Contents/Info.plist 0o644 - ")}) {
        EXPECT_NE(std::string::npos, listed.find(line + "\n")) << line << "\n" << listed;
    }
    for (const std::string &line : e2e::lines(listed)) {
        EXPECT_EQ(0u, line.find("Demo.app/")) << line;
        EXPECT_EQ(std::string::npos, line.find("__MACOSX")) << line;
        EXPECT_EQ(std::string::npos, line.find("/._")) << line;
    }
    // Into an output directory made for it.
    ASSERT_EQ(0, tool({"--name", "Demo", "--zip", "--output", tmp / "fresh"}).exitCode);
    EXPECT_EQ("Demo-1.0.zip\nDemo.app\n", kvtest::runProcess({"/bin/ls", "-A", tmp / "fresh"}).out);
    // A name of the user's, in another directory.
    kvtest::makeDirs(tmp / "dl");
    ASSERT_EQ(0, tool({"--name", "Demo", "--force", "--zip", tmp / "dl/My.zip"}).exitCode);
    EXPECT_EQ(kvtest::readFile(tmp / "out/Demo-1.0.zip").substr(0, 4),
              kvtest::readFile(tmp / "dl/My.zip").substr(0, 4));
    EXPECT_EQ("My.zip\n", kvtest::runProcess({"/bin/ls", "-A", tmp / "dl"}).out);
}

TEST_F(SignBundle, DiskImageOfTheBundleAndAnApplicationsLinkSignedWithTheBundle) {
    const char* const failing =
        "#!/bin/sh\necho 'hdiutil: create failed - No space left' >&2\nexit 1\n";
    const std::vector<std::tuple<const char*, Args, std::string>> cases{
        {nullptr, {}, "--dmg needs hdiutil, which is not on the PATH (it comes with macOS)"},
        // Named as the user will find it, not by the hidden place it was made in.
        {failing,
         {},
         "hdiutil failed on " + tmp / "out/Demo-1.0.dmg" +
             ": hdiutil: create failed - No space left"},
        {kHdiutil, {}, ""},
        {kHdiutil, {"--sign", "-"}, ""},
    };
    for (const auto &[hdiutil, more, message] : cases) {
        SCOPED_TRACE(message + (more.empty() ? "" : " signed"));
        ::unlink((tmp / "record").c_str());
        if (hdiutil) {
            kvtest::writeFile(tmp / "bin/hdiutil", hdiutil);
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
            EXPECT_EQ("/Demo.dmg", c.back().back().substr(c.back().back().rfind('/')));
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
         "[('CFBundleDocumentTypes', [{'CFBundleTypeName': " +
             std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") +
             ", 'CFBundleTypeRole': 'Editor', 'LSHandlerRank': 'Owner', 'LSItemContentTypes': "
             "['app.kovalu.Demo.kvd']}, {'CFBundleTypeName': 'Other', 'CFBundleTypeRole': "
             "'Editor', "
             "'LSHandlerRank': 'Owner', 'LSItemContentTypes': ['app.kovalu.Demo.x-y']}]), "
             "('NSHighResolutionCapable', True), ('UTExportedTypeDeclarations', "
             "[{'UTTypeIdentifier': 'app.kovalu.Demo.kvd', 'UTTypeDescription': " +
             std::string("'R&D <\"\\'> \xc2\xa9 ]]> \xe6\x97\xa5'") +
             ", 'UTTypeConformsTo': ['public.data'], 'UTTypeTagSpecification': "
             "{'public.filename-extension': ['kvd']}}, {'UTTypeIdentifier': 'app.kovalu.Demo.x-y', "
             "'UTTypeDescription': 'Other', 'UTTypeConformsTo': ['public.data'], "
             "'UTTypeTagSpecification': {'public.filename-extension': ['x-y']}}])]\n",
         ""},
        // A type the system knows is imported, with the role and rank given.
        {{"--file-type", "txt=public.plain-text:Viewer", "--file-type", "md=A: b:Shell:Default"},
         {"CFBundleDocumentTypes", "UTExportedTypeDeclarations", "UTImportedTypeDeclarations"},
         "[('CFBundleDocumentTypes', [{'CFBundleTypeName': 'public.plain-text', "
         "'CFBundleTypeRole': 'Viewer', 'LSHandlerRank': 'Alternate', 'LSItemContentTypes': "
         "['public.plain-text']}, {'CFBundleTypeName': 'A: b', 'CFBundleTypeRole': 'Shell', "
         "'LSHandlerRank': 'Default', 'LSItemContentTypes': ['app.kovalu.Demo.md']}]), "
         "('NSHighResolutionCapable', True), ('UTExportedTypeDeclarations', [{'UTTypeIdentifier': "
         "'app.kovalu.Demo.md', 'UTTypeDescription': 'A: b', 'UTTypeConformsTo': ['public.data'], "
         "'UTTypeTagSpecification': {'public.filename-extension': ['md']}}]), "
         "('UTImportedTypeDeclarations', [{'UTTypeIdentifier': 'public.plain-text', "
         "'UTTypeTagSpecification': {'public.filename-extension': ['txt']}}])]\n",
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
        {{"--version", "2.1", "--build", "417", "--min-macos", "12.3"},
         {"CFBundleShortVersionString", "CFBundleVersion", "LSMinimumSystemVersion",
          "CFBundleAllowMixedLocalizations"},
         "[('CFBundleAllowMixedLocalizations', True), ('CFBundleShortVersionString', '2.1'), "
         "('CFBundleVersion', '417'), ('LSMinimumSystemVersion', '12.3'), "
         "('NSHighResolutionCapable', True)]\n",
         ""},
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
    // A file of the user's that lacks one is used, with a warning for each,
    // the runtime's own first.
    kvtest::writeFile(tmp / "mine.plist", "<plist><dict><key>com.apple.security.device.camera"
                                          "</key><true/></dict></plist>");
    const kvtest::ProcessResult mine =
        tool({"--name", "Demo", "--force", "--sign", "-", "--entitlements", tmp / "mine.plist",
              "--usage", "camera=C", "--usage", "microphone=M"});
    EXPECT_EQ(0, mine.exitCode);
    const std::string warning = "kovalu-bundle: warning: " + tmp / "mine.plist" + " does not grant ";
    EXPECT_EQ(warning + "com.apple.security.cs.allow-jit, without which the Java runtime cannot "
                        "run under the hardened runtime\n" +
                  warning + "com.apple.security.device.audio-input, which the usage descriptions "
                            "need\n",
              mine.err);
}

TEST_F(SignBundle, AFailedSignLeavesTheBundleAsItWas) {
    kvtest::writeJar(tmp / "in/native.jar", {{"a/libx.dylib", thinMachO('\x06')}, {"b.txt", "b"}});
    ASSERT_EQ(0, tool({"--name", "Demo", "--input", tmp / "in/native.jar"}).exitCode);
    const std::string app = tmp / "out/Demo.app";
    // On the jar's entry, and on the launcher after the jar was rewritten.
    for (const std::string failOn : {"*/libx.dylib", "*/MacOS/Demo"}) {
        SCOPED_TRACE(failOn);
        const kvtest::ProcessResult r =
            kvtest::runProcess({KVTEST_MAKE_BUNDLE, "sign", app, "--sign", "-", "--quiet"},
                               {{"PATH", tmp.path() + "/bin:" + ::getenv("PATH")},
                                {"KVTEST_CODESIGN_RECORD", tmp / "record"},
                                {"KVTEST_CODESIGN_FAIL", failOn}});
        EXPECT_EQ(1, r.exitCode);
        const std::string at = failOn == "*/MacOS/Demo"
                                   ? "/Contents/MacOS/Demo: "
                                   : "/Contents/app/native.jar!/a/libx.dylib: ";
        EXPECT_EQ(0u, r.err.find("kovalu-bundle: codesign failed on " + app + at)) << r.err;
        EXPECT_EQ(std::string::npos, r.err.find("/.Demo.app.")) << r.err;
        EXPECT_EQ(kvtest::readFile(tmp / "in/native.jar"),
                  kvtest::readFile(app + "/Contents/app/native.jar"));
        EXPECT_EQ(kvtest::readFile(tmp / "launcher"),
                  kvtest::readFile(app + "/Contents/MacOS/Demo"));
        EXPECT_EQ("Demo.app\n", listing());
    }
}

// An interrupted run leaves nothing behind, and the next one removes what a
// killed run left (its lock released), but not another run's directory.
TEST_F(SignBundle, InterruptedRunRemovesItsStagingAndTheNextOneAnAbandonedOne) {
    kvtest::writeFile(tmp / "out/.Demo.app.Killed/.lock", "");
    kvtest::writeFile(tmp / "out/.Demo.app.Killed/Demo.app/Contents/x", "");
    kvtest::writeFile(tmp / "out/.Demo.app.NoLock/x", "");
    for (const char* signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        Args argv{KVTEST_MAKE_BUNDLE,
                  "--launcher",
                  tmp / "launcher",
                  "--runtime",
                  tmp / "jdk",
                  "--output",
                  tmp / "out",
                  "--input",
                  tmp / "in/classes",
                  "--class-path",
                  "classes",
                  "--main-class",
                  "a.B",
                  "--name",
                  "Demo",
                  "--sign",
                  "-"};
        const kvtest::ProcessResult r =
            kvtest::runProcess(argv, {{"PATH", tmp.path() + "/bin:" + ::getenv("PATH")},
                                      {"KVTEST_CODESIGN_RECORD", tmp / "record"},
                                      {"KVTEST_CODESIGN_SIGNAL", std::string(signal)}});
        EXPECT_EQ(std::string(signal) == "INT" ? SIGINT : SIGTERM, r.signal);
        EXPECT_EQ(".Demo.app.NoLock\n", listing());
    }
}

namespace {

const char *const kDeveloperId = "Developer ID Application: Kovalu (T1)";

} // namespace

TEST_F(SignBundle, NotarizesTheSignedBundleBeforeTheDownloadsAreMade) {
    installMacTools();
    kvtest::writeFile(tmp / "bin/hdiutil", kHdiutil);
    ::chmod((tmp / "bin/hdiutil").c_str(), 0755);
    const std::string submitApp = "notarytool submit TMP/out/.Demo.app.*/.notarize.*/Demo.zip "
                                  "--wait --output-format json --keychain-profile notary";
    const std::string stapleApp = "stapler staple TMP/out/.Demo.app.*/Demo.app";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"--zip", {submitApp, stapleApp}},
        {"--dmg",
         {submitApp, stapleApp,
          "notarytool submit TMP/out/.Demo.app.*/Demo.dmg --wait --output-format json "
          "--keychain-profile notary",
          "stapler staple TMP/out/.Demo.app.*/Demo.dmg"}},
    };
    for (const auto &[download, calls] : cases) {
        SCOPED_TRACE(download);
        ::unlink((tmp / "record.xcrun").c_str());
        const kvtest::ProcessResult r = tool({"--name", "Demo", "--force", "--sign", kDeveloperId,
                                              "--notarize", "--keychain-profile", "notary", download});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(calls, xcrunCalls());
        EXPECT_EQ("ticket\n", kvtest::readFile(tmp / "out/Demo.app/Contents/CodeResources"));
        if (download == "--zip") {
            // The zip sent holds the signed bundle; the one written after holds the ticket too.
            const std::string sent = kvtest::runProcess({"/usr/bin/env", "python3", "-c", kListZip,
                                                         tmp / "record.submitted"}).out;
            EXPECT_NE(std::string::npos, sent.find("Demo.app/Contents/MacOS/Demo 0o755")) << sent;
            EXPECT_EQ(std::string::npos, sent.find("CodeResources")) << sent;
        }
    }
    EXPECT_NE(std::string::npos,
              kvtest::runProcess({"/usr/bin/env", "python3", "-c", kListZip, tmp / "out/Demo-1.0.zip"})
                  .out.find("Demo.app/Contents/CodeResources"));
    EXPECT_EQ("image\n+signed+stapled", kvtest::readFile(tmp / "out/Demo-1.0.dmg"));
}

TEST_F(SignBundle, NotarizeCommandSubmitsStaplesOrSaysWhyNot) {
    installMacTools();
    ASSERT_EQ(0, tool({"--name", "Demo"}).exitCode);
    kvtest::writeFile(tmp / "out/Demo.dmg", "image");
    kvtest::writeFile(tmp / "K.p8", "key");
    const std::string app = tmp / "out/Demo.app";
    const std::string submitApp = "notarytool submit TMP/out/.notarize.*/Demo.zip --wait "
                                  "--output-format json ";
    const std::string refused = "kovalu-bundle: the notary service found Demo.app Invalid: "
                                "Processing complete (submission 2efe2717-0001)\n";
    const std::string issues =
        "Demo.zip/Demo.app/Contents/MacOS/Demo: The binary is not signed with a valid Developer "
        "ID certificate.\nDemo.zip/Demo.app/Contents/MacOS/Demo: The signature does not include "
        "a secure timestamp.\n";
    struct Row {
        Args args;
        std::string status; ///< the notary's verdict, or "nomac" for no xcrun
        std::string err;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows{
        {{app, "--keychain-profile", "notary", "--quiet"}, "Accepted", "",
         {submitApp + "--keychain-profile notary", "stapler staple TMP/out/Demo.app"}},
        {{app, "--key", tmp / "K.p8", "--key-id", "KID", "--issuer", "ISS", "-q", "--zip"}, "Accepted", "",
         {submitApp + "--key TMP/K.p8 --key-id KID --issuer ISS", "stapler staple TMP/out/Demo.app"}},
        {{tmp / "out/Demo.dmg", "--keychain-profile", "notary", "-q"}, "Accepted", "",
         {"notarytool submit TMP/out/Demo.dmg --wait --output-format json --keychain-profile notary",
          "stapler staple TMP/out/Demo.dmg"}},
        {{app, "--keychain-profile", "notary", "-q"}, "Invalid", issues + refused,
         {submitApp + "--keychain-profile notary",
          "notarytool log 2efe2717-0001 --keychain-profile notary"}},
        {{app, "--keychain-profile", "notary"}, "nomac",
         "kovalu-bundle: notarization needs xcrun, which is not on the PATH (it comes with "
         "Xcode's command line tools)\n", {}},
        {{app}, "Accepted",
         "kovalu-bundle: notarization needs --keychain-profile NAME (made once with xcrun "
         "notarytool store-credentials), or --key FILE.p8 with --key-id ID and --issuer UUID\n", {}},
        {{app, "--key", tmp / "K.p8"}, "Accepted",
         "kovalu-bundle: --key, --key-id and --issuer go together: missing --key-id and --issuer\n", {}},
        {{app, "--keychain-profile", "notary", "--issuer", "ISS"}, "Accepted",
         "kovalu-bundle: give --keychain-profile, or --key, --key-id and --issuer, not both\n", {}},
        {{app, "--key", tmp / "none.p8", "--key-id", "KID", "--issuer", "ISS"}, "Accepted",
         "kovalu-bundle: API key file not found: " + tmp / "none.p8" + "\n", {}},
        {{app, "--password", "secret"}, "Accepted",
         "kovalu-bundle: notarize takes only --keychain-profile, --key, --key-id, --issuer, --zip, "
         "--force and --quiet: --password\n", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.status + " " + row.args.back());
        ::unlink((tmp / "record.xcrun").c_str());
        ::unlink((app + "/Contents/CodeResources").c_str());
        Args args{"notarize"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const kvtest::ProcessResult r =
            command(args, {{"KVTEST_NOTARY", row.status}}, row.status != "nomac");
        EXPECT_EQ(row.err, r.err);
        EXPECT_EQ(row.err.empty() ? 0 : 1, r.exitCode);
        const bool zip = row.args.back() == "--zip";
        EXPECT_EQ(row.err.empty() ? row.args[0] + "\n" + (zip ? tmp / "out/Demo-1.0.zip\n" : "") : "",
                  r.out);
        if (zip) {
            // Zipped after stapling: the download carries the ticket.
            EXPECT_NE(std::string::npos,
                      kvtest::runProcess({"/usr/bin/env", "python3", "-c", kListZip,
                                          tmp / "out/Demo-1.0.zip"}).out.find("Demo.app/Contents/CodeResources"));
            ::unlink((tmp / "out/Demo-1.0.zip").c_str());
        }
        EXPECT_EQ(row.calls, xcrunCalls());
        // Only an accepted bundle carries a ticket; a password never goes on a command line.
        const bool stapled = !row.calls.empty() && row.calls.back() == "stapler staple TMP/out/Demo.app";
        EXPECT_EQ(stapled, ::access((app + "/Contents/CodeResources").c_str(), F_OK) == 0);
        EXPECT_EQ(std::string::npos, kvtest::readFile(tmp / "record.xcrun").find("password"));
    }
    EXPECT_EQ("image+stapled", kvtest::readFile(tmp / "out/Demo.dmg"));
    EXPECT_EQ("Demo.app\nDemo.dmg\n", listing());
}

TEST_F(SignBundle, BuildRefusesANotarizationThatCannotSucceed) {
    installMacTools();
    const std::vector<std::pair<Args, std::string>> cases{
        {{"--notarize", "--keychain-profile", "p"},
         "--notarize needs --sign with a Developer ID Application identity"},
        {{"--notarize", "--keychain-profile", "p", "--sign", "-"},
         "--notarize needs a Developer ID Application identity: the notary service refuses an "
         "ad hoc signature (--sign -)"},
        {{"--keychain-profile", "p", "--sign", kDeveloperId},
         "--keychain-profile, --key, --key-id and --issuer need --notarize"},
        {{"--notarize", "--sign", kDeveloperId, "--key-id", "KID"},
         "--key, --key-id and --issuer go together: missing --key and --issuer"},
    };
    for (const auto &[more, message] : cases) {
        SCOPED_TRACE(message);
        Args options{"--name", "Demo"};
        options.insert(options.end(), more.begin(), more.end());
        const kvtest::ProcessResult r = tool(options);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("kovalu-bundle: " + message + "\n", r.err);
        EXPECT_EQ("", listing());
    }
}

TEST_F(SignBundle, VerifySaysWhichCheckFailed) {
    installMacTools();
    ASSERT_EQ(0, tool({"--name", "Demo"}).exitCode);
    const std::string app = tmp / "out/Demo.app";
    const std::string passed = "signature: passed\nGatekeeper: passed\n";
    struct Row {
        e2e::Env env;
        bool stapled;
        std::string out;
    };
    const std::vector<Row> rows{
        {{}, true, passed + "stapled ticket: passed\n"},
        {{{"KVTEST_CODESIGN_FAIL", std::string("*/Demo.app")}}, true,
         "signature: failed: invalid\nGatekeeper: passed\n"
         "stapled ticket: passed\n"},
        {{{"KVTEST_SPCTL", std::string("rejected")}}, true,
         "signature: passed\nGatekeeper: failed: rejected; source=Unnotarized Developer ID\n"
         "stapled ticket: passed\n"},
        {{}, false, passed + "stapled ticket: failed: Demo.app does not have a ticket stapled to it.\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.out);
        ::unlink((tmp / "record").c_str());
        ::unlink((app + "/Contents/CodeResources").c_str());
        if (row.stapled) {
            kvtest::writeFile(app + "/Contents/CodeResources", "ticket");
        }
        const kvtest::ProcessResult r = command({"verify", app}, row.env);
        EXPECT_EQ(row.out, r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(row.out.find("failed") == std::string::npos ? 0 : 1, r.exitCode);
        EXPECT_EQ((std::vector<Args>{{"--verify", "--deep", "--strict", "--verbose=2", "APP"}}),
                  calls());
    }
    const kvtest::ProcessResult bare = command({"verify", app}, {}, /*mac=*/false);
    EXPECT_EQ(1, bare.exitCode);
    EXPECT_EQ("kovalu-bundle: verify needs codesign, spctl and xcrun, which come with macOS: "
              "spctl and xcrun are not on the PATH\n",
              bare.err);
}

TEST_F(SignBundle, StepLinesSayWhatTakesTimeUnlessQuiet) {
    quiet = false;
    const kvtest::ProcessResult r = tool({"--name", "Demo", "--sign", "-", "--zip"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<std::string> lines = e2e::lines(r.err);
    ASSERT_EQ(3u, lines.size()) << r.err;
    const char *const steps[] = {"Copying the runtime", "Signing Demo.app", "Writing Demo-1.0.zip"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(std::string(steps[i]) +
                                                          " \\.\\.\\. [0-9]+\\.[0-9] s")))
            << lines[i];
    }
    quiet = true;
    const kvtest::ProcessResult q = tool({"--name", "Demo", "--sign", "-", "--zip", "--force"});
    EXPECT_EQ(0, q.exitCode);
    EXPECT_EQ("", q.err);
    EXPECT_EQ(tmp / "out/Demo.app\n", q.out);
}
