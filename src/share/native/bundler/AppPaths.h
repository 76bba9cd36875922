#ifndef KOVALU_APPPATHS_H
#define KOVALU_APPPATHS_H

#include <string>
#include <vector>

#include "BundleOptions.h"
#include "BundlePlan.h"

/// The application's paths: where each one given relative to Contents/app
/// comes from, and whether the main class is where the launch will look.
namespace AppPaths {

/// Where a path relative to Contents/app will be copied from: the input or
/// splash image of its first component. Empty when none will be there.
std::string findSource(const BundleOptions& o, const BundlePlan& plan, const std::string& rel);

/// The entry for the path `given` of `what` ("main jar", ...); throws "WHAT not
/// found among the application files: GIVEN" when no input will hold it.
AppEntry entry(const BundleOptions& o, const BundlePlan& plan, const std::string& what,
               const std::string& given);

/// Checks that the main class, of the main jar, the class path or the main
/// module, is where the launch will look for it, and warns of manifest class
/// paths that reach outside the bundle. Throws with one line when it is not.
void checkMain(const BundleOptions& o, const BundlePlan& plan, const Warn& warn);

/// How the configuration names an entry: against the launcher's $APPDIR.
std::string cfgValue(const AppEntry& entry);

/// Where the JDK's tools find the entries in the bundle being built at `appDir`.
std::vector<AppPath> stagedPaths(const std::vector<AppEntry>& entries, const std::string& appDir);

} // namespace AppPaths

#endif
