#ifndef KOVALU_TOOLDEFAULTS_H
#define KOVALU_TOOLDEFAULTS_H

#include <string>

#include "BundleOptions.h"

/// What the tool finds by itself when an option is not given, and whether the
/// launcher and the runtime it bundles belong to the same system.
namespace ToolDefaults {

/// The launcher the tool uses without --launcher: `applauncher` in the tool's
/// own directory (a build tree), else in ../libexec/kovalu (an installed
/// tool). Empty when neither exists.
std::string launcherBeside(const std::string& toolPath);

/// The runtime the tool uses without --runtime: `javaHome` when not empty,
/// else what the program `javaHomeTool` (macOS: /usr/libexec/java_home)
/// prints, when it runs and succeeds. Empty when neither gives one.
std::string runtimeHome(const std::string& javaHome, const std::string& javaHomeTool);

/// Fills in --launcher and --runtime when they are not given; throws with one
/// line saying where it looked when no default is found. `argv0` is how the
/// tool was started.
void apply(BundleOptions& options, const std::string& argv0);

/// The system whose executables start with `head`: "macOS" for Mach-O,
/// "Linux" for ELF, empty for anything else.
std::string systemOf(const std::string& head);

/// Throws with one line when the launcher is for another system than the
/// runtime the bundle will hold: the runtime's launcher library (libjli) at
/// `runtimeHome`, or, when `linkedPlatform` is given, the platform ("OS_NAME
/// OS_ARCH") a runtime is linked for.
void checkSameSystem(const std::string& launcher, const std::string& runtimeHome,
                     const std::string& linkedPlatform);

/// Where a download goes: `given` when not empty, else
/// DIR/NAME-VERSION.SUFFIX (DIR/NAME.SUFFIX without a version, or with one
/// that cannot be part of a file name).
std::string downloadPath(const std::string& dir, const std::string& name,
                         const std::string& version, const std::string& given,
                         const std::string& suffix);

} // namespace ToolDefaults

#endif
