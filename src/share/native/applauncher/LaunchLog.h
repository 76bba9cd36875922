#ifndef KOVALU_LAUNCHLOG_H
#define KOVALU_LAUNCHLOG_H

#include <ctime>
#include <string>

#include "CacheFiles.h"

/// The per-user file "<home>/Library/Logs/<name>/<launcher name>.log" that
/// keeps one line for each failed launch, where standard error reaches nobody,
/// and beside it "<launcher name>-output.log", the output of the last launch
/// opened from the Finder ("-output.log.1" the one before).
class LaunchLog {
public:
    /// A file over this many bytes is renamed to "<file>.1" before the next record.
    static const long long maxFileSize = 1024 * 1024;

    /// The log of launcher `launcherName` in the folder `name` below `home`;
    /// throws when `home` is not an absolute path.
    LaunchLog(const std::string& home, const std::string& name, const std::string& launcherName);

    const std::string& getPath() const { return path; }

    /// The log's folder name: the package name when it is one plain path
    /// component, else the launcher's name.
    static std::string folderName(const std::string& packageName, const std::string& launcherName);

    /// "<UTC time, ISO 8601> <pid> <executable>: <message>" and a line feed;
    /// line breaks inside are written as "\n" and "\r" so a record stays one line.
    static std::string formatRecord(std::time_t time, long pid, const std::string& executable,
                                    const std::string& message);

    /// True when a file of `size` bytes is rotated before the next record.
    static bool needsRotation(long long size);

    /// Creates the missing directories below home (mode 0700), rotates the
    /// file when due and appends `record` in one write, never following a
    /// symbolic link at the file's path. Throws when any step fails.
    void append(const std::string& record) const;

    /// Moves the last launch's output file aside and creates a new one in
    /// the log's folder, made as for `append`; throws when that fails.
    CacheFiles::FileDescriptor createOutputFile() const;

private:
    std::string home;
    std::string folder; ///< below home
    std::string launcherName;
    std::string path;
};

#endif
