// BundleFiles::makeUniqueDir, makeUniqueFile, renamePath, errorText,
// TempPath, InUse and RemovedOnSignal with mkdtemp, mkstemp, rename, the
// file-system library, flock, sigaction and /bin/rm.
#include "BundleFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "ErrorHandling.h"
#include "Subprocess.h"

extern char** environ;

namespace {

// What the signal handler runs: /bin/rm -rf -- PATH, built before any signal.
char* removeArgv[5] = {};
struct sigaction previousInt;
struct sigaction previousTerm;

void onSignal(int signal) {
    Subprocess::stopRunning(signal);
    if (removeArgv[3]) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execve(removeArgv[0], removeArgv, environ);
            ::_exit(127);
        }
        int status = 0;
        while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::vector<char> pattern(const std::string& prefix) {
    const std::string text = prefix + "XXXXXX";
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

} // namespace

namespace BundleFiles {

std::string makeUniqueDir(const std::string& prefix) {
    std::vector<char> path = pattern(prefix);
    if (!::mkdtemp(path.data())) {
        throw makeException("cannot create a directory " + prefix + "XXXXXX: " + lastCRTError(),
                            KV_SOURCE_CODE_POS);
    }
    return path.data();
}

std::string makeUniqueFile(const std::string& prefix) {
    std::vector<char> path = pattern(prefix);
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        throw makeException("cannot create a file " + prefix + "XXXXXX: " + lastCRTError(),
                            KV_SOURCE_CODE_POS);
    }
    ::close(fd);
    return path.data();
}

int renamePath(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string errorText(int error) {
    return std::strerror(error);
}

TempPath::~TempPath() {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

InUse::InUse(const std::string& dir) {
    const std::string lock = dir + "/.lock";
    fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        throw makeException("cannot lock " + lock + ": " + lastCRTError(), KV_SOURCE_CODE_POS);
    }
}

InUse::~InUse() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool InUse::isAbandoned(const std::string& dir) {
    const std::string lock = dir + "/.lock";
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return abandoned;
}

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
    removeArgv[0] = ::strdup("/bin/rm");
    removeArgv[1] = ::strdup("-rf");
    removeArgv[2] = ::strdup("--");
    removeArgv[3] = ::strdup(path.c_str());
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // A signal the process was started to ignore stays ignored.
    for (const auto& [signal, previous] : {std::make_pair(SIGINT, &previousInt),
                                           std::make_pair(SIGTERM, &previousTerm)}) {
        ::sigaction(signal, nullptr, previous);
        if (previous->sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

RemovedOnSignal::~RemovedOnSignal() {
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    for (char*& arg : removeArgv) {
        ::free(arg);
        arg = nullptr;
    }
}

} // namespace BundleFiles
