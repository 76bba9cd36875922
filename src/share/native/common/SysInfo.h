#ifndef KOVALU_SYSINFO_H
#define KOVALU_SYSINFO_H

#include <new>
#include <string>
#include <vector>

/// What the launcher knows about its own process.
namespace SysInfo {

/// The argument count and vector of the first entry into `main`.
extern int argc;
extern char** argv;

enum CommandArgProgramNameMode { IncludeProgramName = 0, ExcludeProgramName = 1 };

/// Absolute path of the running executable with symbolic links resolved.
/// Throws on failure.
std::string getProcessModulePath();

/// The absolute path of `path` (a NUL-terminated character vector) with every
/// symbolic link, "." and ".." resolved. Throws when it does not exist, when a
/// link dangles or loops.
std::string getRealPath(const std::vector<char>& path);

/// The stored process arguments without those that begin with "-psn_".
std::vector<std::string> getCommandArgs(CommandArgProgramNameMode mode = ExcludeProgramName);

/// The value of an environment variable; throws when it is not set.
std::string getEnvVariable(const std::string& name);

/// The value of an environment variable, or `defaultValue` when it is not set.
std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defaultValue);

/// True when the variable exists, even if empty.
bool isEnvVariableSet(const std::string& name);

/// Creates or replaces a variable; throws on failure.
void setEnvVariable(const std::string& name, const std::string& value);

/// Removes every entry of a variable; nothing happens when it is not set.
void unsetEnvVariable(const std::string& name);

} // namespace SysInfo

#endif
