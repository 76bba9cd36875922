// DetachedProcess on POSIX systems: a double fork. Between fork and exec only
// async-signal-safe calls are made, since other threads (the JVM's) may hold
// any lock at that moment.
#include "DetachedProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Pointers into strings that outlive the fork.
std::vector<char*> pointers(const std::vector<std::string>& items) {
    std::vector<char*> result;
    for (const std::string& item : items) {
        result.push_back(const_cast<char*>(item.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

int highestDescriptor() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 65536;
    }
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
}

[[noreturn]] void execDetached(char* const* argv, char* const* envp, int keptDescriptor,
                               int maxDescriptor, const char* workingDir) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::chdir(workingDir) != 0) {
        ::_exit(127);
    }
    for (int fd = 0; fd < 3; ++fd) {
        ::dup2(null, fd);
    }
    for (int fd = 3; fd < maxDescriptor; ++fd) {
        if (fd != keptDescriptor) {
            ::close(fd);
        }
    }
    if (keptDescriptor >= 0) {
        ::fcntl(keptDescriptor, F_SETFD, 0);
    }
    // The runtime blocks and catches signals of its own; none of that may
    // reach the new process.
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        ::sigaction(sig, &defaultAction, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

} // namespace

namespace DetachedProcess {

bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           int keptDescriptor, const std::string& workingDir) {
    if (argv.empty()) {
        return false;
    }
    const std::vector<char*> args = pointers(argv);
    const std::vector<char*> envp = pointers(env);
    const int maxDescriptor = highestDescriptor();
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // The grandchild is handed to launchd (init) when the child exits, so
        // nobody here has to wait for it.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            execDetached(args.data(), envp.data(), keptDescriptor, maxDescriptor,
                         workingDir.c_str());
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace DetachedProcess
