#ifndef KOVALU_JVMLAUNCHER_H
#define KOVALU_JVMLAUNCHER_H

#include <string>
#include <vector>

#include "JvmLauncherLib.h"

class CfgFile;

/// One start of the Java runtime: launcher library, argument vector and
/// environment variables to set.
class Jvm {
public:
    Jvm();
    ~Jvm();
    Jvm(const Jvm&) = delete;
    Jvm& operator=(const Jvm&) = delete;

    /// Appends the configuration-derived options and arguments in their fixed
    /// order. Throws when the executable's own path cannot be found.
    Jvm& initFromConfigFile(const CfgFile& cfgFile);

    Jvm& addArgument(const std::string& value);
    Jvm& setLibraryPath(const std::string& path);
    Jvm& addEnvironmentVariable(const std::string& name, const std::string& value);

    /// True when some argument begins with "-splash:".
    bool isWithSplash() const;

    /// Sets every stored variable in this process; throws on the first failure.
    void setEnvVariables();

    /// Loads the library and calls its JLI_Launch; throws when it cannot be
    /// loaded or the launch returns non-zero.
    void launch();

    /// A detached copy of the settings, released through the table's closeHandle.
    JvmlLauncherHandle exportLauncher() const;

    const std::string& getLibraryPath() const { return libPath; }
    const std::vector<std::string>& getArguments() const { return args; }
    const std::vector<std::string>& getEnvNames() const { return envNames; }
    const std::vector<std::string>& getEnvValues() const { return envValues; }

private:
    std::string libPath;
    std::vector<std::string> args;
    std::vector<std::string> envNames;
    std::vector<std::string> envValues;
};

#endif
