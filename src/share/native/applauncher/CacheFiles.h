#ifndef KOVALU_CACHEFILES_H
#define KOVALU_CACHEFILES_H

#include <cstdint>
#include <string>
#include <vector>

/// The file-system tasks of the per-user private directories: the cache and the
/// logs. "No" is a normal answer here: nothing throws, failures return false
/// or empty. A link on the way to such a directory is followed only when the
/// user or root made it.
namespace CacheFiles {

/// What the file system tells about one path, links not followed unless asked.
struct FileStatus {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    bool ownedByUser = false; ///< owned by the effective user
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0; ///< modification time, nanoseconds since the epoch
    /// Change time, device and inode: what no copy (`cp -p`, `touch -r`)
    /// carries over from the file it replaces.
    std::int64_t ctimeNs = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

/// The path and every field of its status as one text, for keys that must
/// change whenever the file is replaced or touched.
std::string identity(const std::string& path, const FileStatus& status);

/// The status of `path`; `exists` is false when it cannot be read.
FileStatus getStatus(const std::string& path, bool followLinks);

/// Creates the missing directories of `path` with mode 0700, only inside
/// directories of the effective user. True when `path` is then a real
/// directory (not a link) of that user with mode 0700, which it is given when
/// it had another; false when a directory or link on the way belongs to
/// another user than the effective one or root, or when others may write to
/// the directory, so that they could have planted what is in it.
bool makePrivateDirs(const std::string& path);

/// The entry names of a directory without "." and ".."; empty on failure.
std::vector<std::string> listDir(const std::string& dir);

/// Sets a file's modification time to now, links not followed; true on success.
bool touch(const std::string& path);

/// Removes a file; true when it is gone.
bool removeFile(const std::string& path);

/// Renames within one directory, replacing `to` atomically; true on success.
bool renameFile(const std::string& from, const std::string& to);

/// Creates `path` with mode 0600 and `content`, failing when anything is
/// there already.
bool createNewFile(const std::string& path, const std::string& content);

/// The first `count` bytes of a regular file, links not followed and never
/// waiting on a FIFO; fewer when it is shorter, empty when it is unreadable
/// or anything but a regular file.
std::string readHead(const std::string& path, std::size_t count);

/// Bytes an unprivileged user may still write on the file system of `dir`;
/// 0 when unknown.
std::uint64_t freeBytes(const std::string& dir);

/// The largest file this process may write (RLIMIT_FSIZE); UINT64_MAX when
/// there is no limit.
std::uint64_t fileSizeLimit();

/// An exclusive lock on a file, tried once without waiting. Released on
/// destruction, and by the system when the process dies. Its descriptor is
/// never one of the standard streams, even when they are closed.
class ExclusiveLock {
public:
    /// Opens (creating with mode 0600) and tries to lock `path`; a link or
    /// anything but a regular file of the user there is removed first.
    explicit ExclusiveLock(const std::string& path);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    bool isHeld() const { return fd >= 0; }
    int descriptor() const { return fd; }

private:
    int fd;
};

/// An open file descriptor, closed on destruction; -1 holds none.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd; }
    bool isValid() const { return fd >= 0; }
    /// Hands the descriptor over; this object then holds none.
    int release();

private:
    int fd;
};

/// A regular file opened for reading at any offset, links followed, without
/// waiting on a FIFO or opening a device for good. Closed on destruction.
class RegularFile {
public:
    /// Opens `path`; `isOpen()` is false and `error()` says why when it
    /// cannot be opened or is no regular file.
    explicit RegularFile(const std::string& path);

    bool isOpen() const { return fd.isValid(); }
    const std::string& error() const { return why; }
    std::uint64_t size() const { return bytes; }
    /// Exactly `count` bytes at `offset` into `out`; false when there are not.
    bool readAt(std::uint64_t offset, std::size_t count, std::string& out) const;

private:
    FileDescriptor fd;
    std::uint64_t bytes = 0;
    std::string why;
};

/// A private directory "<home>/<rel>" opened once and then used only by
/// descriptor, so that no later step goes through a path that may change.
class PrivateDir {
public:
    /// Opens the directory, creating the missing ones with mode 0700. `home`
    /// must be absolute and belong to the effective user, as must everything
    /// below it on the way; the directory itself is given mode 0700 when it
    /// has another. When any of it fails, `isOpen()` is false and `error()`
    /// says why; nothing is created in a home of another user.
    PrivateDir(const std::string& home, const std::string& rel);

    bool isOpen() const { return dir.isValid(); }
    const std::string& getPath() const { return path; }
    /// Why the last step failed.
    const std::string& error() const { return why; }

    /// Appends `data` in one write to the file `name` (created with mode
    /// 0600), first renaming a file over `maxSize` bytes to "<name>.1". A lock
    /// on the file keeps concurrent appenders from losing data; when the
    /// rename is refused (a directory at "<name>.1") the data still goes to
    /// the long file. Refuses anything but a regular file of the user.
    bool append(const std::string& name, const std::string& data, std::uint64_t maxSize);

    /// Moves the file `name` to "<name>.1", replacing that one, and creates
    /// `name` new and empty with mode 0600 for appending; what is in the way
    /// of the move is left and the old file dropped. Invalid on failure.
    FileDescriptor createFresh(const std::string& name);

private:
    bool fail(const std::string& text);
    bool failCall(const std::string& call, const std::string& name);

    std::string path;
    FileDescriptor dir;
    std::string why;
};

} // namespace CacheFiles

#endif
