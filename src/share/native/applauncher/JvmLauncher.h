#ifndef KOVALU_JVMLAUNCHER_H
#define KOVALU_JVMLAUNCHER_H

#include <cstddef>
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

    /// The options and the main class, module or jar that `initFromConfigFile`
    /// appended, without the application's arguments.
    std::vector<std::string> getJvmArguments() const;
    /// Inserts options right before the main class, module or jar that
    /// `initFromConfigFile` appended.
    Jvm& insertJvmOptions(const std::vector<std::string>& options);
    /// Removes the options before the main class, module or jar that begin
    /// with `prefix`.
    Jvm& removeJvmOptions(const std::string& prefix);

    /// Appends one element to the argument vector, unchanged.
    Jvm& addArgument(const std::string& value);
    /// Replaces the path of the runtime's launcher library.
    Jvm& setLibraryPath(const std::string& path);
    /// Adds one variable to set before the runtime starts.
    Jvm& addEnvironmentVariable(const std::string& name, const std::string& value);

    /// True when some argument begins with "-splash:".
    bool isWithSplash() const;

    /// Sets every stored variable in this process; throws on the first failure.
    void setEnvVariables();

    /// Flattens the settings, loads the library and calls its JLI_Launch;
    /// throws when the launch data cannot be made, the library or its entry
    /// point cannot be loaded, or the launch returns non-zero. May be called
    /// again.
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
    std::size_t optionsBegin = 0;
    std::size_t mainBegin = 0;
    std::size_t mainEnd = 0;
};

/// The process's launch-data table, the only way in from the C side. Kept out
/// of the dynamic symbol table so no loaded library can clash with its name.
extern JvmlLauncherAPI api
#if defined(__GNUC__)
    __attribute__((visibility("hidden")))
#endif
    ;

/// `size` plus `count` items of `itemBytes` each, the running size of a
/// launch-data block; throws when the sum would not fit the block's 32-bit
/// signed size, so no caller ever sees a wrapped size.
std::size_t addJvmlLauncherDataBytes(std::size_t size, std::size_t count, std::size_t itemBytes);

#endif
