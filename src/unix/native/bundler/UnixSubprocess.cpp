// Subprocess::run, runLimited, findOnPath and stopRunning with posix_spawn,
// pipes and kill.
#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "ErrorHandling.h"
#include "tstrings.h"

extern char** environ;

namespace {

/// The program `run` waits for, for a signal handler to stop.
std::atomic<pid_t> running{0};

class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }

    int get() const { return fd; }
    void reset(int value) {
        close();
        fd = value;
    }
    void close() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
    }

private:
    int fd;
};

struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe(fds) != 0) {
            throw makeException("pipe() failed. Error: " + lastCRTError(), KV_SOURCE_CODE_POS);
        }
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
        read.reset(fds[0]);
        write.reset(fds[1]);
    }

    Fd read;
    Fd write;
};

class FileActions {
public:
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }

    posix_spawn_file_actions_t actions;
};

/// Ends a process group that runs too long: SIGTERM at the deadline, SIGKILL
/// a grace period later; after that the pipes are read no longer, since what
/// left the group may hold them open.
class Deadline {
public:
    Deadline(pid_t group, int seconds) : group(group), next(now() + seconds * 1000) {}

    /// Milliseconds to wait for output, or -1 once it is no longer read.
    int wait() {
        while (now() >= next) {
            if (stage == 2) {
                return -1;
            }
            ::kill(-group, stage == 0 ? SIGTERM : SIGKILL);
            timedOut = true;
            next = now() + (stage == 0 ? graceMs : graceMs / 2);
            ++stage;
        }
        return static_cast<int>(next - now());
    }

    bool timedOut = false;

private:
    static std::int64_t now() {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }

    static const int graceMs = 10000;
    const pid_t group;
    std::int64_t next;
    int stage = 0;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ::posix_spawnattr_init(&attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr); }

    posix_spawnattr_t attr;
};

/// Reads both pipes to their end, so that neither child output can fill up
/// and block the child while the other one is read.
void drain(int outFd, int errFd, ProgramResult& result, Deadline* deadline = nullptr) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int wait = deadline ? deadline->wait() : -1;
        if (deadline && wait < 0) {
            return;
        }
        const int ready = ::poll(fds, 2, wait);
        if (ready == 0) {
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw makeException("poll() failed. Error: " + lastCRTError(), KV_SOURCE_CODE_POS);
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[8192];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof(buf));
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

int statusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw makeException("waitpid() failed. Error: " + lastCRTError(), KV_SOURCE_CODE_POS);
        }
    }
    return statusOf(status);
}

} // namespace

namespace Subprocess {

ProgramResult run(const std::vector<std::string>& argv, const std::string& cwd) {
    Pipe out;
    Pipe err;
    FileActions fa;
    ::posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&fa.actions, out.write.get(), 1);
    ::posix_spawn_file_actions_adddup2(&fa.actions, err.write.get(), 2);
    if (!cwd.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&fa.actions, cwd.c_str());
    }

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv.at(0).c_str(), &fa.actions, nullptr, args.data(),
                                 environ);
    if (rc != 0) {
        throw makeException("cannot start " + argv[0] + ": " + std::strerror(rc),
                            KV_SOURCE_CODE_POS);
    }
    running = pid;
    out.write.close();
    err.write.close();
    ProgramResult result;
    try {
        drain(out.read.get(), err.read.get(), result);
    } catch (...) {
        // Reap the child also when its output could not be read.
        waitFor(pid);
        running = 0;
        throw;
    }
    result.status = waitFor(pid);
    running = 0;
    return result;
}

ProgramResult runLimited(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeoutSeconds, bool& timedOut) {
    Pipe out;
    Pipe err;
    FileActions fa;
    ::posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&fa.actions, out.write.get(), 1);
    ::posix_spawn_file_actions_adddup2(&fa.actions, err.write.get(), 2);
    SpawnAttributes attributes;
    ::posix_spawnattr_setflags(&attributes.attr, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes.attr, 0);

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> vars;
    for (const std::string& v : env) {
        vars.push_back(const_cast<char*>(v.c_str()));
    }
    vars.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv.at(0).c_str(), &fa.actions, &attributes.attr,
                                 args.data(), vars.data());
    if (rc != 0) {
        throw makeException("cannot start " + argv[0] + ": " + std::strerror(rc),
                            KV_SOURCE_CODE_POS);
    }
    running = pid;
    out.write.close();
    err.write.close();
    ProgramResult result;
    Deadline deadline(pid, timeoutSeconds);
    try {
        drain(out.read.get(), err.read.get(), result, &deadline);
        // The output may close before the process ends.
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                result.status = statusOf(status);
                break;
            }
            if (done < 0 && errno != EINTR) {
                throw makeException("waitpid() failed. Error: " + lastCRTError(),
                                    KV_SOURCE_CODE_POS);
            }
            if (deadline.wait() < 0) {
                ::kill(-pid, SIGKILL);
                result.status = waitFor(pid);
                break;
            }
            ::usleep(20000);
        }
    } catch (...) {
        ::kill(-pid, SIGKILL);
        waitFor(pid);
        running = 0;
        throw;
    }
    running = 0;
    timedOut = deadline.timedOut;
    return result;
}

void stopRunning(int signal) {
    const pid_t pid = running;
    if (pid <= 0) {
        return;
    }
    ::kill(pid, signal);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string findOnPath(const std::string& name) {
    const char* path = ::getenv("PATH");
    std::vector<std::string> dirs;
    tstrings::split(dirs, path ? path : "", ":");
    for (const std::string& dir : dirs) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::string();
}

} // namespace Subprocess
