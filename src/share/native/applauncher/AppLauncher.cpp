#include "AppLauncher.h"

#include <map>
#include <memory>

#include "CfgFile.h"
#include "ClassDataArchive.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

AppLauncher::AppLauncher() {
    launcherPath = SysInfo::getProcessModulePath();
    args = SysInfo::getCommandArgs(SysInfo::ExcludeProgramName);
}

AppLauncher& AppLauncher::setDefaultRuntimePath(const std::string& v) {
    defaultRuntimePath = v;
    return *this;
}

AppLauncher& AppLauncher::setAppDir(const std::string& v) {
    appDir = v;
    return *this;
}

AppLauncher& AppLauncher::setLibEnvVariableName(const std::string& v) {
    libEnvVariableName = v;
    return *this;
}

AppLauncher& AppLauncher::setRootDir(const std::string& v) {
    rootDir = v;
    return *this;
}

AppLauncher& AppLauncher::addJvmLibName(const std::string& v) {
    jvmLibNames.push_back(v);
    return *this;
}

AppLauncher& AppLauncher::addCfgFileLookupDir(const std::string& v) {
    cfgFileLookupDirs.push_back(v);
    return *this;
}

AppLauncher& AppLauncher::setCacheDir(const std::string& v) {
    cacheDir = v;
    return *this;
}

AppLauncher& AppLauncher::setCacheCreateStep(const std::string& v) {
    cacheCreateStep = v;
    return *this;
}

bool AppLauncher::libEnvVariableContainsAppDir() const {
    const std::string value =
        SysInfo::getEnvVariable(std::nothrow, libEnvVariableName, std::string());
    std::vector<std::string> pieces;
    tstrings::split(pieces, value, std::string(1, FileUtils::pathSeparator));
    for (const std::string& piece : pieces) {
        if (piece == appDir) {
            return true;
        }
    }
    return false;
}

std::string AppLauncher::getCfgFilePath() const {
    const std::string cfgFileName =
        FileUtils::stripExeSuffix(FileUtils::basename(launcherPath)) + ".cfg";
    for (const std::string& dir : cfgFileLookupDirs) {
        const std::string candidate = FileUtils::combinePath(dir, cfgFileName);
        LOG_TRACE("Check [" << candidate << "] file exit");
        if (FileUtils::isFileExists(candidate)) {
            return candidate;
        }
    }
    return FileUtils::combinePath(appDir, cfgFileName);
}

namespace {

std::string findJvmLib(const CfgFile& cfgFile, const std::string& defaultRuntimePath,
                       const std::vector<std::string>& jvmLibNames) {
    const CfgFile::Properties& appOptions = cfgFile.getProperties(SectionName::Application);
    const CfgFile::Properties::const_iterator runtimeProp =
        appOptions.find(PropertyName::runtime);

    std::string runtimeDir;
    if (runtimeProp != appOptions.end()) {
        runtimeDir = CfgFile::asString(*runtimeProp);
    } else {
        runtimeDir = defaultRuntimePath;
        LOG_TRACE("Property \"" << PropertyName::runtime.name() << "\" not found in \""
                                << SectionName::Application.name()
                                << "\" section of launcher config file."
                                << " Using Java runtime from \"" << runtimeDir << "\" directory");
    }

    for (const std::string& libName : jvmLibNames) {
        const std::string candidate = FileUtils::combinePath(runtimeDir, libName);
        if (FileUtils::isFileExists(candidate)) {
            return candidate;
        }
    }

    throw makeException(tstrings::any() << "Failed to find JVM in \"" << runtimeDir
                                        << "\" directory.",
                        KV_SOURCE_CODE_POS);
}

const char* modeName(ClassDataArchive::Mode mode) {
    switch (mode) {
    case ClassDataArchive::Mode::Write:
        return "write";
    case ClassDataArchive::Mode::Use:
        return "use";
    case ClassDataArchive::Mode::Create:
        return "create";
    case ClassDataArchive::Mode::Train:
        return "train";
    case ClassDataArchive::Mode::Off:
        break;
    }
    return "off";
}

// The options go right before the main class, module or jar, after every
// configured option, so the configured ones keep their positions. False for a
// create step that creates nothing.
bool addClassDataArchive(Jvm& jvm, const std::string& cacheDir, const std::string& launcherPath,
                         const std::string& createStep, const std::string& appDir) {
    const std::string launcherName = FileUtils::stripExeSuffix(FileUtils::basename(launcherPath));
    std::unique_ptr<ClassDataArchive> archive(new ClassDataArchive(cacheDir, launcherName));
    archive->setCreateStep(createStep);
    archive->offerShipped(FileUtils::combinePath(appDir, launcherName + ".aot"));
    archive->plan(jvm.getLibraryPath(), jvm.getJvmArguments(), launcherPath);
    const ClassDataArchive::Mode mode = archive->getMode();
    LOG_TRACE("Class-data archive: " << modeName(mode) << ": " << archive->getReason());
    if (archive->isTrainingCreate() && mode != ClassDataArchive::Mode::Train) {
        throw makeException("No start-up cache to create: " + archive->getReason(),
                            KV_SOURCE_CODE_POS);
    }
    jvm.insertJvmOptions(archive->getOptions());
    if (archive->onlyCreates()) {
        // The create step runs unseen; a splash screen would flash up for nothing.
        jvm.removeJvmOptions("-splash:");
    }
    if (mode == ClassDataArchive::Mode::Write || mode == ClassDataArchive::Mode::Create) {
        ClassDataArchive::commitAtExit(std::move(archive));
    }
    return createStep.empty() || mode == ClassDataArchive::Mode::Create;
}

} // namespace

Jvm* AppLauncher::createJvmLauncher() const {
    const std::string cfgFilePath = getCfgFilePath();
    LOG_TRACE("Launcher config file path: \"" << cfgFilePath << "\"");

    std::map<std::string, std::string> macros;
    macros["$APPDIR"] = appDir;
    macros["$BINDIR"] = FileUtils::dirname(launcherPath);
    macros["$ROOTDIR"] = rootDir;

    CfgFile cfg = CfgFile::load(cfgFilePath).expandMacros(macros);

    // Set after expansion: command-line arguments reach the application as typed.
    if (!args.empty()) {
        cfg.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments, args);
    }

    std::unique_ptr<Jvm> jvm(new Jvm());

    if (!libEnvVariableContainsAppDir()) {
        const std::string newValue =
            (tstrings::any() << SysInfo::getEnvVariable(std::nothrow, libEnvVariableName,
                                                        std::string())
                             << FileUtils::pathSeparator << appDir)
                .str();
        jvm->addEnvironmentVariable(libEnvVariableName, newValue);
    }

    jvm->setLibraryPath(findJvmLib(cfg, defaultRuntimePath, jvmLibNames));
    jvm->addArgument(launcherPath);
    jvm->initFromConfigFile(cfg);
    // A create step creates whatever the configuration says now: the cache is
    // only ever used while it says "auto".
    if ((ClassDataArchive::isRequested(cfg) || !cacheCreateStep.empty()) &&
        !addClassDataArchive(*jvm, cacheDir, launcherPath, cacheCreateStep, appDir)) {
        return nullptr;
    }

    return jvm.release();
}

void AppLauncher::launch() const {
    const std::unique_ptr<Jvm> jvm(createJvmLauncher());
    if (jvm) {
        jvm->launch();
    }
}
