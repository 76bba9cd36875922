#ifndef KOVALU_RUNTIMELINK_H
#define KOVALU_RUNTIMELINK_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

/// What linking a runtime with --jlink needs, all checked before anything is
/// written.
struct JlinkPlan {
    std::string home;          ///< the JDK whose tools run
    std::string javaFeature;   ///< its feature release, for multi-release jars
    std::string jmodsDir;      ///< another JDK's jmods, or empty
    std::string otherPlatform; ///< that JDK's platform when it is not `home`'s
    std::optional<std::string> addModules;
};

/// A path handed to the JDK's tools, and how messages name it.
struct AppPath {
    std::string path;
    std::string shown;
};

namespace RuntimeLink {

/// The value of the line KEY="VALUE" of a runtime's release file, or empty.
std::string releaseValue(const std::string& releaseText, const std::string& key);

/// Checks that `home` can link a runtime as asked; throws with one line when
/// it cannot.
JlinkPlan plan(const std::string& home, const std::optional<std::string>& addModules,
               const std::string& jmods);

/// The modules the application needs, comma-separated: those jdeps finds its
/// classes use, those its own modules' descriptors require (jdeps leaves out
/// a requirement no class uses, yet the module system refuses to start
/// without it) and java.desktop for a splash screen. Throws with one line
/// when jdeps fails or finds nothing.
std::string applicationModules(const JlinkPlan& plan, const std::vector<AppPath>& classPath,
                               const std::vector<AppPath>& modulePath, bool splash);

/// The modules applications reach only through services, which jdeps cannot
/// see, that the runtime `plan` links from has: the elliptic-curve provider
/// jdk.crypto.ec, jdk.localedata and jdk.charsets.
std::vector<std::string> serviceModules(const JlinkPlan& plan);

/// Writes a runtime of `modules` to `home` with jlink; `warn` receives what
/// the result lacks. Throws with one line when jlink fails.
void link(const JlinkPlan& plan, const std::string& modules, const std::string& home,
          const std::function<void(const std::string&)>& warn);

} // namespace RuntimeLink

#endif
