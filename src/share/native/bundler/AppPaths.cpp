#include "AppPaths.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarFile.h"
#include "ModulePath.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

std::string classFileOf(const std::string& className) {
    return tstrings::replace(className, ".", "/") + ".class";
}

bool holdsClass(const AppEntry& entry, const std::string& classFile) {
    if (BundleFiles::isDirectory(entry.source)) {
        return BundleFiles::isRegularFile((fs::path(entry.source) / classFile).string());
    }
    const JarFile jar(entry.source);
    const std::vector<std::string> names = jar.names();
    return jar.contains(classFile) ||
           std::any_of(names.begin(), names.end(), [&](const std::string& n) {
               return ModulePath::versionedEntry(n) == classFile;
           });
}

/// Warns of a jar in the bundle whose manifest reaches outside it or names a
/// file the bundle will not hold: the launch would fail on a missing class.
void checkManifestClassPath(const BundleOptions& o, const BundlePlan& plan, const AppEntry& jar,
                            const Warn& warn) {
    if (jar.given[0] == '/' || BundleFiles::isDirectory(jar.source)) {
        return;
    }
    std::string manifest;
    try {
        manifest = JarFile(jar.source).manifest();
    } catch (const KvErrorBase&) {
        return; // The Java runtime skips a jar it cannot read; so does this check.
    }
    // Contents/app lies two levels below the bundle's root.
    const fs::path dir = fs::path(jar.given).parent_path();
    const fs::path inBundle = fs::path("Contents/app") / dir;
    for (const std::string& entry : Manifest::classPath(manifest)) {
        const fs::path resolved = (inBundle / entry).lexically_normal();
        const bool url = entry.find(':') != std::string::npos;
        if (url || entry[0] == '/' || resolved.empty() || *resolved.begin() == "..") {
            warn("the manifest Class-Path of " + jar.given +
                 " points outside the bundle: " + entry);
            continue;
        }
        const std::string source = AppPaths::findSource(o, plan, (dir / entry).string());
        if (source.empty() || !BundleFiles::exists(source, "the manifest class path entry")) {
            warn("the manifest Class-Path of " + jar.given + " names " + entry +
                 ", which is not among the application files");
        }
    }
}

bool holdsAutomaticModule(const AppEntry& entry, const std::string& name) {
    for (const auto& place : ModulePath::places(entry.given, entry.source)) {
        if (!BundleFiles::isRegularFile(place.second)) {
            continue;
        }
        try {
            const JarFile jar(place.second);
            const std::vector<std::string> names = jar.names();
            const bool explicitModule =
                std::any_of(names.begin(), names.end(), [](const std::string& n) {
                    return n == "module-info.class" ||
                           ModulePath::versionedEntry(n) == "module-info.class";
                });
            std::string automatic = Manifest::attribute(jar.manifest(), "Automatic-Module-Name");
            if (automatic.empty()) {
                automatic = ModulePath::automaticName(BundleFiles::fileName(place.second));
            }
            if (!explicitModule && automatic == name) {
                return true;
            }
        } catch (const KvErrorBase&) {
            continue; // The runtime skips what it cannot read.
        }
    }
    return false;
}

void checkMainModule(const BundleOptions& o, const BundlePlan& plan) {
    const std::string::size_type slash = o.mainModule.find('/');
    const std::string name = o.mainModule.substr(0, slash);
    for (const AppEntry& entry : plan.modulePath) {
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
                         " names no main class: give one as --main-module " + name + "/CLASS",
                     KV_SOURCE_CODE_POS);
            }
            if (!holdsClass(AppEntry{found.given, found.source}, classFileOf(mainClass))) {
                fail("the main class " + mainClass + " is not in the module " + name + " in " +
                         found.given,
                     KV_SOURCE_CODE_POS);
            }
            return;
        }
    }
    // Not one of the application's explicit modules: an automatic one or the
    // runtime's own, when the runtime lists its modules.
    for (const AppEntry& entry : plan.modulePath) {
        if (holdsAutomaticModule(entry, name)) {
            return;
        }
    }
    std::string release;
    try {
        release = BundleFiles::readText(plan.runtimeHome + "/release");
    } catch (const KvErrorBase&) {
        return;
    }
    const std::string modules = " " + RuntimeLink::releaseValue(release, "MODULES") + " ";
    if (modules != "  " && modules.find(" " + name + " ") == std::string::npos) {
        fail("the main module " + name + " is neither on the module path nor in the runtime",
             KV_SOURCE_CODE_POS);
    }
}

} // namespace

namespace AppPaths {

std::string findSource(const BundleOptions& o, const BundlePlan& plan, const std::string& rel) {
    const fs::path normal = fs::path(rel).lexically_normal();
    if (normal.empty() || *normal.begin() == "..") {
        return std::string();
    }
    const std::string first = normal.begin()->string();
    fs::path rest;
    for (auto part = std::next(normal.begin()); part != normal.end(); ++part) {
        rest /= *part;
    }
    for (const std::string& input : plan.inputs) {
        if (BundleFiles::fileName(input) == first) {
            return rest.empty() ? input : (fs::path(input) / rest).string();
        }
    }
    if (!o.splash.empty() && BundleFiles::fileName(o.splash) == first && rest.empty()) {
        return o.splash;
    }
    return std::string();
}

AppEntry entry(const BundleOptions& o, const BundlePlan& plan, const std::string& what,
               const std::string& given) {
    if (!given.empty() && given[0] == '/') {
        if (!BundleFiles::exists(given, "the " + what)) {
            fail(what + " not found: " + given, KV_SOURCE_CODE_POS);
        }
        return AppEntry{given, given};
    }
    const std::string source = findSource(o, plan, given);
    if (source.empty() || !BundleFiles::exists(source, "the " + what)) {
        fail(what + " not found among the application files: " + given, KV_SOURCE_CODE_POS);
    }
    return AppEntry{given, source};
}

void checkMain(const BundleOptions& o, const BundlePlan& plan, const Warn& warn) {
    if (!o.mainModule.empty()) {
        checkMainModule(o, plan);
        return;
    }
    std::string mainClass = o.mainClass;
    std::vector<AppEntry> searched = plan.classPath;
    if (plan.mainJar) {
        const std::string manifest = JarFile(plan.mainJar->source).manifest();
        mainClass = Manifest::attribute(manifest, "Main-Class");
        if (mainClass.empty()) {
            fail("the main jar " + plan.mainJar->given + " names no Main-Class in its manifest",
                 KV_SOURCE_CODE_POS);
        }
        // java -jar takes its class path from the jar alone.
        searched = {*plan.mainJar};
        const std::string dir = FileUtils::dirname(plan.mainJar->given);
        for (const std::string& entry : Manifest::classPath(manifest)) {
            const std::string rel = dir.empty() ? entry : dir + "/" + entry;
            const std::string source = findSource(o, plan, rel);
            if (!source.empty() && BundleFiles::exists(source, "the manifest class path entry")) {
                searched.push_back(AppEntry{rel, source});
            }
        }
    }
    for (const AppEntry& entry : plan.classPath) {
        checkManifestClassPath(o, plan, entry, warn);
    }
    if (plan.mainJar) {
        checkManifestClassPath(o, plan, *plan.mainJar, warn);
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
                            : tstrings::join(names.begin(), names.end(), ", ")),
         KV_SOURCE_CODE_POS);
}

std::string cfgValue(const AppEntry& entry) {
    return entry.given[0] == '/' ? entry.given : "$APPDIR/" + entry.given;
}

std::vector<AppPath> stagedPaths(const std::vector<AppEntry>& entries, const std::string& appDir) {
    std::vector<AppPath> paths;
    for (const AppEntry& e : entries) {
        paths.push_back({e.given[0] == '/' ? e.given : appDir + "/" + e.given, e.given});
    }
    return paths;
}

} // namespace AppPaths
