#include "E2eSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

// The second child of the double fork: it execs the launcher once its parent
// has exited and the system has handed it over.
[[noreturn]] void execOrphaned(const std::string& exe, const Env& env, pid_t parent0, int report,
                               int done) {
    for (int i = 0; i < 20000 && ::getppid() == parent0; ++i) {
        ::usleep(1000);
    }
    const long parent = static_cast<long>(::getppid());
    if (::write(report, &parent, sizeof(parent)) != sizeof(parent) || parent != 1) {
        ::_exit(0);
    }
    for (const auto& kv : env) {
        if (kv.second) {
            ::setenv(kv.first.c_str(), kv.second->c_str(), 1);
        } else {
            ::unsetenv(kv.first.c_str());
        }
    }
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    // Inherited by the launcher and whatever it starts: its end is the end of all of them.
    ::fcntl(done, F_SETFD, 0);
    char* const argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    ::execv(exe.c_str(), argv);
    ::_exit(127);
}

} // namespace

bool runAsLaunchServices(const std::string& exe, const Env& env, std::string& why) {
    int report[2], done[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(done, O_CLOEXEC) != 0) {
        why = "pipe2 failed";
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const pid_t self = ::getpid();
        if (::fork() == 0) {
            execOrphaned(exe, env, self, report[1], done[1]);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(done[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    long parent = 0;
    const bool reported = ::read(report[0], &parent, sizeof(parent)) == sizeof(parent);
    ::close(report[0]);
    if (!reported || parent != 1) {
        why = "orphaned processes go to process " + std::to_string(parent) + " here, not to 1";
        ::close(done[0]);
        return false;
    }
    struct pollfd pfd = {done[0], POLLIN, 0};
    char byte;
    while (::poll(&pfd, 1, 300 * 1000) > 0 && ::read(done[0], &byte, 1) > 0) {
    }
    ::close(done[0]);
    return true;
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
