#ifndef KOVALU_APPLAUNCHER_H
#define KOVALU_APPLAUNCHER_H

#include <string>
#include <vector>

class Jvm;

/// Turns the bundle layout and the launcher configuration into a ready Jvm.
class AppLauncher {
public:
    /// Captures the executable's path and the command-line arguments; throws
    /// when the path cannot be found.
    AppLauncher();

    /// Layout setters; each returns the launcher for chaining. The two `add`
    /// calls append to ordered lists: library candidates relative to a runtime
    /// directory, and directories searched for the config file before `appDir`.
    AppLauncher& setDefaultRuntimePath(const std::string& v);
    AppLauncher& setAppDir(const std::string& v);
    AppLauncher& setLibEnvVariableName(const std::string& v);
    AppLauncher& setRootDir(const std::string& v);
    AppLauncher& addJvmLibName(const std::string& v);
    AppLauncher& addCfgFileLookupDir(const std::string& v);
    /// The per-user directory of the class-data archive; empty: none.
    AppLauncher& setCacheDir(const std::string& v);
    /// Makes this launch the create step of the cache's recording `v` (see
    /// `ClassDataArchive::setCreateStep`); empty: a launch of the user's.
    AppLauncher& setCacheCreateStep(const std::string& v);

    /// True when the library search variable holds `appDir` as one entry.
    bool libEnvVariableContainsAppDir() const;

    /// The first "<launcher name>.cfg" found in the lookup directories, else
    /// the one in the app directory.
    std::string getCfgFilePath() const;

    /// A newly allocated Jvm owned by the caller; throws when the config file
    /// or the JVM library cannot be found. Null for a create step that has
    /// nothing to create: the application must not start then.
    Jvm* createJvmLauncher() const;

    /// Creates a Jvm, launches it and destroys it, also when the launch throws.
    void launch() const;

private:
    std::vector<std::string> args;
    std::string launcherPath;
    std::string defaultRuntimePath;
    std::string appDir;
    std::string libEnvVariableName;
    std::string rootDir;
    std::vector<std::string> jvmLibNames;
    std::vector<std::string> cfgFileLookupDirs;
    std::string cacheDir;
    std::string cacheCreateStep;
};

#endif
