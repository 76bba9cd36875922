// CacheFiles on POSIX systems: every function and the lock.
#include "CacheFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "FileUtils.h"

namespace CacheFiles {

namespace {

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Others may neither write nor look: what another user could plant in a
// cache (an archive the JVM maps, say) would run as this user's code. A
// directory of the user's that others could only read (one the application
// made itself, say) holds nothing planted and is closed.
bool isPrivateDir(const std::string& path) {
    struct stat buf;
    if (::lstat(path.c_str(), &buf) != 0 || !S_ISDIR(buf.st_mode) ||
        buf.st_uid != ::geteuid() || (buf.st_mode & 0022) != 0) {
        return false;
    }
    return ((buf.st_mode & 0077) == 0 || ::chmod(path.c_str(), 0700) == 0) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

} // namespace

std::string identity(const std::string& path, const FileStatus& status) {
    std::string text = path;
    for (const std::uint64_t field :
         {static_cast<std::uint64_t>(status.exists), status.size,
          static_cast<std::uint64_t>(status.mtimeNs), static_cast<std::uint64_t>(status.ctimeNs),
          status.device, status.inode}) {
        text += '\0';
        text += std::to_string(field);
    }
    text += '\0';
    return text;
}

FileStatus getStatus(const std::string& path, bool followLinks) {
    struct stat buf;
    FileStatus status;
    const int rc = followLinks ? ::stat(path.c_str(), &buf) : ::lstat(path.c_str(), &buf);
    if (rc != 0) {
        return status;
    }
    status.exists = true;
    status.regular = S_ISREG(buf.st_mode);
    status.directory = S_ISDIR(buf.st_mode);
    status.ownedByUser = buf.st_uid == ::geteuid();
    status.size = static_cast<std::uint64_t>(buf.st_size);
#if defined(__APPLE__)
    status.mtimeNs = nanoseconds(buf.st_mtimespec);
    status.ctimeNs = nanoseconds(buf.st_ctimespec);
#else
    status.mtimeNs = nanoseconds(buf.st_mtim);
    status.ctimeNs = nanoseconds(buf.st_ctim);
#endif
    status.device = static_cast<std::uint64_t>(buf.st_dev);
    status.inode = static_cast<std::uint64_t>(buf.st_ino);
    return status;
}

bool makePrivateDirs(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    if (getStatus(path, /*followLinks=*/false).exists) {
        return isPrivateDir(path);
    }
    const std::string parent = FileUtils::dirname(path);
    if (parent.empty() || parent == path) {
        return false;
    }
    // Only inside the user's own directories: a cache that another user (root
    // under sudo, say) made in this user's home would lock its owner out.
    const FileStatus parentStatus = getStatus(parent, /*followLinks=*/true);
    if (parentStatus.exists ? !(parentStatus.directory && parentStatus.ownedByUser)
                            : !makePrivateDirs(parent)) {
        return false;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return isPrivateDir(path);
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* handle = ::opendir(dir.c_str());
    if (!handle) {
        return names;
    }
    while (const struct dirent* entry = ::readdir(handle)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(handle);
    return names;
}

bool touch(const std::string& path) {
    return ::utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool renameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool createNewFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && done == content.size();
}

std::string readHead(const std::string& path, std::size_t count) {
    std::string head;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return head;
    }
    head.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, &head[done], count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    head.resize(done);
    return head;
}

std::uint64_t freeBytes(const std::string& dir) {
    struct statvfs buf;
    if (::statvfs(dir.c_str(), &buf) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(buf.f_bavail) * buf.f_frsize;
}

ExclusiveLock::ExclusiveLock(const std::string& path)
    : fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
    }
}

ExclusiveLock::~ExclusiveLock() {
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace CacheFiles
