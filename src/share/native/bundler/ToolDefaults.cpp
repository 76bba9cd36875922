#include "ToolDefaults.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "MachO.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

std::string head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char bytes[8] = {};
    in.read(bytes, sizeof bytes);
    return std::string(bytes, static_cast<std::size_t>(in.gcount()));
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string toolPath(const std::string& argv0) {
    const std::string path =
        argv0.find('/') == std::string::npos ? Subprocess::findOnPath(argv0) : argv0;
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

} // namespace

namespace ToolDefaults {

std::string launcherBeside(const std::string& tool) {
    const std::string dir = FileUtils::dirname(tool);
    for (const std::string& candidate :
         {dir + "/applauncher", dir + "/../libexec/kovalu/applauncher"}) {
        if (isFile(candidate)) {
            return fs::path(candidate).lexically_normal().string();
        }
    }
    return std::string();
}

std::string runtimeHome(const std::string& javaHome, const std::string& javaHomeTool) {
    if (!javaHome.empty()) {
        return javaHome;
    }
    std::error_code ec;
    if (!fs::is_regular_file(javaHomeTool, ec)) {
        return std::string();
    }
    const ProgramResult r = Subprocess::run({javaHomeTool});
    std::string home = r.status == 0 ? r.out : std::string();
    while (!home.empty() && (home.back() == '\n' || home.back() == '\r')) {
        home.pop_back();
    }
    return home;
}

void apply(BundleOptions& o, const std::string& argv0) {
    if (o.launcher.empty()) {
        const std::string tool = toolPath(argv0);
        o.launcher = launcherBeside(tool);
        if (o.launcher.empty()) {
            fail("missing --launcher: no applauncher beside " + tool + " or in " +
                 FileUtils::dirname(tool) + "/../libexec/kovalu", KV_SOURCE_CODE_POS);
        }
    }
    if (o.runtime.empty()) {
        const char* javaHome = std::getenv("JAVA_HOME");
        o.runtime = runtimeHome(javaHome ? javaHome : "", "/usr/libexec/java_home");
        if (o.runtime.empty()) {
            fail("missing --runtime: give a Java runtime home, or set JAVA_HOME",
                 KV_SOURCE_CODE_POS);
        }
    }
}

std::string systemOf(const std::string& bytes) {
    if (MachO::isMachO(bytes)) {
        return "macOS";
    }
    return bytes.compare(0, 4, "\x7f" "ELF") == 0 ? "Linux" : std::string();
}

void checkSameSystem(const std::string& launcher, const std::string& home,
                     const std::string& linkedPlatform) {
    const std::string launcherSystem = systemOf(head(launcher));
    std::string runtimeSystem;
    std::string runtime = home;
    if (!linkedPlatform.empty()) {
        runtimeSystem = tstrings::startsWith(linkedPlatform, "Darwin") ? "macOS"
                        : tstrings::startsWith(linkedPlatform, "Linux") ? "Linux"
                                                                        : "";
        runtime = "the runtime linked for " + linkedPlatform;
    } else {
        for (const char* lib : {"/lib/libjli.dylib", "/lib/jli/libjli.dylib", "/lib/libjli.so"}) {
            if (isFile(home + lib)) {
                runtime = home + lib;
                runtimeSystem = systemOf(head(runtime));
                break;
            }
        }
    }
    if (!launcherSystem.empty() && !runtimeSystem.empty() && launcherSystem != runtimeSystem) {
        fail("the launcher " + launcher + " is a " + launcherSystem + " executable but " + runtime +
                 " is for " + runtimeSystem + ": both must be for the same system",
             KV_SOURCE_CODE_POS);
    }
}

std::string downloadPath(const std::string& dir, const std::string& name,
                         const std::string& version, const std::string& given,
                         const std::string& suffix) {
    if (!given.empty()) {
        return given;
    }
    const bool named = !version.empty() && FileUtils::isPlainName(name + "-" + version + suffix);
    return dir + "/" + name + (named ? "-" + version : "") + suffix;
}

} // namespace ToolDefaults
