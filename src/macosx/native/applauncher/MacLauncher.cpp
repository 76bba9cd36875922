// The process entry of a bundle's launcher: derives the bundle layout from the
// executable's own path and starts the bundled Java runtime in this process.
#include <unistd.h>

#include <ctime>
#include <new>
#include <stdexcept>
#include <string>

#include "AppLauncher.h"
#include "ClassDataArchive.h"
#include "ErrorHandling.h"
#include "FailureReport.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "LaunchLog.h"
#include "Log.h"
#include "OutputCapture.h"
#include "PackageFile.h"
#include "SysInfo.h"
#include "app.h"

namespace {

// Never destroyed: the runtime may still be running threads at process exit.
Jvm* jvmLauncher = nullptr;

// Known once the package file is read; until then the log falls back to the
// launcher's name.
std::string packageName;

// Taken when the process starts, before a parent that exits meanwhile could
// hand it over to launchd.
FailureReport::ProcessFacts processFacts;

// Why this launch's output is not kept, told once the debug switch is heeded.
std::string outputNotKept;

// The recording whose ahead-of-time cache this process creates, unseen, after
// a launch of the user's; empty in a launch of the user's.
std::string cacheCreateStep;

void launchJvm() {
    jvmLauncher->launch();
}

// Contents/MacOS/<launcher>: only the depth matters, the names are not checked.
std::string bundleRoot(const std::string& launcherPath) {
    return FileUtils::dirname(FileUtils::dirname(FileUtils::dirname(launcherPath)));
}

// Keeps the default logger quiet until the driver sets it up: before that it
// writes to standard output, which belongs to the application.
class QuietLogger {
public:
    QuietLogger() : previous(Logger::defaultLogger().getAppender()) {
        Logger::defaultLogger().setAppender(quiet);
    }
    ~QuietLogger() { Logger::defaultLogger().setAppender(previous); }
    QuietLogger(const QuietLogger&) = delete;
    QuietLogger& operator=(const QuietLogger&) = delete;

private:
    NopLogAppender quiet;
    LogAppender& previous;
};

// The folder name must be known before anything is printed; reading the
// package file fails again, and is reported, in the launch itself.
std::string packageNameOrEmpty(const std::string& launcherPath) {
    try {
        const std::string root = bundleRoot(launcherPath);
        return root.empty() ? std::string()
                            : PackageFile::loadFromAppDir(FileUtils::combinePath(root, "Contents/app"))
                                  .getPackageName();
    } catch (const std::exception&) {
        return std::string();
    }
}

// The start-up cache's directory, as the launch will find it.
std::string cacheDirOf(const std::string& launcherPath, const std::string& package) {
    return ClassDataArchive::cacheDirFor(
        SysInfo::getEnvVariable(std::nothrow, "HOME", std::string()),
        package.empty() ? FileUtils::basename(launcherPath) : package);
}

// Taken out of the environment before anything else, so that neither the
// runtime nor the application sees it; a value that names no recording of
// this launcher (an empty one, say) makes an ordinary launch.
void takeCacheCreateStep() {
    const std::string value = ClassDataArchive::takeCreateStepValue();
    if (value.empty()) {
        return;
    }
    const QuietLogger quiet;
    try {
        const std::string launcherPath = SysInfo::getProcessModulePath();
        if (ClassDataArchive::isRecordingPath(
                value, cacheDirOf(launcherPath, packageNameOrEmpty(launcherPath)),
                FileUtils::stripExeSuffix(FileUtils::basename(launcherPath)))) {
            cacheCreateStep = value;
        }
    } catch (...) {
        // Without the launcher's own path the launch fails, and reports it.
    }
}

// Sends the launch's standard output and error to a file beside the launch
// log, where a user who never sees them can find them.
void keepOutput() {
    const QuietLogger quiet;
    try {
        const std::string launcherPath = SysInfo::getProcessModulePath();
        const std::string launcherName =
            FileUtils::stripExeSuffix(FileUtils::basename(launcherPath));
        const LaunchLog log(
            SysInfo::getEnvVariable(std::nothrow, "HOME", std::string()),
            LaunchLog::folderName(packageNameOrEmpty(launcherPath), launcherName), launcherName);
        OutputCapture::start(log.createOutputFile(), outputNotKept);
    } catch (const std::exception& e) {
        outputNotKept = e.what();
    } catch (...) {
        // Keeping the output must never change how the launch goes.
        outputNotKept = "unknown error";
    }
}

void initJvmLauncher() {
    if (!outputNotKept.empty()) {
        LOG_TRACE("Output of this launch not kept: " << outputNotKept);
    }
    const std::string launcherPath = SysInfo::getProcessModulePath();
    const std::string root = bundleRoot(launcherPath);
    // Too shallow a path leaves no root, and every bundle path would then be
    // read relative to whatever directory the launch was started from.
    if (root.empty()) {
        throw makeException(tstrings::any() << "Executable \"" << launcherPath
                                            << "\" must be inside an application bundle as "
                                               "<bundle>/Contents/MacOS/<launcher>",
                            KV_SOURCE_CODE_POS);
    }
    const std::string appDir = FileUtils::combinePath(root, "Contents/app");

    const PackageFile packageFile = PackageFile::loadFromAppDir(appDir);
    packageName = packageFile.getPackageName();

    AppLauncher appLauncher;
    appLauncher.setRootDir(root)
        .addJvmLibName("Contents/Home/lib/libjli.dylib")
        .addJvmLibName("Contents/Home/lib/jli/libjli.dylib")
        .setAppDir(appDir)
        .setLibEnvVariableName("DYLD_LIBRARY_PATH")
        .setDefaultRuntimePath(FileUtils::combinePath(root, "Contents/runtime"));

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

    appLauncher.setCacheDir(cacheDirOf(launcherPath, packageName))
        .setCacheCreateStep(cacheCreateStep);

    // Stored before the launch: the runtime may enter main again from within it.
    jvmLauncher = appLauncher.createJvmLauncher();
    // A create step with nothing to create ends here, without the application.
    if (jvmLauncher) {
        jvmLauncher->launch();
    }
}

// Appends the failure to the launch log; returns the log's path, or empty
// when nothing was written, which only the debug output tells.
std::string writeLaunchLog(const std::string& launcherPath, const std::string& launcherName,
                           const std::string& error) {
    const std::string home = SysInfo::getEnvVariable(std::nothrow, "HOME", std::string());
    if (launcherPath.empty() || home.empty()) {
        LOG_TRACE("No launch log record written: "
                  << (launcherPath.empty() ? "the executable's path is unknown" : "HOME is not set"));
        return std::string();
    }
    try {
        const LaunchLog log(home, LaunchLog::folderName(packageName, launcherName), launcherName);
        log.append(LaunchLog::formatRecord(std::time(nullptr), static_cast<long>(::getpid()),
                                           launcherPath, error));
        return log.getPath();
    } catch (const std::exception& e) {
        LOG_TRACE("No launch log record written: " << e.what());
    }
    return std::string();
}

// Leaves a trace of a failure where a user who never sees standard error can
// find it: the launch log and, when opened from the Finder, a dialog.
void reportFailure(const std::string& error) {
    std::string launcherPath;
    try {
        launcherPath = SysInfo::getProcessModulePath();
    } catch (const std::runtime_error&) {
        // Then the failure was most likely this very lookup; the log needs the
        // path, the dialog makes do with the name the launcher was started by.
    }
    const std::string launcherName = FileUtils::stripExeSuffix(FileUtils::basename(
        launcherPath.empty() && SysInfo::argc > 0 ? SysInfo::argv[0] : launcherPath));
    // From a terminal nothing is captured, and the error stays as it was.
    // The runtime's report of the cache's recording is no part of a failure.
    const std::string detailed = FailureReport::withErrorOutput(
        error, FailureReport::errorOutputTail(
                   ClassDataArchive::withoutPendingRecordingReport(OutputCapture::errorTail()),
                   error, OutputCapture::maxTailBytes));
    const std::string logPath = writeLaunchLog(launcherPath, launcherName, detailed);
    FailureReport::showAlertIfOpenedByLaunchServices(processFacts, FailureReport::showSystemAlert,
                                                     launcherName, detailed, logPath);
}

int launchAndReport(app::LauncherFunc func) {
    FailureReport::FailureCapture capture;
    const int status = app::launch(std::nothrow, func, &capture);
    // The create step of the start-up cache runs unseen, after the launch the
    // user made; its failures are the cache's to count, not the user's to see.
    if (capture.hasFailure() && cacheCreateStep.empty()) {
        try {
            reportFailure(capture.message());
        } catch (...) {
            // The failure is already on standard error; reporting it again
            // must not change how the launch ends.
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (jvmLauncher) {
        return launchAndReport(launchJvm);
    }
    SysInfo::argc = argc;
    SysInfo::argv = argv;
    processFacts = FailureReport::currentProcessFacts();
    takeCacheCreateStep();
    // The cache's create step is started detached, so it looks opened by
    // launch services too; it must not replace the kept output of the launch
    // the user made.
    if (FailureReport::isOpenedByLaunchServices(processFacts) && cacheCreateStep.empty()) {
        keepOutput();
    }
    return launchAndReport(initJvmLauncher);
}
