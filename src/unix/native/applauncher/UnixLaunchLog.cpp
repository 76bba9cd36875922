// LaunchLog: append.
#include "LaunchLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace {

[[noreturn]] void throwCallFailed(const std::string& call) {
    const std::string error = lastCRTError();
    throw makeException(tstrings::any() << call << " failed. Error: " << error, KV_SOURCE_CODE_POS);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() { ::close(fd); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd; }

private:
    int fd;
};

// Creates `dir` and its missing parents below `home`, which must exist.
void makeDirsBelow(const std::string& home, const std::string& dir) {
    std::vector<std::string> missing;
    for (std::string d = dir; d.size() > home.size();) {
        missing.push_back(d);
        const std::string parent = FileUtils::dirname(d);
        if (parent.size() >= d.size()) {
            break;
        }
        d = parent;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            throwCallFailed("mkdir(" + *it + ")");
        }
    }
}

// Only a regular file is renamed: a link or anything else at the path is
// left where it is, and the open that follows refuses it.
void rotateIfDue(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throwCallFailed("lstat(" + path + ")");
    }
    if (S_ISREG(info.st_mode) && LaunchLog::needsRotation(info.st_size) &&
        ::rename(path.c_str(), (path + ".1").c_str()) != 0) {
        throwCallFailed("rename(" + path + ", " + path + ".1)");
    }
}

void writeAll(int fd, const std::string& path, const std::string& data) {
    std::string::size_type done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throwCallFailed("write(" + path + ")");
        }
        done += static_cast<std::string::size_type>(n);
    }
}

} // namespace

void LaunchLog::append(const std::string& record) const {
    makeDirsBelow(home, dir);
    rotateIfDue(path);
    // O_NONBLOCK: a FIFO planted at the path must not stall a failing launch.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                          0600);
    if (fd < 0) {
        throwCallFailed("open(" + path + ")");
    }
    const FileDescriptor file(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        throwCallFailed("fstat(" + path + ")");
    }
    if (!S_ISREG(info.st_mode)) {
        throw makeException(tstrings::any() << "\"" << path << "\" is not a regular file",
                            KV_SOURCE_CODE_POS);
    }
    writeAll(fd, path, record);
}
