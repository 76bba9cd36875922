#include "RuntimeLink.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "ModuleInfo.h"
#include "ModulePath.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isExecutableFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) &&
           (fs::status(path, ec).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

/// A value of the release file of a Java runtime home; throws when missing.
std::string requiredReleaseValue(const std::string& home, const std::string& key) {
    const std::string release = home + "/release";
    std::error_code ec;
    if (!fs::is_regular_file(release, ec)) {
        throw makeException("no release file in " + home + ": cannot tell its Java version",
                            KV_SOURCE_CODE_POS);
    }
    const std::string value = RuntimeLink::releaseValue(readText(release), key);
    if (value.empty()) {
        throw makeException("no " + key + " in " + release, KV_SOURCE_CODE_POS);
    }
    return value;
}

std::string platformOf(const std::string& home) {
    return requiredReleaseValue(home, "OS_NAME") + " " + requiredReleaseValue(home, "OS_ARCH");
}

void checkJmods(JlinkPlan& plan, const std::string& jmods, const std::string& version) {
    std::error_code ec;
    if (!fs::is_directory(jmods, ec)) {
        throw makeException("jmods directory not found: " + jmods, KV_SOURCE_CODE_POS);
    }
    plan.jmodsDir = fs::canonical(jmods, ec).string();
    if (ec) {
        throw makeException("cannot resolve the jmods directory " + jmods + ": " + ec.message(),
                            KV_SOURCE_CODE_POS);
    }
    if (!fs::is_regular_file(plan.jmodsDir + "/java.base.jmod", ec)) {
        throw makeException("no java.base.jmod in the jmods directory: " + jmods,
                            KV_SOURCE_CODE_POS);
    }
    // jlink links another platform's modules only when they are of its own
    // Java version; a JDK keeps its release file beside its jmods directory.
    const std::string otherHome = fs::path(plan.jmodsDir).parent_path().string();
    const std::string otherVersion = requiredReleaseValue(otherHome, "JAVA_VERSION");
    if (otherVersion != version) {
        throw makeException("the jmods in " + jmods + " are Java " + otherVersion +
                                " but the jlink of the runtime is Java " + version +
                                ": they must be the same",
                            KV_SOURCE_CODE_POS);
    }
    const std::string platform = platformOf(otherHome);
    if (platform != platformOf(plan.home)) {
        plan.otherPlatform = platform;
    }
}

/// The runtime modules that the application's own modules require.
std::vector<std::string> declaredModules(const std::vector<AppPath>& modulePath) {
    std::vector<ModuleDescriptor> modules;
    for (const AppPath& entry : modulePath) {
        for (const FoundModule& found : ModulePath::explicitModules(entry.shown, entry.path)) {
            modules.push_back(found.module);
        }
    }
    std::set<std::string> own;
    for (const ModuleDescriptor& m : modules) {
        own.insert(m.name);
    }
    std::vector<std::string> required;
    for (const ModuleDescriptor& m : modules) {
        for (const std::string& r : m.requires) {
            if (!own.count(r)) {
                required.push_back(r);
            }
        }
    }
    return required;
}

std::vector<std::string> jdepsBase(const JlinkPlan& plan) {
    return {plan.home + "/bin/jdeps", "--print-module-deps", "--ignore-missing-deps",
            "--multi-release", plan.javaFeature};
}

/// How messages name the first path jdeps cannot read on its own, or empty.
std::string unreadablePath(const JlinkPlan& plan, const std::vector<AppPath>& paths) {
    for (const AppPath& p : paths) {
        std::vector<std::string> argv = jdepsBase(plan);
        argv.push_back(p.path);
        if (Subprocess::run(argv).status != 0) {
            return p.shown;
        }
    }
    return std::string();
}

std::string lastLine(const std::string& text) {
    std::vector<std::string> lines;
    tstrings::split(lines, text, "\n", tstrings::DropEmptyPieces);
    return lines.empty() ? std::string() : tstrings::trim(lines.back(), " \t\r");
}

} // namespace

namespace RuntimeLink {

std::string releaseValue(const std::string& releaseText, const std::string& key) {
    std::istringstream lines(releaseText);
    const std::string prefix = key + "=\"";
    for (std::string line; std::getline(lines, line);) {
        if (tstrings::startsWith(line, prefix) && line.size() > prefix.size() &&
            line.back() == '"') {
            return line.substr(prefix.size(), line.size() - prefix.size() - 1);
        }
    }
    return std::string();
}

JlinkPlan plan(const std::string& home, const std::optional<std::string>& addModules,
               const std::string& jmods) {
    JlinkPlan plan{home, std::string(), std::string(), std::string(), addModules};
    if (!isExecutableFile(home + "/bin/jlink")) {
        throw makeException("--jlink needs a JDK with bin/jlink: " + home, KV_SOURCE_CODE_POS);
    }
    if (addModules) {
        const std::string list = "," + *addModules + ",";
        if (list.find(",,") != std::string::npos ||
            list.find_first_of(" \t\n\r\f\v") != std::string::npos) {
            throw makeException("--add-modules needs module names separated by commas: " +
                                    *addModules,
                                KV_SOURCE_CODE_POS);
        }
    } else if (!isExecutableFile(home + "/bin/jdeps")) {
        throw makeException(
            "--jlink needs bin/jdeps to find the modules (or give --add-modules): " + home,
            KV_SOURCE_CODE_POS);
    }
    const std::string version = requiredReleaseValue(home, "JAVA_VERSION");
    // jdeps reads a multi-release jar only when told which release to take.
    plan.javaFeature = version.substr(0, version.find_first_not_of("0123456789"));
    if (!jmods.empty()) {
        checkJmods(plan, jmods, version);
    }
    return plan;
}

std::string applicationModules(const JlinkPlan& plan, const std::vector<AppPath>& classPath,
                               const std::vector<AppPath>& modulePath, bool splash) {
    if (classPath.empty() && modulePath.empty()) {
        throw makeException("--jlink finds the modules in the main jar, class path and module "
                            "path: give one of them, or --add-modules",
                            KV_SOURCE_CODE_POS);
    }
    std::vector<std::string> argv = jdepsBase(plan);
    if (!modulePath.empty()) {
        std::vector<std::string> paths;
        for (const AppPath& p : modulePath) {
            paths.push_back(p.path);
        }
        argv.insert(argv.end(), {"--module-path", tstrings::join(paths.begin(), paths.end(), ":"),
                                 "--add-modules", "ALL-MODULE-PATH"});
    }
    for (const AppPath& p : classPath) {
        argv.push_back(p.path);
    }
    const ProgramResult r = Subprocess::run(argv);
    if (r.status != 0) {
        std::vector<AppPath> all = classPath;
        all.insert(all.end(), modulePath.begin(), modulePath.end());
        const std::string bad = unreadablePath(plan, all);
        throw makeException("jdeps cannot analyse " + (bad.empty() ? "the application" : bad) +
                                ": " + Subprocess::reason(r.err + r.out),
                            KV_SOURCE_CODE_POS);
    }
    std::vector<std::string> modules;
    tstrings::split(modules, lastLine(r.out), ",", tstrings::DropEmptyPieces);
    const std::vector<std::string> declared = declaredModules(modulePath);
    modules.insert(modules.end(), declared.begin(), declared.end());
    // The splash screen is drawn by a library of java.desktop, which no class names.
    if (splash) {
        modules.push_back("java.desktop");
    }
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (const std::string& m : modules) {
        if (seen.insert(m).second) {
            unique.push_back(m);
        }
    }
    if (unique.empty()) {
        throw makeException("jdeps found no modules that the application needs: give --add-modules",
                            KV_SOURCE_CODE_POS);
    }
    return tstrings::join(unique.begin(), unique.end(), ",");
}

std::vector<std::string> serviceModules(const JlinkPlan& plan) {
    std::string listed;
    try {
        listed = " " + releaseValue(BundleFiles::readText(plan.home + "/release"), "MODULES") + " ";
    } catch (const KvErrorBase&) {
    }
    const std::string jmods = plan.jmodsDir.empty() ? plan.home + "/jmods" : plan.jmodsDir;
    std::vector<std::string> found;
    for (const char* name : {"jdk.crypto.ec", "jdk.localedata", "jdk.charsets"}) {
        std::error_code ec;
        const bool listedHere = plan.jmodsDir.empty() && listed.find(" " + std::string(name) + " ") !=
                                                              std::string::npos;
        if (listedHere || fs::exists(jmods + "/" + name + ".jmod", ec)) {
            found.push_back(name);
        }
    }
    return found;
}

void link(const JlinkPlan& plan, const std::string& modules, const std::string& home,
          const std::function<void(const std::string&)>& warn) {
    std::vector<std::string> argv{plan.home + "/bin/jlink", "--add-modules", modules,
                                  "--output", home, "--strip-debug", "--no-header-files",
                                  "--no-man-pages"};
    if (!plan.jmodsDir.empty()) {
        argv.insert(argv.end(), {"--module-path", plan.jmodsDir});
    }
    // jlink writes the class-data archive by running the new runtime, which it
    // can do only on the runtime's own platform.
    if (plan.otherPlatform.empty()) {
        argv.push_back("--generate-cds-archive");
    }
    const ProgramResult r = Subprocess::run(argv);
    if (r.status != 0) {
        throw makeException("jlink failed: " + Subprocess::reason(r.err + r.out),
                            KV_SOURCE_CODE_POS);
    }
    std::error_code ec;
    if (!fs::exists(home + "/lib/libjli.dylib", ec) && fs::exists(home + "/lib/libjli.so", ec)) {
        // Relative, so that the bundle still starts when moved or copied.
        fs::create_symlink("libjli.so", home + "/lib/libjli.dylib", ec);
        if (ec) {
            throw makeException("cannot link libjli.dylib in " + home + ": " + ec.message(),
                                KV_SOURCE_CODE_POS);
        }
    }
    if (!plan.otherPlatform.empty()) {
        warn("no class-data archive in the runtime for " + plan.otherPlatform +
             ": run its bin/java -Xshare:dump there");
    }
}

} // namespace RuntimeLink
