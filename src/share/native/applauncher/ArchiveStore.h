#ifndef KOVALU_ARCHIVESTORE_H
#define KOVALU_ARCHIVESTORE_H

#include <cstdint>
#include <memory>
#include <string>

#include "CacheFiles.h"

/// The files of one launcher's start-up cache in its private directory:
///   <launcher>-<key>-<size><extension>  a complete archive, its size in the name
///   <launcher>-<key>.tmp                left by a launch while it writes the archive
///   <launcher>-<key>.log                the JVM's sharing messages of the last launch
///   <launcher>-<key>.failed             failed writings: "<count>", or
///                                       "<count> refused <refusals>"
///   <launcher>-<key>.aotconf            what a recording launch saw
///   <launcher>-<key>.shipped            the bundle's own cache: tried, or refused
///   <launcher>.lock                     held by the one launch that writes
/// Nothing here throws: every failure reads as "no".
class ArchiveStore {
public:
    /// What went wrong with writing one key's archive before.
    struct Failures {
        int count = 0;    ///< launches in a row that left no archive the JVM took
        int refusals = 0; ///< the last ones of those whose JVM said why
        std::int64_t lastNs = 0;
    };

    /// The store of launcher `launcherName` in `dir`, for archives of `key`
    /// with file name `extension` (".jsa", ".aot").
    ArchiveStore(const std::string& dir, const std::string& launcherName, const std::string& key,
                 const std::string& extension);

    const std::string& getDir() const { return dir; }

    /// "<dir>/<launcher>-<key><suffix>".
    std::string path(const std::string& suffix) const;

    /// The key's complete archive, beginning with `magic` and as long as its
    /// name says; removes a damaged one. Empty when there is none.
    std::string findArchive(std::uint32_t magic) const;

    /// Gives the complete archive at `written` its final name and evicts the
    /// least recently used keys beyond `keptKeys`. False when it is incomplete.
    bool commit(const std::string& written, std::uint32_t magic, std::size_t keptKeys) const;

    /// Tries once, without waiting, to become the launch that writes.
    bool lock();
    bool isLocked() const { return lock_ && lock_->isHeld(); }
    /// The lock's descriptor, for handing the lock to a process that goes on
    /// writing after this one; -1 when not held.
    int lockDescriptor() const { return isLocked() ? lock_->descriptor() : -1; }
    void unlock() { lock_.reset(); }

    /// The key's record; a record of the old form "refused" reads as one
    /// refusal, and counts are capped at 1000.
    Failures readFailures() const;
    void writeFailures(const Failures& failures) const;
    void clearFailures() const;

    /// The first `count` bytes of the JVM's messages of the key's last launch.
    std::string readJvmLog(std::size_t count) const;

    /// True when `name` is one of this launcher's files of some key; gives
    /// that key.
    bool parseName(const std::string& name, std::string& fileKey) const;

    static const std::size_t keyDigits = 16;

private:
    void evict(std::size_t keptKeys) const;

    std::string dir;
    std::string launcherName;
    std::string key;
    std::string extension;
    std::unique_ptr<CacheFiles::ExclusiveLock> lock_;
};

#endif
