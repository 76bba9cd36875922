// The process entry of a bundle's launcher: derives the bundle layout from the
// executable's own path and starts the bundled Java runtime in this process.
#include <new>
#include <stdexcept>
#include <string>

#include "AppLauncher.h"
#include "ClassDataArchive.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "PackageFile.h"
#include "SysInfo.h"
#include "app.h"

namespace {

// Never destroyed: the runtime may still be running threads at process exit.
Jvm* jvmLauncher = nullptr;

void launchJvm() {
    jvmLauncher->launch();
}

void initJvmLauncher() {
    const std::string launcherPath = SysInfo::getProcessModulePath();
    // Contents/MacOS/<launcher>: only the depth matters, the names are not checked.
    const std::string root =
        FileUtils::dirname(FileUtils::dirname(FileUtils::dirname(launcherPath)));
    const std::string appDir = FileUtils::combinePath(root, "Contents/app");

    const PackageFile packageFile = PackageFile::loadFromAppDir(appDir);

    AppLauncher appLauncher;
    appLauncher.setRootDir(root)
        .addJvmLibName("Contents/Home/lib/libjli.dylib")
        .addJvmLibName("Contents/Home/lib/jli/libjli.dylib")
        .setAppDir(appDir)
        .setLibEnvVariableName("DYLD_LIBRARY_PATH")
        .setDefaultRuntimePath(FileUtils::combinePath(root, "Contents/runtime"));

    const std::string packageName = packageFile.getPackageName();
    if (!packageName.empty()) {
        std::string home;
        // Without a home directory the per-user config is skipped, not fatal.
        try {
            home = SysInfo::getEnvVariable("HOME");
        } catch (const std::runtime_error& e) {
            reportError(KV_SOURCE_CODE_POS, e);
        } catch (...) {
            reportUnknownError(KV_SOURCE_CODE_POS);
        }
        if (!home.empty()) {
            appLauncher.addCfgFileLookupDir(FileUtils::combinePath(
                FileUtils::combinePath(home, "Library/Application Support"), packageName));
        }
    }

    appLauncher.setCacheDir(ClassDataArchive::cacheDirFor(
        SysInfo::getEnvVariable(std::nothrow, "HOME", std::string()),
        packageName.empty() ? FileUtils::basename(launcherPath) : packageName));

    // Stored before the launch: the runtime may enter main again from within it.
    jvmLauncher = appLauncher.createJvmLauncher();
    jvmLauncher->launch();
}

} // namespace

int main(int argc, char** argv) {
    if (jvmLauncher) {
        return app::launch(std::nothrow, launchJvm, nullptr);
    }
    SysInfo::argc = argc;
    SysInfo::argv = argv;
    return app::launch(std::nothrow, initJvmLauncher, nullptr);
}
