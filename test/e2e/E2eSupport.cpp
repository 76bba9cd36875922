#include "E2eSupport.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace e2e {

Bundle::Bundle(const std::string& dir, const std::string& name)
    : root(dir + "/" + name + ".app"),
      appDir(root + "/Contents/app"),
      launcher(root + "/Contents/MacOS/" + name),
      cfgPath(appDir + "/" + name + ".cfg") {
    kvtest::makeDirs(root + "/Contents/MacOS");
    kvtest::makeDirs(appDir);
    kvtest::makeDirs(root + "/Contents/runtime");
    copyFile(KVTEST_LAUNCHER_PATH, launcher, 0755);
}

void Bundle::writeCfg(const std::string& content) const {
    kvtest::writeFile(cfgPath, content);
}

void Bundle::linkRuntimeLibrary(const std::string& library, const std::string& rel) const {
    const std::string link = root + "/Contents/runtime/" + rel;
    kvtest::makeDirs(link.substr(0, link.rfind('/')));
    kvtest::makeSymlink(library, link);
}

std::string Bundle::defaultLibrary() const {
    return root + "/Contents/runtime/Contents/Home/lib/libjli.dylib";
}

void copyFile(const std::string& from, const std::string& to, unsigned mode) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, static_cast<std::filesystem::perms>(mode));
}

Launch runLauncher(const std::string& exe, const std::vector<std::string>& args, const Env& env,
                   const std::string& cwd) {
    kvtest::TempDir records;
    const std::string record = records / "jli-record";
    // A failed launch writes its launch log below HOME, never the real one.
    kvtest::makeDirs(records / "home");
    Env all = {
        {"HOME", records / "home"},
        {"KOVALU_DEBUG", std::nullopt},
        {"DYLD_LIBRARY_PATH", std::nullopt},
        {"KVTEST_JLI_RECORD", record},
        {"KVTEST_JLI_ENV", std::string("DYLD_LIBRARY_PATH")},
        {"KVTEST_JLI_RETURN", std::nullopt},
        {"KVTEST_JLI_REENTER", std::nullopt},
    };
    for (const auto& kv : env) {
        all[kv.first] = kv.second;
    }
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    Launch launch;
    launch.process = kvtest::runProcess(argv, all, cwd);
    launch.calls = kvtest::readJliRecord(record);
    return launch;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

std::string findJdkHome() {
    // The same lookup as the demo's: tools/java-home.sh.
    const kvtest::ProcessResult r = kvtest::runProcess({KVTEST_JAVA_HOME});
    return r.exitCode == 0 && !r.out.empty() ? r.out.substr(0, r.out.size() - 1) : std::string();
}

Env jvmEnvironment() {
    Env env{{"KOVALU_DEBUG", std::nullopt},
            {"DYLD_LIBRARY_PATH", std::nullopt},
            {"JAVA_TOOL_OPTIONS", std::nullopt},
            {"JDK_JAVA_OPTIONS", std::nullopt},
            {"_JAVA_OPTIONS", std::nullopt},
            // The runtime decodes its arguments by the locale's character set.
            {"LC_ALL", std::string("C.UTF-8")}};
#ifdef KVTEST_SANITIZED
    // The leak checker's stop-the-world tracer crashes on the JVM's threads
    // at exit; everything else of the sanitizers stays on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(asan && *asan ? std::string(asan) + ":" : "") +
                          "detect_leaks=0";
#endif
    return env;
}

} // namespace e2e
