#include "Bundler.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "BundleFiles.h"
#include "BundleSigner.h"
#include "Distribution.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "InfoPlist.h"
#include "JarFile.h"
#include "ModulePath.h"
#include "Notarization.h"
#include "PlistReader.h"
#include "RuntimeLink.h"
#include "Subprocess.h"
#include "ToolDefaults.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw makeException(message, KV_SOURCE_CODE_POS);
}

using BundleFiles::TempPath;

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        fail("cannot write " + path);
    }
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        fail("cannot open " + path);
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        fail("cannot read " + path);
    }
    return text;
}

/// The real path of an existing file or directory; throws "cannot resolve
/// <what> <path>: <reason>" when a link cycle or the like stands in the way.
std::string realPath(const std::string& path, const std::string& what) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    if (ec) {
        fail("cannot resolve " + what + " " + path + ": " + ec.message());
    }
    return resolved.string();
}

/// Whether a path exists, links followed; a link cycle is an error, not "no".
bool exists(const std::string& path, const std::string& what) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        fail("cannot resolve " + what + " " + path + ": " + ec.message());
    }
    return fs::exists(st);
}

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    return path.empty() ? path : fs::absolute(path, ec).lexically_normal().string();
}

void copyTree(const std::string& from, const std::string& to, fs::copy_options how) {
    std::error_code ec;
    fs::copy(from, to, how | fs::copy_options::recursive, ec);
    if (ec) {
        fail("cannot copy " + from + ": " + ec.message());
    }
}

void makeDirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        fail("cannot create the directory " + path + ": " + ec.message());
    }
}

void setMode(const std::string& path, fs::perms mode) {
    std::error_code ec;
    fs::permissions(path, mode, ec);
    if (ec) {
        fail("cannot set the permissions of " + path + ": " + ec.message());
    }
}

const fs::perms mode755 = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
const fs::perms mode644 = fs::perms::owner_read | fs::perms::owner_write |
                          fs::perms::group_read | fs::perms::others_read;

/// One application path as given on the command line and where it is found
/// before the bundle exists.
struct AppEntry {
    std::string given;
    std::string source; ///< the file or directory it will be a copy of
};

std::string classFileOf(const std::string& className) {
    return tstrings::replace(className, ".", "/") + ".class";
}

// Relative paths are written against the launcher's $APPDIR.
std::string cfgValue(const AppEntry& entry) {
    return entry.given[0] == '/' ? entry.given : "$APPDIR/" + entry.given;
}

// Where the JDK's tools find the application's paths in the bundle being built.
std::vector<AppPath> stagedPaths(const std::vector<AppEntry>& entries, const std::string& appDir) {
    std::vector<AppPath> paths;
    for (const AppEntry& e : entries) {
        paths.push_back({e.given[0] == '/' ? e.given : appDir + "/" + e.given, e.given});
    }
    return paths;
}

} // namespace

namespace Bundler {

/// One run of the tool: the checks, then the steps that write the bundle.
class Bundle {
public:
    Bundle(const BundleOptions& options, Progress& progress)
        : o(options), progress(progress),
          warn([&progress](const std::string& line) { progress.warn(line); }) {}

    std::string make();

private:
    void checkOptions();
    void checkName();
    void checkFiles();
    void checkInputs();
    void checkIconAndSigning();
    void checkRuntime();
    void checkOutput();
    void checkDeclarations();
    void checkGivenEntitlements();
    void checkArtifacts();
    void checkArtifact(const std::string& path);
    AppEntry appEntry(const std::string& what, const std::string& given) const;
    std::string findSource(const std::string& rel) const;
    void checkMainClass();
    void checkMainModule();
    bool holdsClass(const AppEntry& entry, const std::string& classFile) const;
    void checkManifestClassPath(const AppEntry& jar);

    void stage();
    void copyApplication();
    void writeConfiguration();
    void placeRuntime();
    void signBundle();
    void notarizeBundle();
    void makeArtifacts();
    void moveIntoPlace();
    void moveArtifact(const std::string& from, const std::string& to);

    const BundleOptions& o;
    Progress& progress;
    const Bundler::Warn warn;
    std::string name;
    std::string identifier;
    std::vector<std::string> inputs; // without trailing slashes
    std::string runtimeHome;
    bool copyRuntime = false;
    std::string outputDir;
    std::string target;
    std::string entitlementsTarget;
    std::optional<JlinkPlan> jlink;
    std::optional<AppEntry> mainJar;
    std::vector<AppEntry> classPath;
    std::vector<AppEntry> modulePath;
    std::string codesign;
    std::string hdiutil;
    std::vector<PlistEntry> infoPlist;
    std::string zipTarget;
    std::string dmgTarget;
    std::optional<Notarization::Notary> notary;

    TempPath staging;
    TempPath zipStaging;
    TempPath dmgStaging;
    TempPath entitlementsFile;
    std::string bundleDir;
    std::string contents;
    std::string appDir;
    std::string entitlements;
};

std::string Bundle::make() {
    checkOptions();
    checkMainClass();
    stage();
    copyApplication();
    writeConfiguration();
    placeRuntime();
    signBundle();
    notarizeBundle();
    makeArtifacts();
    moveIntoPlace();
    return target;
}

void Bundle::checkOptions() {
    if (o.launcher.empty()) {
        fail("missing --launcher");
    }
    if (o.name.empty()) {
        fail("missing --name");
    }
    if (o.runtime.empty()) {
        fail("missing --runtime");
    }
    checkName();
    const int mains = !o.mainJar.empty() + !o.mainClass.empty() + !o.mainModule.empty();
    if (mains != 1) {
        fail("give exactly one of --main-jar, --main-class and --main-module");
    }
    if (o.package && !FileUtils::isPlainName(*o.package)) {
        fail(o.package->empty() ? "--package must not be empty"
                                : "--package must be a plain name: " + *o.package);
    }
    if (o.version.empty()) {
        fail("--version must not be empty");
    }
    if (!o.build.empty() && !InfoPlist::isVersionNumber(o.build)) {
        fail("--build must be one to three numbers separated by periods: " + o.build);
    }
    if (!InfoPlist::isVersionNumber(o.minMacos) ||
        InfoPlist::compareVersions(o.minMacos, "11.0") < 0) {
        fail("--min-macos must be 11.0 or later, the launcher's floor: " + o.minMacos);
    }
    identifier = o.identifier.empty() ? InfoPlist::defaultIdentifier(name) : o.identifier;
    if (!InfoPlist::isValidIdentifier(identifier)) {
        fail("--identifier may hold only letters, digits, '.' and '-': " + identifier);
    }
    checkFiles();
    checkInputs();
    checkIconAndSigning();
    checkRuntime();
    checkOutput();
    checkDeclarations();
    checkGivenEntitlements();
    checkArtifacts();
    if (o.notarize || Notarization::hasCredentials(o)) {
        notary.emplace(Notarization::planFor(o));
    }
    if (o.jlink) {
        jlink = RuntimeLink::plan(runtimeHome, o.addModules, o.jmods);
    } else if (o.addModules) {
        fail("--add-modules needs --jlink");
    } else if (!o.jmods.empty()) {
        fail("--jmods needs --jlink");
    }
    ToolDefaults::checkSameSystem(o.launcher, runtimeHome, jlink ? jlink->otherPlatform : "");
    if (!o.mainJar.empty()) {
        mainJar = appEntry("main jar", o.mainJar);
    }
    for (const std::string& entry : o.classPath) {
        classPath.push_back(appEntry("class path entry", entry));
    }
    for (const std::string& entry : o.modulePath) {
        modulePath.push_back(appEntry("module path entry", entry));
    }
}

void Bundle::checkName() {
    // The launcher reads a backslash as a path separator: such a bundle could
    // never find its configuration.
    if (o.name.find('\\') != std::string::npos) {
        fail("--name must not contain a backslash: " + o.name);
    }
    name = tstrings::endsWith(o.name, ".app") ? o.name.substr(0, o.name.size() - 4) : o.name;
    // NAME.app would otherwise become NAME.app.app.
    if (!FileUtils::isPlainName(o.name) || !FileUtils::isPlainName(name)) {
        fail("--name must be a plain file name: " + o.name);
    }
}

void Bundle::checkFiles() {
    std::error_code ec;
    if (exists(o.launcher, "the launcher") && !fs::is_regular_file(o.launcher, ec)) {
        fail("launcher is not a regular file: " + o.launcher);
    }
    if (!exists(o.launcher, "the launcher")) {
        fail("launcher not found: " + o.launcher);
    }
    if ((fs::status(o.launcher, ec).permissions() & fs::perms::owner_exec) == fs::perms::none) {
        fail("launcher is not executable: " + o.launcher);
    }
    if (!exists(o.runtime, "the Java runtime home") || !isDirectory(o.runtime)) {
        fail("Java runtime home not found: " + o.runtime);
    }
    if (exists(o.output, "the output directory") && !isDirectory(o.output)) {
        fail("output directory is not a directory: " + o.output);
    }
    if (!o.splash.empty() && !fs::is_regular_file(o.splash, ec)) {
        fail("splash image not found: " + o.splash);
    }
    for (const std::vector<std::string>* list : {&o.classPath, &o.modulePath}) {
        for (const std::string& entry : *list) {
            if (entry.empty()) {
                fail("class and module path entries must not be empty");
            }
            if (entry.find(':') != std::string::npos) {
                fail("class and module path entries must not contain ':': " + entry);
            }
        }
    }
}

void Bundle::checkInputs() {
    std::vector<std::string> seen{name + ".cfg", ".package"};
    for (std::string input : o.inputs) {
        if (!exists(input, "the input")) {
            fail("input not found: " + input);
        }
        // A trailing slash would name a directory's content, not the directory.
        while (input.size() > 1 && input.back() == '/') {
            input.pop_back();
        }
        const std::string base = FileUtils::basename(input);
        if (!FileUtils::isPlainName(base)) {
            fail("--input needs a named file or directory: " + input);
        }
        if (std::find(seen.begin(), seen.end(), base) != seen.end()) {
            fail(base + " would be in Contents/app twice (inputs, " + name +
                 ".cfg and .package need distinct names)");
        }
        seen.push_back(base);
        inputs.push_back(input);
    }
    const std::string splashBase = FileUtils::basename(o.splash);
    if (!o.splash.empty() && std::find(seen.begin(), seen.end(), splashBase) != seen.end()) {
        fail("the splash image would overwrite the application file " + splashBase);
    }
}

void Bundle::checkIconAndSigning() {
    std::error_code ec;
    if (!o.icon.empty() && !fs::is_regular_file(o.icon, ec)) {
        fail("icon not found: " + o.icon);
    }
    if (!o.icon.empty() && FileUtils::suffix(o.icon) != ".icns") {
        fail("--icon needs an .icns file: " + o.icon);
    }
    if (o.identity.empty()) {
        if (!o.entitlements.empty()) {
            fail("--entitlements needs --sign");
        }
        return;
    }
    codesign = Subprocess::findOnPath("codesign");
    if (codesign.empty()) {
        fail("--sign needs codesign, which is not on the PATH");
    }
    if (!o.entitlements.empty() && !fs::is_regular_file(o.entitlements, ec)) {
        fail("entitlements file not found: " + o.entitlements);
    }
}

void Bundle::checkRuntime() {
    runtimeHome = realPath(o.runtime, "the Java runtime home");
    // A macOS JDK bundle (name.jdk) keeps its home in Contents/Home.
    if (!isDirectory(runtimeHome + "/lib") && isDirectory(runtimeHome + "/Contents/Home/lib")) {
        runtimeHome += "/Contents/Home";
    }
    std::error_code ec;
    if (fs::exists(runtimeHome + "/lib/libjli.dylib", ec) ||
        fs::exists(runtimeHome + "/lib/jli/libjli.dylib", ec)) {
        copyRuntime = true;
    } else if (!fs::exists(runtimeHome + "/lib/libjli.so", ec)) {
        fail("no lib/libjli.dylib or lib/libjli.so in the Java runtime home: " + o.runtime);
    }
}

void Bundle::checkOutput() {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(o.output, ec), ec);
    if (ec) {
        fail("cannot resolve the output directory " + o.output + ": " + ec.message());
    }
    outputDir = FileUtils::removeTrailingSlash(resolved.string());
    target = outputDir + "/" + name + ".app";
    if (fs::exists(fs::symlink_status(target, ec)) && !o.force) {
        fail(target + " already exists (use --force to replace it)");
    }
    if (o.identity.empty() || !o.entitlements.empty()) {
        return;
    }
    entitlementsTarget = outputDir + "/" + name + ".entitlements";
    if (isDirectory(entitlementsTarget)) {
        fail(entitlementsTarget + " is a directory");
    }
    if (fs::exists(fs::symlink_status(entitlementsTarget, ec)) && !o.force) {
        fail(entitlementsTarget + " already exists (use --force to replace it)");
    }
}

// Read before anything is written, so that a bad value leaves nothing behind.
void Bundle::checkDeclarations() {
    const InfoPlist::Declarations declared{o.fileTypes, o.urlSchemes, o.usages,
                                           o.category,  o.copyright,  o.agent};
    infoPlist = InfoPlist::bundleEntries(name, identifier, o.version,
                                         o.build.empty() ? o.version : o.build, o.minMacos,
                                         o.icon.empty() ? "" : FileUtils::basename(o.icon));
    const std::vector<PlistEntry> more = InfoPlist::declarationEntries(declared, identifier);
    infoPlist.insert(infoPlist.end(), more.begin(), more.end());
    if (o.infoPlist.empty()) {
        return;
    }
    std::vector<PlistEntry> theirs;
    try {
        theirs = PlistReader::topLevel(readText(o.infoPlist));
    } catch (const KvErrorBase& e) {
        fail("cannot read --info-plist " + o.infoPlist + ": " + e.rawMessage());
    }
    infoPlist = InfoPlist::merge(infoPlist, theirs, [this](const std::string& key) {
        warn("--info-plist replaces " + key);
    });
}

// The hardened runtime denies what a usage description asks for unless the
// executable is entitled to it, so the user's file should say so.
void Bundle::checkGivenEntitlements() {
    if (o.entitlements.empty()) {
        return;
    }
    std::vector<PlistEntry> given;
    try {
        given = PlistReader::topLevel(readText(o.entitlements));
    } catch (const KvErrorBase&) {
        return; // codesign judges a file it cannot read
    }
    for (const PlistEntry& needed : InfoPlist::usageEntitlements(infoPlist)) {
        const bool granted = std::any_of(given.begin(), given.end(), [&](const PlistEntry& e) {
            return e.key == needed.key;
        });
        if (!granted) {
            warn(o.entitlements + " does not grant " + needed.key +
                 ", which the usage descriptions need");
        }
    }
}

void Bundle::checkArtifacts() {
    if (o.zip) {
        if (Subprocess::findOnPath("ditto").empty() && Subprocess::findOnPath("zip").empty()) {
            fail("--zip needs ditto or zip, neither of which is on the PATH");
        }
        zipTarget =
            ToolDefaults::downloadPath(outputDir, name, o.version, absolute(*o.zip), ".zip");
        checkArtifact(zipTarget);
    }
    if (o.dmg) {
        hdiutil = Subprocess::findOnPath("hdiutil");
        if (hdiutil.empty()) {
            fail("--dmg needs hdiutil, which is not on the PATH (it comes with macOS)");
        }
        dmgTarget =
            ToolDefaults::downloadPath(outputDir, name, o.version, absolute(*o.dmg), ".dmg");
        checkArtifact(dmgTarget);
    }
}

void Bundle::checkArtifact(const std::string& path) {
    std::error_code ec;
    if (isDirectory(path)) {
        fail(path + " is a directory");
    }
    if (fs::exists(fs::symlink_status(path, ec)) && !o.force) {
        fail(path + " already exists (use --force to replace it)");
    }
    // The output directory is made when missing; a directory the user named is not.
    if (FileUtils::dirname(path) != outputDir && !isDirectory(FileUtils::dirname(path))) {
        fail("no directory for " + path);
    }
}

AppEntry Bundle::appEntry(const std::string& what, const std::string& given) const {
    if (!given.empty() && given[0] == '/') {
        if (!exists(given, "the " + what)) {
            fail(what + " not found: " + given);
        }
        return AppEntry{given, given};
    }
    const std::string source = findSource(given);
    if (source.empty() || !exists(source, "the " + what)) {
        fail(what + " not found among the application files: " + given);
    }
    return AppEntry{given, source};
}

/// Where a path relative to Contents/app will be copied from: the input or
/// splash image of its first component. Empty when none will be there.
std::string Bundle::findSource(const std::string& rel) const {
    const fs::path normal = fs::path(rel).lexically_normal();
    if (normal.empty() || *normal.begin() == "..") {
        return std::string();
    }
    const std::string first = normal.begin()->string();
    fs::path rest;
    for (auto part = std::next(normal.begin()); part != normal.end(); ++part) {
        rest /= *part;
    }
    for (const std::string& input : inputs) {
        if (FileUtils::basename(input) == first) {
            return rest.empty() ? input : (fs::path(input) / rest).string();
        }
    }
    if (!o.splash.empty() && FileUtils::basename(o.splash) == first && rest.empty()) {
        return o.splash;
    }
    return std::string();
}

void Bundle::checkMainClass() {
    if (!o.mainModule.empty()) {
        checkMainModule();
        return;
    }
    std::string mainClass = o.mainClass;
    std::vector<AppEntry> searched = classPath;
    if (mainJar) {
        const std::string manifest = JarFile(mainJar->source).manifest();
        mainClass = Manifest::attribute(manifest, "Main-Class");
        if (mainClass.empty()) {
            fail("the main jar " + mainJar->given + " names no Main-Class in its manifest");
        }
        // java -jar takes its class path from the jar alone.
        searched = {*mainJar};
        const std::string dir = FileUtils::dirname(mainJar->given);
        for (const std::string& entry : Manifest::classPath(manifest)) {
            const std::string rel = dir.empty() ? entry : dir + "/" + entry;
            const std::string source = findSource(rel);
            if (!source.empty() && exists(source, "the manifest class path entry")) {
                searched.push_back(AppEntry{rel, source});
            }
        }
    }
    for (const AppEntry& entry : classPath) {
        checkManifestClassPath(entry);
    }
    if (mainJar) {
        checkManifestClassPath(*mainJar);
    }
    const std::string classFile = classFileOf(mainClass);
    for (const AppEntry& entry : searched) {
        if (holdsClass(entry, classFile)) {
            return;
        }
    }
    std::vector<std::string> names;
    for (const AppEntry& entry : searched) {
        names.push_back(entry.given);
    }
    fail("the main class " + mainClass + " is not in " +
         (names.empty() ? std::string("the class path, which is empty")
                        : tstrings::join(names.begin(), names.end(), ", ")));
}

void Bundle::checkMainModule() {
    const std::string::size_type slash = o.mainModule.find('/');
    const std::string name = o.mainModule.substr(0, slash);
    for (const AppEntry& entry : modulePath) {
        // The runtime takes the first module of a name on the module path.
        for (const FoundModule& found : ModulePath::explicitModules(entry.given, entry.source)) {
            if (found.module.name != name) {
                continue;
            }
            const std::string mainClass = slash == std::string::npos
                                              ? found.module.mainClass
                                              : o.mainModule.substr(slash + 1);
            if (mainClass.empty()) {
                fail("the module " + name + " in " + found.given +
                     " names no main class: give one as --main-module " + name + "/CLASS");
            }
            if (!holdsClass(AppEntry{found.given, found.source}, classFileOf(mainClass))) {
                fail("the main class " + mainClass + " is not in the module " + name + " in " +
                     found.given);
            }
            return;
        }
    }
    // Not one of the application's explicit modules: the runtime's own or an
    // automatic one, which only the runtime resolves.
}

bool Bundle::holdsClass(const AppEntry& entry, const std::string& classFile) const {
    if (isDirectory(entry.source)) {
        std::error_code ec;
        return fs::is_regular_file(fs::path(entry.source) / classFile, ec);
    }
    const JarFile jar(entry.source);
    const std::vector<std::string> names = jar.names();
    return jar.contains(classFile) ||
           std::any_of(names.begin(), names.end(), [&](const std::string& n) {
               return ModulePath::versionedEntry(n) == classFile;
           });
}

/// Warns of a jar in the bundle whose manifest reaches outside it.
void Bundle::checkManifestClassPath(const AppEntry& jar) {
    if (jar.given[0] == '/' || isDirectory(jar.source)) {
        return;
    }
    std::string manifest;
    try {
        manifest = JarFile(jar.source).manifest();
    } catch (const KvErrorBase&) {
        return; // The Java runtime skips a jar it cannot read; so does this check.
    }
    // Contents/app lies two levels below the bundle's root.
    const fs::path inBundle = fs::path("Contents/app") / fs::path(jar.given).parent_path();
    for (const std::string& entry : Manifest::classPath(manifest)) {
        const fs::path resolved = (inBundle / entry).lexically_normal();
        const bool url = entry.find(':') != std::string::npos;
        if (url || entry[0] == '/' || resolved.empty() || *resolved.begin() == "..") {
            warn("the manifest Class-Path of " + jar.given + " points outside the bundle: " +
                 entry);
        }
    }
}

void Bundle::stage() {
    makeDirs(outputDir);
    // Everything is built under a hidden name beside the target and renamed
    // into place at the end, so no run leaves a bundle that looks whole
    // before it is.
    staging.reset(BundleFiles::makeUniqueDir(outputDir + "/." + name + ".app."));
    // The bundle has its final name inside the hidden directory, so that it
    // is signed as NAME.app.
    bundleDir = staging.get() + "/" + name + ".app";
    contents = bundleDir + "/Contents";
    appDir = contents + "/app";
    makeDirs(contents + "/MacOS");
    makeDirs(appDir);
    setMode(bundleDir, mode755);
}

void Bundle::copyApplication() {
    const std::string launcher = contents + "/MacOS/" + name;
    std::error_code ec;
    fs::copy_file(o.launcher, launcher, ec);
    if (ec) {
        fail("cannot copy the launcher " + o.launcher + ": " + ec.message());
    }
    setMode(launcher, mode755);
    // Links are followed: the bundle must not point back into the build tree.
    for (const std::string& input : inputs) {
        copyTree(input, appDir + "/" + FileUtils::basename(input), fs::copy_options::none);
    }
    if (!o.splash.empty()) {
        copyTree(o.splash, appDir + "/" + FileUtils::basename(o.splash), fs::copy_options::none);
    }
    if (!o.icon.empty()) {
        makeDirs(contents + "/Resources");
        copyTree(o.icon, contents + "/Resources/" + FileUtils::basename(o.icon),
                 fs::copy_options::none);
    }
}

void Bundle::writeConfiguration() {
    std::vector<std::string> cp;
    std::vector<std::string> mp;
    std::transform(classPath.begin(), classPath.end(), std::back_inserter(cp), cfgValue);
    std::transform(modulePath.begin(), modulePath.end(), std::back_inserter(mp), cfgValue);
    writeText(appDir + "/" + name + ".cfg",
              Bundler::cfgText(o, cp, mp, mainJar ? cfgValue(*mainJar) : std::string()));
    if (o.package) {
        writeText(appDir + "/.package", *o.package + "\n");
    }
    writeText(contents + "/Info.plist", InfoPlist::plistText(infoPlist));
}

void Bundle::placeRuntime() {
    const std::string home = contents + "/runtime/Contents/Home";
    makeDirs(contents + "/runtime/Contents");
    if (jlink) {
        std::vector<AppEntry> roots = classPath;
        if (mainJar) {
            roots.insert(roots.begin(), *mainJar);
        }
        std::string modules;
        if (jlink->addModules) {
            modules = *jlink->addModules;
        } else {
            Progress::Step step = progress.step("Finding the modules the application needs");
            modules = RuntimeLink::applicationModules(*jlink, stagedPaths(roots, appDir),
                                                      stagedPaths(modulePath, appDir),
                                                      !o.splash.empty());
            step.done();
        }
        const std::size_t count = std::count(modules.begin(), modules.end(), ',') + 1;
        Progress::Step step = progress.step("Linking a runtime of " + std::to_string(count) +
                                            (count == 1 ? " module" : " modules"));
        RuntimeLink::link(*jlink, modules, home, warn);
        step.done();
        return;
    }
    if (copyRuntime) {
        Progress::Step step = progress.step("Copying the runtime");
        copyTree(runtimeHome, home, fs::copy_options::copy_symlinks);
        step.done();
        return;
    }
    // The runtime finds its home from its library's real path, so one link to
    // the library stands in for a whole copied runtime.
    makeDirs(home + "/lib");
    std::error_code ec;
    fs::create_symlink(realPath(runtimeHome + "/lib/libjli.so", "the runtime library"),
                       home + "/lib/libjli.dylib", ec);
    if (ec) {
        fail("cannot link the runtime library into " + home + ": " + ec.message());
    }
}

// Nested code is signed before what holds it: the bundle's seal covers the
// signatures inside it, so signing outside first would break verification.
void Bundle::signBundle() {
    if (o.identity.empty()) {
        return;
    }
    entitlements = o.entitlements;
    if (entitlements.empty()) {
        entitlementsFile.reset(BundleFiles::makeUniqueFile(outputDir + "/." + name + ".entitlements."));
        entitlements = entitlementsFile.get();
        std::vector<PlistEntry> granted = InfoPlist::javaEntitlements();
        const std::vector<PlistEntry> usage = InfoPlist::usageEntitlements(infoPlist);
        granted.insert(granted.end(), usage.begin(), usage.end());
        writeText(entitlements, InfoPlist::plistText(granted));
        setMode(entitlements, mode644);
    }
    Progress::Step step = progress.step("Signing " + name + ".app");
    BundleSigner::signBundle({codesign, o.identity, entitlements}, bundleDir, target);
    step.done();
}

// Before the downloads are made, so that they hold the stapled bundle.
void Bundle::notarizeBundle() {
    if (notary) {
        Notarization::notarizeApp(*notary, progress, bundleDir, target);
    }
}

// Made in the staging directory, so that they appear only with the bundle.
void Bundle::makeArtifacts() {
    if (o.zip) {
        zipStaging.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(zipTarget) + "/.zip."));
        Progress::Step step = progress.step("Writing " + FileUtils::basename(zipTarget));
        Distribution::makeZip(bundleDir, zipStaging.get() + "/" + FileUtils::basename(zipTarget));
        step.done();
    }
    if (o.dmg) {
        dmgStaging.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(dmgTarget) + "/.dmg."));
        const std::string image = dmgStaging.get() + "/" + FileUtils::basename(dmgTarget);
        Progress::Step step = progress.step("Writing " + FileUtils::basename(dmgTarget));
        Distribution::makeImage(hdiutil, bundleDir, image);
        if (!o.identity.empty()) {
            BundleSigner::signImage({codesign, o.identity, entitlements}, image, dmgTarget);
        }
        step.done();
        if (notary) {
            Notarization::submit(*notary, progress, image, FileUtils::basename(dmgTarget));
            Notarization::staple(*notary, progress, image, dmgTarget);
        }
    }
}

void Bundle::moveArtifact(const std::string& from, const std::string& to) {
    if (const int error = BundleFiles::renamePath(from, to)) {
        fail("cannot move " + to + " into place: " + BundleFiles::errorText(error));
    }
}

void Bundle::moveIntoPlace() {
    TempPath old;
    std::error_code ec;
    if (o.force && fs::exists(fs::symlink_status(target, ec))) {
        old.reset(BundleFiles::makeUniqueDir(outputDir + "/." + name + ".app.old."));
        if (const int error = BundleFiles::renamePath(target, old.get() + "/" + name + ".app")) {
            fail("cannot move the existing " + target + " aside: " + BundleFiles::errorText(error));
        }
    }
    // One rename: of two runs into one place, the second fails here rather
    // than nest its bundle in the first one's, as moving into a directory would.
    if (const int error = BundleFiles::renamePath(bundleDir, target)) {
        if (!old.get().empty()) {
            // Put the replaced bundle back rather than lose it.
            BundleFiles::renamePath(old.get() + "/" + name + ".app", target);
        }
        if (error == EEXIST || error == ENOTEMPTY || error == ENOTDIR) {
            fail(target + " already exists (use --force to replace it)");
        }
        fail("cannot move the bundle into place: " + target + ": " + BundleFiles::errorText(error));
    }
    if (!entitlementsTarget.empty()) {
        if (const int error = BundleFiles::renamePath(entitlementsFile.get(), entitlementsTarget)) {
            fail("cannot write the entitlements beside the bundle: " + entitlementsTarget + ": " +
                 BundleFiles::errorText(error));
        }
        entitlementsFile.release();
    }
    if (o.zip) {
        moveArtifact(zipStaging.get() + "/" + FileUtils::basename(zipTarget), zipTarget);
    }
    if (o.dmg) {
        moveArtifact(dmgStaging.get() + "/" + FileUtils::basename(dmgTarget), dmgTarget);
    }
}

std::string makeBundle(const BundleOptions& options, Progress& progress) {
    return Bundle(options, progress).make();
}

std::string signExisting(const BundleOptions& o, Progress& progress) {
    const std::string bundle = FileUtils::removeTrailingSlash(o.bundle);
    if (!tstrings::endsWith(bundle, ".app") || !isDirectory(bundle + "/Contents")) {
        fail("not a bundle (NAME.app holding Contents): " + o.bundle);
    }
    if (o.identity.empty()) {
        fail("sign needs --sign IDENTITY");
    }
    const std::string codesign = Subprocess::findOnPath("codesign");
    if (codesign.empty()) {
        fail("--sign needs codesign, which is not on the PATH");
    }
    std::error_code ec;
    if (!o.entitlements.empty() && !fs::is_regular_file(o.entitlements, ec)) {
        fail("entitlements file not found: " + o.entitlements);
    }
    TempPath defaults;
    std::string entitlements = o.entitlements;
    if (entitlements.empty()) {
        // What the bundle's usage descriptions ask for, as when it is made
        // and signed in one run.
        std::vector<PlistEntry> declared;
        try {
            declared = PlistReader::topLevel(readText(bundle + "/Contents/Info.plist"));
        } catch (const KvErrorBase& e) {
            fail("cannot read " + bundle + "/Contents/Info.plist: " + e.rawMessage());
        }
        std::vector<PlistEntry> granted = InfoPlist::javaEntitlements();
        const std::vector<PlistEntry> usage = InfoPlist::usageEntitlements(declared);
        granted.insert(granted.end(), usage.begin(), usage.end());
        defaults.reset(BundleFiles::makeUniqueFile(FileUtils::dirname(fs::absolute(bundle).string()) +
                                                   "/.entitlements."));
        entitlements = defaults.get();
        writeText(entitlements, InfoPlist::plistText(granted));
    }
    Progress::Step step = progress.step("Signing " + FileUtils::basename(bundle));
    BundleSigner::signBundle({codesign, o.identity, entitlements}, bundle, bundle);
    step.done();
    return bundle;
}

std::string cfgText(const BundleOptions& o, const std::vector<std::string>& classPath,
                    const std::vector<std::string>& modulePath, const std::string& mainJar) {
    std::string text = "[Application]\napp.version=" + o.version + "\n";
    for (const std::string& entry : modulePath) {
        text += "app.modulepath=" + entry + "\n";
    }
    for (const std::string& entry : classPath) {
        text += "app.classpath=" + entry + "\n";
    }
    if (!o.splash.empty()) {
        text += "app.splash=$APPDIR/" + FileUtils::basename(o.splash) + "\n";
    }
    if (!o.mainModule.empty()) {
        text += "app.mainmodule=" + o.mainModule + "\n";
    }
    if (!o.mainClass.empty()) {
        text += "app.mainclass=" + o.mainClass + "\n";
    }
    if (!mainJar.empty()) {
        text += "app.mainjar=" + mainJar + "\n";
    }
    if (o.cds) {
        text += "app.cds=auto\n";
    }
    text += "\n[JavaOptions]\n";
    for (const std::string& option : o.javaOptions) {
        text += "java-options=" + option + "\n";
    }
    text += "\n[ArgOptions]\n";
    for (const std::string& argument : o.arguments) {
        text += "arguments=" + argument + "\n";
    }
    return text;
}

} // namespace Bundler
