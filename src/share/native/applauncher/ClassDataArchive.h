#ifndef KOVALU_CLASSDATAARCHIVE_H
#define KOVALU_CLASSDATAARCHIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CacheFiles.h"

class CfgFile;

/// A per-user dynamic class-data-sharing archive of one launcher: the JVM
/// writes it at the exit of a first launch and maps it on later ones. Every
/// doubt leaves the launch as it would be without the archive.
class ClassDataArchive {
public:
    enum class Mode { Off, Write, Use };

    /// The archive of launcher `launcherName` kept in `cacheDir`; an empty
    /// directory turns it off.
    ClassDataArchive(const std::string& cacheDir, const std::string& launcherName);

    /// Chooses the mode for the runtime library `libPath` and the JVM part of
    /// the argument vector (options and main, no application arguments), also
    /// heeding the options and class path the JVM takes from the environment.
    /// Works in the cache directory; throws nothing.
    void plan(const std::string& libPath, const std::vector<std::string>& jvmArgs);

    Mode getMode() const { return mode; }
    /// Why the mode was chosen, for one line of diagnostics.
    const std::string& getReason() const { return reason; }
    /// The JVM options of the chosen mode; empty when off.
    std::vector<std::string> getOptions() const;

    /// In writing mode, once the JVM has exited: gives a complete archive its
    /// final name and removes the launcher's other archives; otherwise records
    /// the failure (an empty archive of size 0) so that the key is not tried
    /// again. Throws nothing.
    void commit();

    /// Commits `archive` when the process exits; only the last one handed
    /// over is kept.
    static void commitAtExit(std::unique_ptr<ClassDataArchive> archive);

    /// "<home>/Library/Caches/<name>", or empty when `home` is not absolute or
    /// `name` is not a plain file name.
    static std::string cacheDirFor(const std::string& home, const std::string& name);

    /// True when the configuration's `app.cds` is exactly "auto".
    static bool isRequested(const CfgFile& cfg);

    /// The directory above the `lib` directory that holds the library; empty
    /// when there is none.
    static std::string runtimeHome(const std::string& realLibPath);

    /// The major version named by JAVA_VERSION in a runtime's release file
    /// ("1.8.0" gives 8); 0 when there is none.
    static int javaMajorVersion(const std::string& releaseText);

    /// The first option that already steers class-data sharing; empty when
    /// there is none.
    static std::string conflictingOption(const std::vector<std::string>& options);

    /// Every class path, module path and main jar entry the JVM arguments
    /// name; the class path the JVM would default to when they name none
    /// (`classPathVariable`, else the current directory for a main class).
    static std::vector<std::string> pathEntries(const std::vector<std::string>& jvmArgs,
                                                const std::string& classPathVariable);

    /// "<launcher>-<key>-<size>.jsa": the size is the one at renaming; 0
    /// records a failed writing.
    static std::string archiveName(const std::string& launcher, const std::string& key,
                                   std::uint64_t size);

    /// Reads back what `archiveName` wrote; false for any other name.
    static bool parseArchiveName(const std::string& launcher, const std::string& fileName,
                                 std::string& key, std::uint64_t& size);

private:
    bool off(const std::string& why);
    bool checkRuntime(const std::string& libPath, std::string& keyText);
    bool checkPaths(const std::vector<std::string>& entries, std::string& keyText);
    bool findArchive();
    bool prepareWriting();
    void removeOtherArchives(const std::string& keep);
    std::string path(const std::string& name) const;

    std::string cacheDir;
    std::string launcherName;
    std::string key;
    std::string archivePath;
    std::string tempPath;
    Mode mode;
    std::string reason;
    std::unique_ptr<CacheFiles::ExclusiveLock> lock;
};

#endif
