#ifndef KOVALU_CACHEFILES_H
#define KOVALU_CACHEFILES_H

#include <cstdint>
#include <string>
#include <vector>

/// The file-system tasks of a per-user cache directory. "No" is a normal
/// answer here: nothing throws, failures return false or empty.
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
/// directory (not a link) of that user that the user may write to and no one
/// else may read or write; one that others may only read is given mode 0700.
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

/// The first `count` bytes of a file; fewer when it is shorter or unreadable.
std::string readHead(const std::string& path, std::size_t count);

/// Bytes an unprivileged user may still write on the file system of `dir`;
/// 0 when unknown.
std::uint64_t freeBytes(const std::string& dir);

/// An exclusive lock on a file, tried once without waiting. Released on
/// destruction, and by the system when the process dies.
class ExclusiveLock {
public:
    /// Opens (creating with mode 0600) and tries to lock `path`.
    explicit ExclusiveLock(const std::string& path);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    bool isHeld() const { return fd >= 0; }
    int descriptor() const { return fd; }

private:
    int fd;
};

} // namespace CacheFiles

#endif
