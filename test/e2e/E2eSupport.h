#ifndef KOVALU_E2E_SUPPORT_H
#define KOVALU_E2E_SUPPORT_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace e2e {

using Env = std::map<std::string, std::optional<std::string>>;

/// A bundle "<dir>/<name>.app" holding a copy of the launcher under test in
/// Contents/MacOS/<name>; everything else is left to the test.
class Bundle {
public:
    Bundle(const std::string& dir, const std::string& name);

    std::string root;     ///< <dir>/<name>.app
    std::string appDir;   ///< root/Contents/app
    std::string launcher; ///< root/Contents/MacOS/<name>
    std::string cfgPath;  ///< appDir/<name>.cfg

    /// Writes the launcher configuration file.
    void writeCfg(const std::string& content) const;
    /// Links "Contents/runtime/<rel>" to `library`.
    void linkRuntimeLibrary(const std::string& library,
                            const std::string& rel = "Contents/Home/lib/libjli.dylib") const;
    /// The default runtime library path that the launcher looks for first.
    std::string defaultLibrary() const;
};

/// Copies a file and gives the copy `mode`.
void copyFile(const std::string& from, const std::string& to, unsigned mode);

/// The outcome of one launcher run against the runtime-library double.
struct Launch {
    kvtest::ProcessResult process;
    std::vector<kvtest::JliCall> calls;
};

/// Runs `exe` with `args` and a controlled environment: no debug switch, no
/// library search variable, HOME in a private directory, the double recording
/// into a private file and reporting DYLD_LIBRARY_PATH; `env` is applied on top.
Launch runLauncher(const std::string& exe, const std::vector<std::string>& args = {},
                   const Env& env = {}, const std::string& cwd = std::string());

/// Starts `exe` as the system's launch services do: its parent is process 1
/// when it starts and its standard streams are /dev/null; `env` changes the
/// current environment. Returns once the launch and every process that holds
/// its output have ended. False, with `why`, when this machine hands orphaned
/// processes to another process than 1.
bool runAsLaunchServices(const std::string& exe, const Env& env, std::string& why);

/// The lines of a text, without their line feeds; a last line without one
/// counts too.
std::vector<std::string> lines(const std::string& text);

/// The home of the JDK that tools/java-home.sh finds, as the demo does:
/// JAVA_HOME, macOS's java_home, or `javac` on the PATH; empty when none.
std::string findJdkHome();

/// The environment for a real JVM started through the launcher: no debug
/// switch, none of the runtime's option variables, a UTF-8 locale, and under
/// the sanitizers no leak checker.
Env jvmEnvironment();

} // namespace e2e

#endif
