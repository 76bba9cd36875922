#include "BundleCopy.h"

#include <algorithm>
#include <filesystem>

#include "AppPaths.h"
#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace BundleCopy {

void copyApplication(const BundleOptions& o, const BundlePlan& plan, const Staging& staging) {
    BundleFiles::makeDirs(staging.contents() + "/MacOS");
    BundleFiles::makeDirs(staging.appDir());
    BundleFiles::setMode(staging.bundle(), 0755);
    const std::string launcher = staging.contents() + "/MacOS/" + plan.name;
    std::error_code ec;
    fs::copy_file(o.launcher, launcher, ec);
    if (ec) {
        fail("cannot copy the launcher " + o.launcher + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    BundleFiles::setMode(launcher, 0755);
    // An input named through a link is copied as what it leads to; the links
    // inside it, checked to stay inside, are kept as links.
    for (const std::string& input : plan.inputs) {
        BundleFiles::copyTree(BundleFiles::realPath(input, "the input"),
                              staging.appDir() + "/" + BundleFiles::fileName(input),
                              /*followLinks=*/false);
    }
    if (!o.splash.empty()) {
        BundleFiles::copyTree(o.splash, staging.appDir() + "/" + BundleFiles::fileName(o.splash),
                              /*followLinks=*/true);
    }
    if (!o.icon.empty()) {
        BundleFiles::makeDirs(staging.contents() + "/Resources");
        BundleFiles::copyTree(o.icon,
                              staging.contents() + "/Resources/" + BundleFiles::fileName(o.icon),
                              /*followLinks=*/true);
    }
}

void placeRuntime(const BundleOptions& o, const BundlePlan& plan, const Staging& staging,
                  Progress& progress) {
    const Warn warn = [&progress](const std::string& line) { progress.warn(line); };
    const std::string home = staging.contents() + "/runtime/Contents/Home";
    BundleFiles::makeDirs(staging.contents() + "/runtime/Contents");
    if (plan.jlink) {
        std::vector<AppEntry> roots = plan.classPath;
        if (plan.mainJar) {
            roots.insert(roots.begin(), *plan.mainJar);
        }
        std::string modules;
        if (plan.jlink->addModules) {
            modules = *plan.jlink->addModules;
        } else {
            Progress::Step step = progress.step("Finding the modules the application needs");
            modules = RuntimeLink::applicationModules(
                *plan.jlink, AppPaths::stagedPaths(roots, staging.appDir()),
                AppPaths::stagedPaths(plan.modulePath, staging.appDir()), !o.splash.empty());
            step.done();
        }
        // Given modules are taken as they are; found ones miss what is reached
        // only as a service (HTTPS keys, locale names, charsets).
        if (!plan.jlink->addModules && !o.jlinkMinimal) {
            std::vector<std::string> services;
            for (const std::string& m : RuntimeLink::serviceModules(*plan.jlink)) {
                if (("," + modules + ",").find("," + m + ",") == std::string::npos) {
                    modules += "," + m;
                    services.push_back(m);
                }
            }
            if (!services.empty()) {
                warn("--jlink adds " + tstrings::join(services.begin(), services.end(), ", ") +
                     ", which applications reach only as services (--jlink-minimal leaves "
                     "them out)");
            }
        }
        const std::size_t count = std::count(modules.begin(), modules.end(), ',') + 1;
        Progress::Step step = progress.step("Linking a runtime of " + std::to_string(count) +
                                            (count == 1 ? " module" : " modules"));
        RuntimeLink::link(*plan.jlink, modules, home, warn);
        step.done();
        return;
    }
    if (plan.copyRuntime) {
        Progress::Step step = progress.step("Copying the runtime");
        BundleFiles::copyTree(plan.runtimeHome, home, /*followLinks=*/false);
        step.done();
        return;
    }
    // The runtime finds its home from its library's real path, so one link to
    // the library stands in for a whole copied runtime.
    BundleFiles::makeDirs(home + "/lib");
    std::error_code ec;
    fs::create_symlink(
        BundleFiles::realPath(plan.runtimeHome + "/lib/libjli.so", "the runtime library"),
        home + "/lib/libjli.dylib", ec);
    if (ec) {
        fail("cannot link the runtime library into " + home + ": " + ec.message(),
             KV_SOURCE_CODE_POS);
    }
}

} // namespace BundleCopy
