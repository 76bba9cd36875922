#ifndef KOVALU_BUNDLEFILES_H
#define KOVALU_BUNDLEFILES_H

#include <string>

/// The file-system steps that put a bundle in place atomically.
namespace BundleFiles {

/// Creates a new directory, readable only by its owner, named `prefix`
/// followed by six random characters, and returns its path; throws when it
/// cannot.
std::string makeUniqueDir(const std::string& prefix);

/// Creates a new empty file, readable only by its owner, named `prefix`
/// followed by six random characters, and returns its path; throws when it
/// cannot.
std::string makeUniqueFile(const std::string& prefix);

/// Renames `from` to `to` with one rename(2): a file `to` is replaced, a
/// directory `to` only when empty. Returns 0, or the errno of the failure.
int renamePath(const std::string& from, const std::string& to);

/// The system's text for an errno value.
std::string errorText(int error);

/// The last '/'-separated component of `path`: on macOS a backslash is part
/// of a file's name.
std::string fileName(const std::string& path);

/// True when the real path `inner` is `outer` or lies below it.
bool isWithin(const std::string& inner, const std::string& outer);

/// Writes `text` to the file `path`, replacing it; throws "cannot write PATH".
void writeText(const std::string& path, const std::string& text);

/// The content of the file `path`; throws "cannot open PATH" or "cannot read PATH".
std::string readText(const std::string& path);

/// The real path of an existing file or directory; throws "cannot resolve
/// WHAT PATH: REASON" when a link cycle or the like stands in the way.
std::string realPath(const std::string& path, const std::string& what);

/// Whether a path exists, links followed; a link cycle is an error, not "no".
bool exists(const std::string& path, const std::string& what);

/// Whether `path` is a directory, links followed; "no" when it cannot tell.
bool isDirectory(const std::string& path);

/// Whether `path` is a regular file, links followed; "no" when it cannot tell.
bool isRegularFile(const std::string& path);

/// Whether `path` itself, not followed, exists (a dangling link does).
bool existsAsIs(const std::string& path);

/// Creates the directory `path` and its missing parents; throws when it cannot.
void makeDirs(const std::string& path);

/// Sets the permission bits of `path` (0755 and the like); throws when it cannot.
void setMode(const std::string& path, unsigned mode);

/// Copies the file or tree `from` to the new path `to`, links followed when
/// `followLinks`, else kept as links; throws "cannot copy FROM: REASON".
void copyTree(const std::string& from, const std::string& to, bool followLinks);

/// Removes a path and everything below it on destruction unless released.
class TempPath {
public:
    TempPath() = default;
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;
    ~TempPath();

    void reset(const std::string& value) { path = value; }
    void release() { path.clear(); }
    const std::string& get() const { return path; }

private:
    std::string path;
};

/// Marks a directory as in use by this process, with a lock on its file
/// ".lock" that the system releases when the process ends, however it ends.
class InUse {
public:
    /// Creates `dir`/.lock and locks it; throws when it cannot.
    explicit InUse(const std::string& dir);
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;
    ~InUse();

    /// True when `dir` was marked in use by a process that has ended; false
    /// for a directory in use, or never marked.
    static bool isAbandoned(const std::string& dir);

private:
    int fd = -1;
};

/// While it exists, SIGINT and SIGTERM stop the program being run, remove
/// `path` and everything below it, then end the process as the signal does.
/// One at a time.
class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::string& path);
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;
    ~RemovedOnSignal();
};

} // namespace BundleFiles

#endif
