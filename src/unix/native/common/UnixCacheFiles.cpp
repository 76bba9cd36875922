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

std::int64_t mtimeNs(const struct stat& buf) {
#if defined(__APPLE__)
    const struct timespec& t = buf.st_mtimespec;
#else
    const struct timespec& t = buf.st_mtim;
#endif
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool isPrivateDir(const std::string& path) {
    const FileStatus status = getStatus(path, /*followLinks=*/false);
    return status.directory && status.ownedByUser && ::access(path.c_str(), W_OK | X_OK) == 0;
}

} // namespace

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
    status.mtimeNs = mtimeNs(buf);
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
