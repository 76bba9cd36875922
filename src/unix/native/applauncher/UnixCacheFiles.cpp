// CacheFiles on POSIX systems: every function, the lock, the descriptor, the
// regular file and the private directory.
#include "CacheFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <thread>

#include "FileUtils.h"
#include "tstrings.h"

namespace CacheFiles {

namespace {

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What the walk to a private directory accepts of each component.
enum class Owner {
    UserOrRoot, ///< above the home: the system's directories and links
    User,       ///< the home and below
};

bool isAcceptedOwner(uid_t uid, Owner owner) {
    return uid == ::geteuid() || (owner == Owner::UserOrRoot && uid == 0);
}

std::string callFailed(const std::string& call, const std::string& path) {
    return call + "(" + path + ") failed. Error: " + std::strerror(errno);
}

// The components of an absolute path; false when one is "..", which would
// lead out of a directory already checked.
bool splitPath(const std::string& path, std::vector<std::string>& parts) {
    std::vector<std::string> names;
    tstrings::split(names, path, "/");
    for (const std::string& name : names) {
        if (name == "..") {
            return false;
        }
        if (!name.empty() && name != ".") {
            parts.push_back(name);
        }
    }
    return true;
}

// One step of the walk: opens the directory `name` in `parent` (its path
// `walked`), creating it first when it is missing and the parent is the
// user's. `owner` says whose it may be; its owner goes to `uid`.
FileDescriptor openStep(int parent, uid_t parentUid, const std::string& name,
                        const std::string& walked, Owner owner, uid_t& uid, std::string& why) {
    struct stat info;
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            why = callFailed("lstat", walked);
            return FileDescriptor();
        }
        // Only inside the user's own directories: a directory that another
        // user (root under sudo, say) made here would lock its owner out.
        if (parentUid != ::geteuid()) {
            why = "\"" + FileUtils::dirname(walked) + "\" belongs to another user";
            return FileDescriptor();
        }
        if ((::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) ||
            ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            why = callFailed("mkdir", walked);
            return FileDescriptor();
        }
    }
    const bool link = S_ISLNK(info.st_mode);
    if (link && !isAcceptedOwner(info.st_uid, owner)) {
        why = "\"" + walked + "\" is a link of another user";
        return FileDescriptor();
    }
    FileDescriptor dir(::openat(parent, name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW)));
    if (!dir.isValid() || ::fstat(dir.get(), &info) != 0) {
        why = callFailed("open", walked);
        return FileDescriptor();
    }
    // A link of the user may still lead to a directory of someone else.
    if (!isAcceptedOwner(info.st_uid, owner)) {
        why = "\"" + walked + "\" belongs to another user";
        return FileDescriptor();
    }
    uid = info.st_uid;
    return dir;
}

// Walks from the root to the absolute `path` one directory at a time by
// descriptor, so that no link of another user is followed and nothing is
// created inside a directory of another user. The directories from the
// `userFrom`-th component on must be the user's. Returns the last one, given
// mode 0700, or an invalid descriptor and `why`.
FileDescriptor openPrivateDir(const std::string& path, std::size_t userFrom, std::string& why) {
    std::vector<std::string> parts;
    if (!splitPath(path, parts)) {
        why = "\"" + path + "\" is not a plain path";
        return FileDescriptor();
    }
    FileDescriptor current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current.isValid()) {
        why = callFailed("open", "/");
    }
    uid_t uid = 0;
    std::string walked;
    for (std::size_t i = 0; i < parts.size() && current.isValid(); ++i) {
        walked += "/" + parts[i];
        current = openStep(current.get(), uid, parts[i], walked,
                           i >= userFrom ? Owner::User : Owner::UserOrRoot, uid, why);
    }
    struct stat info;
    if (current.isValid() && ::fstat(current.get(), &info) != 0) {
        why = callFailed("fstat", walked);
        return FileDescriptor();
    }
    // What others could write there (an archive the JVM maps, say) would run
    // as this user's code; a directory they could only read is closed to them.
    if (current.isValid() && (info.st_mode & 0022) != 0) {
        why = "\"" + walked + "\" may be written by other users";
        return FileDescriptor();
    }
    if (current.isValid() && (info.st_mode & 07777) != 0700 && ::fchmod(current.get(), 0700) != 0) {
        why = callFailed("chmod", walked);
        return FileDescriptor();
    }
    return current;
}

std::size_t componentCount(const std::string& path) {
    std::vector<std::string> parts;
    splitPath(path, parts);
    return parts.size();
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Waits a little for another launch that appends right now; one that hangs
// while holding the lock must not stall this one, which then goes on without.
void lockBriefly(int fd) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
    if (path.empty() || !FileUtils::isDirSeparator(path[0])) {
        return false;
    }
    std::string why;
    const std::size_t count = componentCount(path);
    return count > 0 && openPrivateDir(path, count - 1, why).isValid();
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
    const bool written = writeAll(fd, content);
    return ::close(fd) == 0 && written;
}

std::string readHead(const std::string& path, std::size_t count) {
    std::string head;
    // O_NONBLOCK: a FIFO planted in the cache must not stall the launch.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return head;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
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

std::uint64_t fileSizeLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return UINT64_MAX;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

RegularFile::RegularFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (!fd.isValid() || ::fstat(fd.get(), &info) != 0) {
        why = callFailed("open", path);
        fd = FileDescriptor();
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "\"" + path + "\" is not a regular file";
        fd = FileDescriptor();
        return;
    }
    bytes = static_cast<std::uint64_t>(info.st_size);
}

bool RegularFile::readAt(std::uint64_t offset, std::size_t count, std::string& out) const {
    if (!isOpen() || offset > bytes || count > bytes - offset) {
        return false;
    }
    out.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd.get(), &out[done], count - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// The lock file, opened without following a link and without waiting; what
// is not a regular file of the user is removed and the file made anew once.
int openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            return fd;
        }
        if (fd >= 0) {
            ::close(fd);
        } else if (errno != ELOOP) {
            return -1;
        }
        ::unlink(path.c_str());
    }
    return -1;
}

} // namespace

ExclusiveLock::ExclusiveLock(const std::string& path) : fd(openLockFile(path)) {
    // With a standard stream closed, the lock would take its number, and the
    // application's output would go into the lock file.
    if (fd >= 0 && fd < 3) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
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

FileDescriptor::~FileDescriptor() {
    if (fd >= 0) {
        ::close(fd);
    }
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = other.release();
    }
    return *this;
}

int FileDescriptor::release() {
    const int result = fd;
    fd = -1;
    return result;
}

PrivateDir::PrivateDir(const std::string& home, const std::string& rel)
    : path(FileUtils::combinePath(home, rel)) {
    // A relative home would put the files wherever the launch was started from.
    if (home.empty() || home[0] != '/') {
        fail("HOME \"" + home + "\" is not an absolute path");
        return;
    }
    // From the home's own component on, everything must be the user's.
    const std::size_t homeParts = componentCount(home);
    dir = openPrivateDir(path, homeParts > 0 ? homeParts - 1 : 0, why);
}

bool PrivateDir::fail(const std::string& text) {
    why = text;
    return false;
}

bool PrivateDir::failCall(const std::string& call, const std::string& name) {
    return fail(callFailed(call, FileUtils::combinePath(path, name)));
}

bool PrivateDir::append(const std::string& name, const std::string& data,
                        std::uint64_t maxSize) {
    if (!isOpen()) {
        return false;
    }
    const std::string older = name + ".1";
    // Each pass either writes or sees the file moved aside, by this launch or
    // another one, and opens the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        // O_NONBLOCK: a FIFO planted at the path must not stall a failing launch.
        const FileDescriptor file(
            ::openat(dir.get(), name.c_str(),
                     O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        struct stat opened;
        if (!file.isValid() || ::fstat(file.get(), &opened) != 0) {
            return failCall("open", name);
        }
        if (!S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
            return fail("\"" + FileUtils::combinePath(path, name) +
                        "\" is not a regular file of this user");
        }
        lockBriefly(file.get());
        struct stat current;
        if (::fstatat(dir.get(), name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
            current.st_dev != opened.st_dev || current.st_ino != opened.st_ino) {
            continue;
        }
        if (static_cast<std::uint64_t>(current.st_size) > maxSize &&
            ::renameat(dir.get(), name.c_str(), dir.get(), older.c_str()) == 0) {
            continue;
        }
        return writeAll(file.get(), data) || failCall("write", name);
    }
    return fail("\"" + FileUtils::combinePath(path, name) + "\" keeps being replaced");
}

FileDescriptor PrivateDir::createFresh(const std::string& name) {
    if (!isOpen()) {
        return FileDescriptor();
    }
    const std::string older = name + ".1";
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (::renameat(dir.get(), name.c_str(), dir.get(), older.c_str()) != 0 &&
            errno != ENOENT) {
            ::unlinkat(dir.get(), name.c_str(), 0);
        }
        FileDescriptor file(::openat(dir.get(), name.c_str(),
                                     O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW |
                                         O_CLOEXEC,
                                     0600));
        if (file.isValid()) {
            return file;
        }
        // Another launch created it between the move and the creation.
        if (errno != EEXIST) {
            break;
        }
    }
    failCall("open", name);
    return FileDescriptor();
}

} // namespace CacheFiles
