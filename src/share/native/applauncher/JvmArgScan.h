#ifndef KOVALU_JVMARGSCAN_H
#define KOVALU_JVMARGSCAN_H

#include <string>
#include <vector>

/// Reads a JVM argument vector (options and main, no application arguments)
/// the way the JVM will, for what decides whether its start may be cached.
namespace JvmArgScan {

/// One class path or module path entry.
struct PathEntry {
    std::string path;
    bool onModulePath = false;

    bool operator==(const PathEntry& other) const {
        return path == other.path && onModulePath == other.onModulePath;
    }
};

/// The variables from which the JVM or its launcher library reads more options.
extern const char* const optionVariables[3];

/// The first option that already steers class-data sharing or the
/// ahead-of-time cache, or that a runtime of major version `javaVersion`
/// refuses next to them; empty when there is none. Options are matched by
/// name, never by a word inside a value or a path.
std::string conflictingOption(const std::vector<std::string>& options, int javaVersion);

/// The options in the value of one of `optionVariables`, split at white
/// space outside quotes, the quotes removed, as the runtime reads them.
std::vector<std::string> splitOptions(const std::string& value);

/// Every class path, module path and main jar entry the JVM arguments name;
/// the class path the JVM would default to when they name none
/// (`classPathVariable`, else the current directory for a main class).
std::vector<PathEntry> pathEntries(const std::vector<std::string>& jvmArgs,
                                   const std::string& classPathVariable);

/// True when the arguments name a module path but start a main class by its
/// name (no `-m`), so that the runtime resolves modules of the module path
/// only as services bind them: Debian's layout of JRuby, whose ahead-of-time
/// cache made every later launch fail.
bool startsClassBesideModulePath(const std::vector<std::string>& jvmArgs);

} // namespace JvmArgScan

#endif
