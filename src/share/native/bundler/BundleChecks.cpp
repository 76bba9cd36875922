#include "BundleChecks.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "AppPaths.h"
#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PlistReader.h"
#include "Subprocess.h"
#include "ToolDefaults.h"
#include "tstrings.h"

namespace fs = std::filesystem;

using BundleFiles::exists;
using BundleFiles::existsAsIs;
using BundleFiles::isDirectory;
using BundleFiles::isRegularFile;

using BundleChecks::readEntitlements;

namespace {

void checkName(const BundleOptions& o, BundlePlan& plan) {
    // The launcher reads a backslash as a path separator: such a bundle could
    // never find its configuration.
    if (o.name.find('\\') != std::string::npos) {
        fail("--name must not contain a backslash: " + o.name, KV_SOURCE_CODE_POS);
    }
    // ':' would split the class path that holds the bundle's path, and a
    // macro name would be expanded again at every launch, never settling.
    if (o.name.find(':') != std::string::npos) {
        fail("--name must not contain ':', which would split the class path: " + o.name,
             KV_SOURCE_CODE_POS);
    }
    for (const char* macro : {"$APPDIR", "$BINDIR", "$ROOTDIR"}) {
        if (o.name.find(macro) != std::string::npos) {
            fail("--name must not contain " + std::string(macro) +
                     ", which the launcher would expand: " + o.name,
                 KV_SOURCE_CODE_POS);
        }
    }
    plan.name = tstrings::endsWith(o.name, ".app") ? o.name.substr(0, o.name.size() - 4) : o.name;
    // NAME.app would otherwise become NAME.app.app.
    if (!FileUtils::isPlainName(o.name) || !FileUtils::isPlainName(plan.name)) {
        fail("--name must be a plain file name: " + o.name, KV_SOURCE_CODE_POS);
    }
}

void checkValues(const BundleOptions& o, BundlePlan& plan) {
    if (o.launcher.empty()) {
        fail("missing --launcher", KV_SOURCE_CODE_POS);
    }
    if (o.name.empty()) {
        fail("missing --name", KV_SOURCE_CODE_POS);
    }
    if (o.runtime.empty()) {
        fail("missing --runtime", KV_SOURCE_CODE_POS);
    }
    checkName(o, plan);
    const int mains = !o.mainJar.empty() + !o.mainClass.empty() + !o.mainModule.empty();
    if (mains != 1) {
        fail("give exactly one of --main-jar, --main-class and --main-module", KV_SOURCE_CODE_POS);
    }
    if (o.package && !FileUtils::isPlainName(*o.package)) {
        fail(o.package->empty() ? "--package must not be empty"
                                : "--package must be a plain name: " + *o.package,
             KV_SOURCE_CODE_POS);
    }
    if (o.version.empty()) {
        fail("--version must not be empty", KV_SOURCE_CODE_POS);
    }
    if (!InfoPlist::isValidVersion(o.version)) {
        fail("--version needs one to three numbers separated by '.', as macOS reads it "
             "(1.2.3): " +
                 o.version,
             KV_SOURCE_CODE_POS);
    }
    if (!o.build.empty() && !InfoPlist::isValidVersion(o.build)) {
        fail("--build must be one to three numbers separated by periods: " + o.build,
             KV_SOURCE_CODE_POS);
    }
    if (!InfoPlist::isValidVersion(o.minMacos) ||
        InfoPlist::compareVersions(o.minMacos, "11.0") < 0) {
        fail("--min-macos must be 11.0 or later, the launcher's floor: " + o.minMacos,
             KV_SOURCE_CODE_POS);
    }
    for (const std::string& option : o.javaOptions) {
        // The runtime would take it for the main class.
        if (option.empty() || option[0] != '-') {
            fail("--java-option must begin with '-': " + option, KV_SOURCE_CODE_POS);
        }
    }
    plan.identifier = o.identifier.empty() ? InfoPlist::defaultIdentifier(plan.name) : o.identifier;
    if (!InfoPlist::isValidIdentifier(plan.identifier)) {
        fail("--identifier may hold only letters, digits, '.' and '-': " + plan.identifier,
             KV_SOURCE_CODE_POS);
    }
}

void checkFiles(const BundleOptions& o) {
    std::error_code ec;
    if (exists(o.launcher, "the launcher") && !isRegularFile(o.launcher)) {
        fail("launcher is not a regular file: " + o.launcher, KV_SOURCE_CODE_POS);
    }
    if (!exists(o.launcher, "the launcher")) {
        fail("launcher not found: " + o.launcher, KV_SOURCE_CODE_POS);
    }
    if ((fs::status(o.launcher, ec).permissions() & fs::perms::owner_exec) == fs::perms::none) {
        fail("launcher is not executable: " + o.launcher, KV_SOURCE_CODE_POS);
    }
    if (isRegularFile(o.runtime)) {
        fail("--runtime needs the Java runtime's home directory, not a file: " + o.runtime,
             KV_SOURCE_CODE_POS);
    }
    if (!exists(o.runtime, "the Java runtime home") || !isDirectory(o.runtime)) {
        fail("Java runtime home not found: " + o.runtime, KV_SOURCE_CODE_POS);
    }
    if (exists(o.output, "the output directory") && !isDirectory(o.output)) {
        fail("output directory is not a directory: " + o.output, KV_SOURCE_CODE_POS);
    }
    if (!o.splash.empty() && !isRegularFile(o.splash)) {
        fail("splash image not found: " + o.splash, KV_SOURCE_CODE_POS);
    }
    for (const std::vector<std::string>* list : {&o.classPath, &o.modulePath}) {
        for (const std::string& entry : *list) {
            if (entry.empty()) {
                fail("class and module path entries must not be empty", KV_SOURCE_CODE_POS);
            }
            if (entry.find(':') != std::string::npos) {
                fail("class and module path entries must not contain ':': " + entry,
                     KV_SOURCE_CODE_POS);
            }
        }
    }
}

// A link inside an input is copied as a link, so that a framework keeps its
// Versions/Current: it must stay inside the input and lead somewhere.
void checkLinks(const std::string& input) {
    const std::string root = BundleFiles::realPath(input, "the input");
    if (!isDirectory(root)) {
        return;
    }
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink()) {
            continue;
        }
        const std::string inside = it->path().string().substr(root.size() + 1);
        const std::string link = input + "/" + inside;
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        // Copied as it is, the link must lead where it leads now from inside
        // the copy: relative, and not up past the input's top.
        const fs::path lexical = (fs::path(inside).parent_path() / target).lexically_normal();
        if (target.is_absolute() || lexical.empty() || *lexical.begin() == "..") {
            fail("--input holds a link that leaves it: " + link + " -> " + target.string(),
                 KV_SOURCE_CODE_POS);
        }
        const fs::path resolved = fs::canonical(it->path(), linkError);
        if (linkError == std::errc::no_such_file_or_directory) {
            fail("--input holds a link that leads nowhere: " + link + " -> " + target.string(),
                 KV_SOURCE_CODE_POS);
        }
        if (linkError) {
            fail("cannot resolve the link " + link + " -> " + target.string() + ": " +
                     linkError.message(),
                 KV_SOURCE_CODE_POS);
        }
        if (!BundleFiles::isWithin(resolved.string(), root)) {
            fail("--input holds a link that leaves it: " + link + " -> " + target.string(),
                 KV_SOURCE_CODE_POS);
        }
    }
    if (ec) {
        fail("cannot list the files of the input " + input + ": " + ec.message(),
             KV_SOURCE_CODE_POS);
    }
}

void checkInputs(const BundleOptions& o, BundlePlan& plan) {
    std::vector<std::string> seen{plan.name + ".cfg", ".package"};
    for (std::string input : o.inputs) {
        if (!exists(input, "the input")) {
            fail("input not found: " + input, KV_SOURCE_CODE_POS);
        }
        // A trailing slash would name a directory's content, not the directory.
        while (input.size() > 1 && input.back() == '/') {
            input.pop_back();
        }
        const std::string base = BundleFiles::fileName(input);
        if (base.empty() || base == "." || base == "..") {
            fail("--input needs a named file or directory: " + input, KV_SOURCE_CODE_POS);
        }
        if (std::find(seen.begin(), seen.end(), base) != seen.end()) {
            fail(base + " would be in Contents/app twice (inputs, " + plan.name +
                     ".cfg and .package need distinct names)",
                 KV_SOURCE_CODE_POS);
        }
        seen.push_back(base);
        checkLinks(input);
        plan.inputs.push_back(input);
    }
    const std::string splashBase = BundleFiles::fileName(o.splash);
    if (!o.splash.empty() && std::find(seen.begin(), seen.end(), splashBase) != seen.end()) {
        fail("the splash image would overwrite the application file " + splashBase,
             KV_SOURCE_CODE_POS);
    }
}

void checkIconAndSigning(const BundleOptions& o, BundlePlan& plan) {
    if (!o.icon.empty() && isDirectory(o.icon)) {
        fail("--icon needs an .icns file, not a directory: " + o.icon, KV_SOURCE_CODE_POS);
    }
    if (!o.icon.empty() && !isRegularFile(o.icon)) {
        fail("icon not found: " + o.icon, KV_SOURCE_CODE_POS);
    }
    if (!o.icon.empty() && FileUtils::suffix(o.icon) != ".icns") {
        fail("--icon needs an .icns file: " + o.icon, KV_SOURCE_CODE_POS);
    }
    // An .icns image starts with its magic; a renamed PNG shows no icon.
    if (!o.icon.empty() && BundleFiles::readText(o.icon).compare(0, 4, "icns") != 0) {
        fail("--icon is no icns image (it does not start with \"icns\"): " + o.icon,
             KV_SOURCE_CODE_POS);
    }
    if (o.identity.empty()) {
        if (!o.entitlements.empty()) {
            fail("--entitlements needs --sign", KV_SOURCE_CODE_POS);
        }
        return;
    }
    plan.codesign = Subprocess::findOnPath("codesign");
    if (plan.codesign.empty()) {
        fail("--sign needs codesign, which is not on the PATH", KV_SOURCE_CODE_POS);
    }
    if (!o.entitlements.empty() && !isRegularFile(o.entitlements)) {
        fail("entitlements file not found: " + o.entitlements, KV_SOURCE_CODE_POS);
    }
}

void checkRuntime(const BundleOptions& o, BundlePlan& plan) {
    std::string home = BundleFiles::realPath(o.runtime, "the Java runtime home");
    // A macOS JDK bundle (name.jdk) keeps its home in Contents/Home.
    if (!isDirectory(home + "/lib") && isDirectory(home + "/Contents/Home/lib")) {
        home += "/Contents/Home";
    }
    plan.runtimeHome = home;
    if (exists(home + "/lib/libjli.dylib", "the runtime library") ||
        exists(home + "/lib/jli/libjli.dylib", "the runtime library")) {
        plan.copyRuntime = true;
    } else if (!exists(home + "/lib/libjli.so", "the runtime library")) {
        fail("no lib/libjli.dylib or lib/libjli.so in the Java runtime home: " + o.runtime,
             KV_SOURCE_CODE_POS);
    }
}

void checkTarget(const BundleOptions& o, const std::string& path) {
    if (isDirectory(path)) {
        fail(path + " is a directory", KV_SOURCE_CODE_POS);
    }
    if (existsAsIs(path) && !o.force) {
        fail(path + " already exists (use --force to replace it)", KV_SOURCE_CODE_POS);
    }
}

void checkOutput(const BundleOptions& o, BundlePlan& plan) {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(o.output, ec), ec);
    if (ec) {
        fail("cannot resolve the output directory " + o.output + ": " + ec.message(),
             KV_SOURCE_CODE_POS);
    }
    plan.outputDir = FileUtils::removeTrailingSlash(resolved.string());
    plan.target = plan.outputDir + "/" + plan.name + ".app";
    for (const std::string& input : plan.inputs) {
        if (isDirectory(input) &&
            BundleFiles::isWithin(plan.outputDir, BundleFiles::realPath(input, "the input"))) {
            fail("--output " + o.output + " is inside the input " + input +
                     ", which would then hold the bundle being made",
                 KV_SOURCE_CODE_POS);
        }
    }
    if (existsAsIs(plan.target) && !o.force) {
        fail(plan.target + " already exists (use --force to replace it)", KV_SOURCE_CODE_POS);
    }
    if (o.identity.empty() || !o.entitlements.empty()) {
        return;
    }
    plan.entitlementsTarget = plan.outputDir + "/" + plan.name + ".entitlements";
    checkTarget(o, plan.entitlementsTarget);
}

std::string xmlString(const std::string& text) {
    return "<string>" + InfoPlist::xmlEscape(text) + "</string>";
}

std::string stringValue(const std::string& xml) {
    const std::size_t open = xml.find('>');
    const std::size_t close = xml.rfind('<');
    return open < close && close != std::string::npos ? xml.substr(open + 1, close - open - 1)
                                                      : xml;
}

/// The version's first number, 0 when it starts with none.
int majorVersion(const std::string& xml) {
    const std::string prefix = "<string>";
    return xml.compare(0, prefix.size(), prefix) == 0 ? std::atoi(xml.c_str() + prefix.size()) : 0;
}

// The Finder opens the bundle by these keys, and the launcher runs on macOS
// 11 and later only.
void checkReplacedKeys(const BundlePlan& plan, const std::vector<PlistEntry>& theirs) {
    for (const PlistEntry& e : theirs) {
        const PlistXml* xml = std::get_if<PlistXml>(&e.value.value);
        const std::string text = xml ? xml->text : std::string();
        if (e.key == "CFBundleExecutable" && text != xmlString(plan.name)) {
            fail("--info-plist must not change CFBundleExecutable: the Finder would not find "
                 "the launcher Contents/MacOS/" + plan.name,
                 KV_SOURCE_CODE_POS);
        }
        if (e.key == "CFBundlePackageType" && text != xmlString("APPL")) {
            fail("--info-plist must not change CFBundlePackageType from APPL: the Finder "
                 "would not open the bundle as an application",
                 KV_SOURCE_CODE_POS);
        }
        if (e.key == "LSMinimumSystemVersion" && majorVersion(text) < 11) {
            fail("--info-plist must not set LSMinimumSystemVersion below 11, the oldest macOS "
                 "the launcher runs on: " +
                     stringValue(text),
                 KV_SOURCE_CODE_POS);
        }
    }
}

// Read before anything is written, so that a bad value leaves nothing behind.
void checkDeclarations(const BundleOptions& o, BundlePlan& plan, const Warn& warn) {
    const InfoPlist::Declarations declared{o.fileTypes, o.urlSchemes, o.usages,
                                           o.category,  o.copyright,  o.agent};
    plan.infoPlist = InfoPlist::bundleEntries(plan.name, plan.identifier, o.version,
                                              o.build.empty() ? o.version : o.build, o.minMacos,
                                              o.icon.empty() ? "" : BundleFiles::fileName(o.icon));
    const std::vector<PlistEntry> more = InfoPlist::declarationEntries(declared, plan.identifier);
    plan.infoPlist.insert(plan.infoPlist.end(), more.begin(), more.end());
    if (o.infoPlist.empty()) {
        return;
    }
    std::vector<PlistEntry> theirs;
    try {
        theirs = PlistReader::topLevel(BundleFiles::readText(o.infoPlist));
    } catch (const KvErrorBase& e) {
        fail("cannot read --info-plist " + o.infoPlist + ": " + e.rawMessage(), KV_SOURCE_CODE_POS);
    }
    checkReplacedKeys(plan, theirs);
    plan.infoPlist = InfoPlist::merge(plan.infoPlist, theirs, [&](const std::string& key) {
        warn("--info-plist replaces " + key);
    });
}

// The hardened runtime denies what a usage description asks for unless the
// executable is entitled to it, so the user's file should say so.
void checkGivenEntitlements(const BundleOptions& o, const BundlePlan& plan, const Warn& warn) {
    if (o.entitlements.empty()) {
        return;
    }
    const std::vector<PlistEntry> given = readEntitlements(o.entitlements);
    const std::string jit = "com.apple.security.cs.allow-jit";
    const bool jitGranted = std::any_of(given.begin(), given.end(), [&](const PlistEntry& e) {
        const PlistXml* xml = std::get_if<PlistXml>(&e.value.value);
        return e.key == jit && xml && xml->text == "<true/>";
    });
    if (!jitGranted) {
        warn(o.entitlements + " does not grant " + jit +
             ", without which the Java runtime cannot run under the hardened runtime");
    }
    for (const PlistEntry& needed : InfoPlist::usageEntitlements(plan.infoPlist)) {
        const bool granted = std::any_of(given.begin(), given.end(),
                                         [&](const PlistEntry& e) { return e.key == needed.key; });
        if (!granted) {
            warn(o.entitlements + " does not grant " + needed.key +
                 ", which the usage descriptions need");
        }
    }
}

/// Where a download goes, NAME-VERSION.SUFFIX beside the bundle unless the
/// user named it; the directory of a name the user gave must exist.
std::string artifactTarget(const BundleOptions& o, const BundlePlan& plan,
                           const std::string& given, const std::string& suffix) {
    std::error_code ec;
    const std::string named =
        given.empty() ? given : fs::absolute(given, ec).lexically_normal().string();
    const std::string target =
        ToolDefaults::downloadPath(plan.outputDir, plan.name, o.version, named, suffix);
    checkTarget(o, target);
    // The output directory is made when missing; a directory the user named is not.
    if (FileUtils::dirname(target) != plan.outputDir && !isDirectory(FileUtils::dirname(target))) {
        fail("no directory for " + target, KV_SOURCE_CODE_POS);
    }
    return target;
}

void checkArtifacts(const BundleOptions& o, BundlePlan& plan) {
    if (o.zip) {
        if (Subprocess::findOnPath("ditto").empty() && Subprocess::findOnPath("zip").empty()) {
            fail("--zip needs ditto or zip, neither of which is on the PATH", KV_SOURCE_CODE_POS);
        }
        plan.zipTarget = artifactTarget(o, plan, *o.zip, ".zip");
    }
    if (o.dmg) {
        plan.hdiutil = Subprocess::findOnPath("hdiutil");
        if (plan.hdiutil.empty()) {
            fail("--dmg needs hdiutil, which is not on the PATH (it comes with macOS)",
                 KV_SOURCE_CODE_POS);
        }
        plan.dmgTarget = artifactTarget(o, plan, *o.dmg, ".dmg");
    }
    if (o.notarize || Notarization::hasCredentials(o)) {
        plan.notary = Notarization::planFor(o);
    }
}

void checkLinking(const BundleOptions& o, BundlePlan& plan) {
    if (o.jlink) {
        plan.jlink = RuntimeLink::plan(plan.runtimeHome, o.addModules, o.jmods);
    } else if (o.addModules) {
        fail("--add-modules needs --jlink", KV_SOURCE_CODE_POS);
    } else if (!o.jmods.empty()) {
        fail("--jmods needs --jlink", KV_SOURCE_CODE_POS);
    } else if (o.jlinkMinimal) {
        fail("--jlink-minimal needs --jlink", KV_SOURCE_CODE_POS);
    }
}

// An absolute path would name a file of the build machine: one inside an
// input names the input's copy in the bundle, and any other is refused.
std::string bundledPath(const BundlePlan& plan, const char* option, const std::string& given,
                        const Warn& warn) {
    if (given.empty() || given[0] != '/') {
        return given;
    }
    if (!exists(given, std::string(option) + " path")) {
        return given; // refused as not found
    }
    const std::string real = BundleFiles::realPath(given, option);
    for (const std::string& input : plan.inputs) {
        const std::string home = BundleFiles::realPath(input, "the input");
        if (BundleFiles::isWithin(real, home)) {
            const std::string rel = BundleFiles::fileName(input) + real.substr(home.size());
            warn(std::string(option) + " " + given + " is written as " + rel +
                 ", its copy in the bundle");
            return rel;
        }
    }
    fail(std::string(option) + " " + given +
             " is outside every --input: the bundle would need this file of the build machine "
             "(give it with --input and name it relative to Contents/app)",
         KV_SOURCE_CODE_POS);
}

void checkAppPaths(const BundleOptions& o, BundlePlan& plan, const Warn& warn) {
    if (!o.mainJar.empty()) {
        plan.mainJar = AppPaths::entry(o, plan, "main jar",
                                       bundledPath(plan, "--main-jar", o.mainJar, warn));
    }
    for (const std::string& entry : o.classPath) {
        plan.classPath.push_back(AppPaths::entry(
            o, plan, "class path entry", bundledPath(plan, "--class-path", entry, warn)));
    }
    for (const std::string& entry : o.modulePath) {
        plan.modulePath.push_back(AppPaths::entry(
            o, plan, "module path entry", bundledPath(plan, "--module-path", entry, warn)));
    }
}

} // namespace

namespace BundleChecks {

std::vector<PlistEntry> readEntitlements(const std::string& path) {
    try {
        return PlistReader::topLevel(BundleFiles::readText(path));
    } catch (const KvErrorBase& e) {
        fail("cannot read --entitlements " + path + ": " + e.rawMessage(), KV_SOURCE_CODE_POS);
    }
}

BundlePlan check(const BundleOptions& o, const Warn& warn) {
    BundlePlan plan;
    checkValues(o, plan);
    checkFiles(o);
    checkInputs(o, plan);
    checkIconAndSigning(o, plan);
    checkRuntime(o, plan);
    checkOutput(o, plan);
    checkDeclarations(o, plan, warn);
    checkGivenEntitlements(o, plan, warn);
    checkArtifacts(o, plan);
    checkLinking(o, plan);
    ToolDefaults::checkSameSystem(o.launcher, plan.runtimeHome,
                                  plan.jlink ? plan.jlink->otherPlatform : "");
    checkAppPaths(o, plan, warn);
    AppPaths::checkMain(o, plan, warn);
    return plan;
}

} // namespace BundleChecks
