#ifndef KOVALU_CLASSDATAARCHIVE_H
#define KOVALU_CLASSDATAARCHIVE_H

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ArchiveStore.h"
#include "ShippedCache.h"

class CfgFile;

/// The per-user start-up cache of one launcher: on runtimes 13 to 24 a
/// dynamic class-data-sharing archive that the JVM writes at the exit of a
/// first launch; from 25 on an ahead-of-time cache, recorded by a first
/// launch and created after it by the launcher started again in a mode of its
/// own. Later launches map it. Every doubt leaves the launch as it would be
/// without the cache.
class ClassDataArchive {
public:
    enum class Mode { Off, Write, Use, Create, Train };

    /// Set only in the environment of the launcher that creates an
    /// ahead-of-time cache after a recording launch: to the common part of
    /// the paths of the key's files, "<cache>/<launcher>-<key>", which the
    /// launch must match.
    static const char* const createStepVariable;

    /// Takes `createStepVariable` out of this process's environment and
    /// returns its value, empty when it was not set. Throws nothing.
    static std::string takeCreateStepValue();

    /// True when `value` is "<cacheDir>/<launcherName>-<key>", what a launch
    /// of this launcher sets for its create step; anything else in a user's
    /// environment is no create step.
    static bool isRecordingPath(const std::string& value, const std::string& cacheDir,
                                const std::string& launcherName);

    /// The archive of launcher `launcherName` kept in `cacheDir`; an empty
    /// directory turns it off.
    ClassDataArchive(const std::string& cacheDir, const std::string& launcherName);

    /// Makes this the create step of the recording `recording` (a value that
    /// `isRecordingPath` accepts): `plan` then chooses Create or Off, and on
    /// Off the launch must end without starting the JVM.
    void setCreateStep(const std::string& recording);
    bool isCreateStep() const { return !createStep.empty(); }

    /// Offers the cache shipped in the bundle at `path`, which an ahead-of-time
    /// cache's launch maps first; call before `plan`.
    void offerShipped(const std::string& path) { shippedPath = path; }

    /// True when the launch only creates a cache and runs no application.
    bool onlyCreates() const;
    /// True for the bundle tool's create step, which must not run the
    /// application whatever the plan.
    bool isTrainingCreate() const {
        return training.step == ShippedCache::Training::Step::Create;
    }

    /// Chooses the mode for the runtime library `libPath` and the JVM part of
    /// the argument vector (options and main, no application arguments), also
    /// heeding the options and class path the JVM takes from the environment.
    /// `launcherPath` starts the create step. Works in the cache directory;
    /// throws nothing.
    void plan(const std::string& libPath, const std::vector<std::string>& jvmArgs,
              const std::string& launcherPath);

    Mode getMode() const { return mode; }
    /// Why the mode was chosen, for one line of diagnostics.
    const std::string& getReason() const { return reason; }
    /// The JVM options of the chosen mode; empty when off.
    std::vector<std::string> getOptions() const;

    /// Once the JVM has exited after writing or creating: names a complete
    /// archive, starts the create step after a recording, or counts the
    /// failure. Throws nothing.
    void commit();

    /// Commits `archive` when the process exits; only the last one handed
    /// over is kept.
    static void commitAtExit(std::unique_ptr<ClassDataArchive> archive);

    /// `output` without the line in which the runtime reports, at the exit
    /// of this launch, the recording it made for the ahead-of-time cache.
    std::string withoutRecordingReport(const std::string& output) const;
    /// `withoutRecordingReport` of the archive handed to `commitAtExit`;
    /// `output` itself when there is none.
    static std::string withoutPendingRecordingReport(const std::string& output);

    /// "<home>/Library/Caches/<name>", or empty when `home` is not absolute or
    /// `name` is not a plain file name.
    static std::string cacheDirFor(const std::string& home, const std::string& name);

    /// True when the configuration's `app.cds` is exactly "auto".
    static bool isRequested(const CfgFile& cfg);

    /// A key of `keyDigits` hexadecimal digits for the text of a launch's inputs.
    static std::string makeKey(const std::string& text);

    /// Writing launches that may end unfinished before a key rests.
    static const int maxAttempts = 3;
    /// Refusals by the JVM in a row after which a key is never written again.
    static const int maxRefusals = 3;
    /// Keys whose archives are kept per launcher.
    static const std::size_t keptKeys = 4;

    /// How one kind of runtime caches its start.
    struct Mechanism;

private:

    bool off(const std::string& why);
    void planChecked(const std::string& libPath, const std::vector<std::string>& jvmArgs);
    bool identifyPaths(const std::vector<std::string>& jvmArgs, std::string& keyText);
    bool identifyManifestJars(const std::string& jar, std::string& keyText,
                              std::set<std::string>& seen);
    bool jvmLogUsable();
    void planWithStore();
    bool planCreate(const std::string& key);
    void abandonCreation();
    bool planTraining();
    bool useIfClean(const std::string& archive);
    bool prepareWriting();
    void countFailure();
    void commitWriting();
    void commitCreation();
    std::string logSelection(const char* level) const;
    std::string logOption(const char* level) const;

    std::string cacheDir;
    std::string launcherName;
    std::string launcherPath;
    std::string createStep;
    const Mechanism* mechanism = nullptr;
    std::unique_ptr<ArchiveStore> store;
    std::string archivePath;
    std::string shippedPath;
    ShippedCache::Training training;
    Mode mode;
    std::string reason;
};

#endif
