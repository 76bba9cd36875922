// OutputCapture on POSIX systems: the collector process and its control channel.
#include "OutputCapture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace OutputCapture {

namespace {

constexpr char droppedText[] = "Output dropped: one launch keeps at most 10485760 bytes here.\n";
static_assert(maxKeptBytes == 10485760, "the dropped line names the bound");

#if defined(MSG_NOSIGNAL)
const int sendFlags = MSG_NOSIGNAL;
#else
const int sendFlags = 0;
#endif

// How long the launcher waits for the collector's answer; a collector that
// was stopped or killed must not stall a failing launch.
const int answerTimeoutMs = 5000;

// The launcher's end of the control socket; -1 while nothing is captured.
int controlFd = -1;
std::mutex controlMutex;

// From here to "the launcher's side" everything runs in the collector, a
// child of a process that may have had threads: only async-signal-safe calls.
struct Collector {
    int file;
    int out;
    int err;
    int control;
    std::uint64_t kept;
    bool dropped;
    bool atLineStart;
    std::size_t tailSize;
    char tail[maxTailBytes];
};

bool writeRaw(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void addToTail(Collector& c, const char* data, std::size_t size) {
    if (size >= maxTailBytes) {
        std::memcpy(c.tail, data + size - maxTailBytes, maxTailBytes);
        c.tailSize = maxTailBytes;
        return;
    }
    const std::size_t keep = c.tailSize + size > maxTailBytes ? maxTailBytes - size : c.tailSize;
    std::memmove(c.tail, c.tail + c.tailSize - keep, keep);
    std::memcpy(c.tail + keep, data, size);
    c.tailSize = keep + size;
}

void keep(Collector& c, const char* data, std::size_t size, bool isError) {
    if (isError) {
        addToTail(c, data, size);
    }
    if (c.dropped || c.file < 0) {
        return;
    }
    const std::uint64_t room = maxKeptBytes - c.kept;
    const std::size_t now = size < room ? size : static_cast<std::size_t>(room);
    // A full disk ends the copying; the launch goes on regardless.
    if (now > 0 && !writeRaw(c.file, data, now)) {
        c.file = -1;
        return;
    }
    c.kept += now;
    if (now > 0) {
        c.atLineStart = data[now - 1] == '\n';
    }
    if (now < size) {
        c.dropped = true;
        if (!c.atLineStart) {
            writeRaw(c.file, "\n", 1);
        }
        writeRaw(c.file, droppedText, sizeof(droppedText) - 1);
    }
}

// Reads what is there now; closes the pipe once every writer has closed it.
void readAvailable(Collector& c, int& fd, bool isError, bool untilEmpty) {
    char buffer[16 * 1024];
    for (int rounds = 0; fd >= 0 && rounds < 256; ++rounds) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n > 0) {
            keep(c, buffer, static_cast<std::size_t>(n), isError);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            ::close(fd);
            fd = -1;
        } else if (errno != EINTR) {
            return;
        }
        if (!untilEmpty) {
            return;
        }
    }
}

// Everything the launcher wrote before asking is in the pipes by now.
void answer(Collector& c) {
    readAvailable(c, c.out, /*isError=*/false, /*untilEmpty=*/true);
    readAvailable(c, c.err, /*isError=*/true, /*untilEmpty=*/true);
    char reply[sizeof(std::uint32_t) + maxTailBytes];
    const std::uint32_t size = static_cast<std::uint32_t>(c.tailSize);
    std::memcpy(reply, &size, sizeof(size));
    std::memcpy(reply + sizeof(size), c.tail, c.tailSize);
    // Never blocks: an answer nobody reads any more is dropped.
    ::send(c.control, reply, sizeof(size) + c.tailSize, sendFlags | MSG_DONTWAIT);
}

[[noreturn]] void collect(Collector& c) {
    while (c.out >= 0 || c.err >= 0) {
        struct pollfd fds[3] = {{c.out, POLLIN, 0}, {c.err, POLLIN, 0}, {c.control, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            continue;
        }
        if (fds[0].revents) {
            readAvailable(c, c.out, /*isError=*/false, /*untilEmpty=*/false);
        }
        if (fds[1].revents) {
            readAvailable(c, c.err, /*isError=*/true, /*untilEmpty=*/false);
        }
        if (fds[2].revents) {
            char request = 0;
            const ssize_t n = ::recv(c.control, &request, 1, 0);
            if (n > 0) {
                answer(c);
            } else if (n == 0 || errno != EINTR) {
                // The launcher is gone; its children may still write.
                ::close(c.control);
                c.control = -1;
            }
        }
    }
    ::_exit(0);
}

// The launcher's side again from here on.

void closeBoth(int fds[2]) {
    ::close(fds[0]);
    ::close(fds[1]);
}

bool makePipes(int out[2], int err[2], int control[2]) {
    if (::pipe(out) != 0) {
        return false;
    }
    if (::pipe(err) != 0) {
        closeBoth(out);
        return false;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, control) != 0) {
        closeBoth(out);
        closeBoth(err);
        return false;
    }
    for (const int fd : {out[0], out[1], err[0], err[1], control[0], control[1]}) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#if defined(SO_NOSIGPIPE)
    const int on = 1;
    ::setsockopt(control[0], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
    ::setsockopt(control[1], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    return true;
}

bool readFully(int fd, char* data, std::size_t size,
               std::chrono::steady_clock::time_point deadline) {
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd pfd = {fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Runs in the first child. Forked twice and in a session of its own, the
// collector is no child of the application, which may end its children, and
// is not ended with its process group, so the last output still arrives.
[[noreturn]] void forkCollector(int file, int out[2], int err[2], int control[2]) {
    ::setsid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[1]);
        ::close(err[1]);
        ::close(control[0]);
        ::fcntl(out[0], F_SETFL, O_NONBLOCK);
        ::fcntl(err[0], F_SETFL, O_NONBLOCK);
        static Collector collector;
        collector = Collector{file, out[0], err[0], control[1], 0, false, true, 0, {}};
        collect(collector);
    }
    ::_exit(pid < 0 ? 1 : 0);
}

} // namespace

std::string droppedLine() {
    return droppedText;
}

bool start(CacheFiles::FileDescriptor file, std::string& error) {
    int out[2], err[2], control[2];
    if (!makePipes(out, err, control)) {
        error = std::string("pipe() failed. Error: ") + std::strerror(errno);
        return false;
    }
    // Whatever is buffered belongs to the old streams.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        forkCollector(file.get(), out, err, control);
    }
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Without a collector nobody would read the pipes.
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "fork() failed for the output collector";
        closeBoth(out);
        closeBoth(err);
        closeBoth(control);
        return false;
    }
    ::close(out[0]);
    ::close(err[0]);
    ::close(control[1]);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::close(out[1]);
    ::close(err[1]);
    const std::lock_guard<std::mutex> guard(controlMutex);
    controlFd = control[0];
    return true;
}

std::string errorTail() {
    const std::lock_guard<std::mutex> guard(controlMutex);
    if (controlFd < 0) {
        return std::string();
    }
    std::cerr.flush();
    std::fflush(stderr);
    const char request = 't';
    if (::send(controlFd, &request, 1, sendFlags) != 1) {
        return std::string();
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(answerTimeoutMs);
    std::uint32_t size = 0;
    char tail[maxTailBytes];
    if (!readFully(controlFd, reinterpret_cast<char*>(&size), sizeof(size), deadline) ||
        size > maxTailBytes || !readFully(controlFd, tail, size, deadline)) {
        // Unanswered, the channel is out of step for good.
        ::close(controlFd);
        controlFd = -1;
        return std::string();
    }
    return std::string(tail, size);
}

} // namespace OutputCapture
