#include "ClassDataArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <set>

#include "CfgFile.h"
#include "DetachedProcess.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "JvmArgScan.h"
#include "RuntimeFacts.h"
#include "SysInfo.h"
#include "tstrings.h"

extern char** environ;

struct ClassDataArchive::Mechanism {
    const char* name;
    const char* extension;
    /// The first word of every complete archive; the JVM writes its header
    /// last, so an archive cut short lacks it.
    std::uint32_t magic;
    /// The log tags of the JVM's sharing messages.
    std::vector<std::string> tags;
};

namespace {

const ClassDataArchive::Mechanism* dynamicArchive() {
    static const ClassDataArchive::Mechanism m{
        "dynamic archive", ".jsa", 0xf00baba8, {"cds", "cds+dynamic"}};
    return &m;
}

const ClassDataArchive::Mechanism* aheadOfTimeCache() {
    static const ClassDataArchive::Mechanism m{
        "ahead-of-time cache", ".aot", 0xf00baba2, {"aot", "cds"}};
    return &m;
}

// A disk this close to full cannot take an archive at exit, and the JVM would
// then turn the application's success into a failure.
const std::uint64_t minFreeBytes = 256ull * 1024 * 1024;

// A key whose writing launches kept ending unfinished is tried again after this.
const std::chrono::hours restAfterAttempts(24);

// Jars named by manifests, recursively, beyond which a launch is in doubt.
const std::size_t maxManifestJars = 4096;

// What the runtime prints at the exit of a recording launch.
const char* const recordingReport = "AOTConfiguration recorded: ";

ClassDataArchive* pendingArchive = nullptr;

void commitPendingArchive() {
    if (pendingArchive) {
        pendingArchive->commit();
    }
}

std::string envValue(const char* name) {
    return SysInfo::getEnvVariable(std::nothrow, name, std::string());
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The JVM's messages name the level of each line; one at error level means
// that the JVM itself gave up, which no later launch changes.
bool hasError(const std::string& jvmLog) {
    return jvmLog.find("[error") != std::string::npos;
}

} // namespace

const char* const ClassDataArchive::createStepVariable = "KOVALU_AOT_CREATE";

ClassDataArchive::ClassDataArchive(const std::string& cacheDir, const std::string& launcherName)
    : cacheDir(cacheDir), launcherName(launcherName), mode(Mode::Off), reason("not planned") {}

bool ClassDataArchive::off(const std::string& why) {
    if (store && (mode == Mode::Write || mode == Mode::Create)) {
        CacheFiles::removeFile(store->path(".tmp"));
    }
    mode = Mode::Off;
    reason = why;
    ShippedCache::noteOff(training, launcherName, why);
    if (store) {
        store->unlock();
    }
    return false;
}

std::string ClassDataArchive::takeCreateStepValue() {
    const std::string value = envValue(createStepVariable);
    // Neither the runtime nor the application may see it, nor a create step
    // started from this launch inherit it.
    SysInfo::unsetEnvVariable(createStepVariable);
    return value;
}

bool ClassDataArchive::isRecordingPath(const std::string& value, const std::string& cacheDir,
                                       const std::string& launcherName) {
    const std::string prefix = FileUtils::combinePath(cacheDir, launcherName + "-");
    if (cacheDir.empty() || launcherName.empty() || !tstrings::startsWith(value, prefix) ||
        value.size() != prefix.size() + ArchiveStore::keyDigits) {
        return false;
    }
    return value.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

void ClassDataArchive::setCreateStep(const std::string& recording) {
    createStep = recording;
}

void ClassDataArchive::plan(const std::string& libPath, const std::vector<std::string>& jvmArgs,
                            const std::string& launcherPath) {
    this->launcherPath = launcherPath;
    try {
        training = ShippedCache::takeTraining();
        planChecked(libPath, jvmArgs);
    } catch (const std::exception& e) {
        off(std::string("failed: ") + e.what());
    }
    try {
        if (isCreateStep() && mode != Mode::Create) {
            abandonCreation();
        }
    } catch (const std::exception&) {
        // Without its cleaning the next writing launch counts the recording.
    }
}

void ClassDataArchive::planChecked(const std::string& libPath,
                                   const std::vector<std::string>& jvmArgs) {
    if (cacheDir.empty()) {
        off("no home directory or no usable cache name");
        return;
    }
    // The JVM reads these paths as lists and log file names, where ':'
    // separates and '%' expands.
    if (cacheDir.find_first_of(":%") != std::string::npos) {
        off("cache directory \"" + cacheDir + "\" holds ':' or '%'");
        return;
    }
    const RuntimeFacts runtime = RuntimeFacts::read(libPath);
    if (runtime.home.empty()) {
        off("no lib directory above the runtime library \"" + runtime.identity + "\"");
        return;
    }
    if (runtime.javaVersion >= 25 && JvmArgScan::startsClassBesideModulePath(jvmArgs)) {
        // The ahead-of-time cache changed what such an application did; the
        // dynamic archive kept it.
        if (!runtime.hasBaseArchive) {
            off("a main class beside a module path, and no base archive \"" +
                FileUtils::combinePath(runtime.home, "lib/server/classes.jsa") + "\"");
            return;
        }
        mechanism = dynamicArchive();
    } else if (runtime.javaVersion >= 25) {
        mechanism = aheadOfTimeCache();
    } else if (runtime.javaVersion < 13) {
        off("\"" + FileUtils::combinePath(runtime.home, "release") +
            "\" names no JAVA_VERSION of 13 or later");
        return;
    } else if (!runtime.hasBaseArchive) {
        off("the runtime has no base archive \"" +
            FileUtils::combinePath(runtime.home, "lib/server/classes.jsa") + "\"");
        return;
    } else {
        mechanism = dynamicArchive();
    }
    std::vector<std::string> options = jvmArgs;
    std::string keyText;
    for (const char* name : JvmArgScan::optionVariables) {
        const std::string value = envValue(name);
        keyText += value + '\0';
        const std::vector<std::string> words = JvmArgScan::splitOptions(value);
        options.insert(options.end(), words.begin(), words.end());
    }
    const std::string conflict = JvmArgScan::conflictingOption(options, runtime.javaVersion);
    if (!conflict.empty()) {
        off("option \"" + conflict + "\" steers class-data sharing or is refused next to it");
        return;
    }
    keyText += runtime.identity;
    if (!identifyPaths(jvmArgs, keyText)) {
        return;
    }
    for (const std::string& arg : jvmArgs) {
        keyText += arg + '\0';
    }
    if (training.step != ShippedCache::Training::Step::None) {
        planTraining();
        return;
    }
    if (!CacheFiles::makePrivateDirs(cacheDir)) {
        off("cache directory \"" + cacheDir + "\" is not a private directory of this user");
        return;
    }
    if (isCreateStep()) {
        planCreate(makeKey(keyText));
        return;
    }
    store.reset(new ArchiveStore(cacheDir, launcherName, makeKey(keyText), mechanism->extension));
    planWithStore();
}

// The identity of every jar; the JVM archives the jars of a module path
// directory too, and those that class path jars name in their manifests, so
// their identities count, but a directory of classes leaves nothing it could
// check.
bool ClassDataArchive::identifyPaths(const std::vector<std::string>& jvmArgs,
                                     std::string& keyText) {
    const std::vector<JvmArgScan::PathEntry> entries =
        JvmArgScan::pathEntries(jvmArgs, envValue("CLASSPATH"));
    std::set<std::string> seen;
    for (const JvmArgScan::PathEntry& entry : entries) {
        // The create step starts in the root directory, not in this one.
        if (mechanism == aheadOfTimeCache() && !FileUtils::isDirSeparator(entry.path[0])) {
            return off("class or module path entry \"" + entry.path + "\" is relative");
        }
        // The runtime's launcher expands it to the jars of the directory, in
        // an order of its own.
        if (!entry.onModulePath && FileUtils::basename(entry.path) == "*") {
            return off("class path entry \"" + entry.path + "\" is a wildcard");
        }
        const CacheFiles::FileStatus status = CacheFiles::getStatus(entry.path, true);
        keyText += CacheFiles::identity(entry.path, status);
        if (status.regular) {
            if (!entry.onModulePath &&
                !identifyManifestJars(FileUtils::toAbsolutePath(entry.path), keyText, seen)) {
                return false;
            }
            continue;
        }
        if (!entry.onModulePath || !status.directory) {
            return off("class or module path entry \"" + entry.path + "\" is not a jar file");
        }
        std::vector<std::string> names = CacheFiles::listDir(entry.path);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string jar = FileUtils::combinePath(entry.path, name);
            const CacheFiles::FileStatus jarStatus = CacheFiles::getStatus(jar, true);
            if (!jarStatus.regular) {
                return off("module path entry \"" + jar + "\" is not a jar file");
            }
            keyText += CacheFiles::identity(jar, jarStatus);
        }
    }
    return true;
}

// The jars that `jar` names by its manifest's Class-Path, and those that
// they name, resolved as the class loader does; one that is there but no
// file, or a manifest that cannot be read for certain, leaves a doubt.
bool ClassDataArchive::identifyManifestJars(const std::string& jar, std::string& keyText,
                                            std::set<std::string>& seen) {
    std::vector<std::string> pending{jar};
    while (!pending.empty()) {
        const std::string current = pending.back();
        pending.pop_back();
        if (!seen.insert(current).second) {
            continue;
        }
        if (seen.size() > maxManifestJars) {
            return off("more than 4096 jars named by manifests");
        }
        std::string manifest;
        std::string why;
        const JarManifest::Outcome outcome = JarManifest::readFile(current, manifest, why);
        if (outcome == JarManifest::Outcome::Unreadable) {
            return off("cannot read the manifest of \"" + current + "\": " + why);
        }
        for (const std::string& entry : JarManifest::classPath(manifest)) {
            std::string path;
            if (!JarManifest::resolve(FileUtils::dirname(current), entry, path)) {
                return off("Class-Path entry \"" + entry + "\" of \"" + current +
                           "\" names no local file");
            }
            const CacheFiles::FileStatus status = CacheFiles::getStatus(path, true);
            keyText += CacheFiles::identity(path, status);
            if (status.regular) {
                pending.push_back(path);
            } else if (status.exists) {
                return off("Class-Path entry \"" + path + "\" of \"" + current +
                           "\" is not a jar file");
            }
        }
    }
    return true;
}

// The JVM writes its messages into the key's log and reads a file a link
// leads to; anything but a regular file of the user there is removed, and
// the launch goes on without the cache.
bool ClassDataArchive::jvmLogUsable() {
    const std::string log = store->path(".log");
    const CacheFiles::FileStatus status = CacheFiles::getStatus(log, false);
    if (!status.exists || (status.regular && status.ownedByUser)) {
        return true;
    }
    if (!status.directory) {
        CacheFiles::removeFile(log);
    }
    return off("\"" + log + "\" is not a regular file of this user");
}

void ClassDataArchive::planWithStore() {
    if (!jvmLogUsable()) {
        return;
    }
    if (mechanism == aheadOfTimeCache() &&
        ShippedCache::mayUse(shippedPath, *store, mechanism->magic)) {
        archivePath = shippedPath;
        mode = Mode::Use;
        reason = "the bundle ships \"" + shippedPath + "\"";
        return;
    }
    const std::string archive = store->findArchive(mechanism->magic);
    if (!archive.empty() && useIfClean(archive)) {
        return;
    }
    if (!store->lock()) {
        off("another launch is writing the " + std::string(mechanism->name));
        return;
    }
    // The previous holder may have finished between the look and the lock.
    const std::string finished = store->findArchive(mechanism->magic);
    if (!finished.empty() && finished != archive && useIfClean(finished)) {
        store->unlock();
        return;
    }
    if (!finished.empty()) {
        // Refused by the JVM at the last launch: written anew, and counted,
        // so that an archive the JVM never takes is not written forever.
        CacheFiles::removeFile(finished);
        countFailure();
    }
    prepareWriting();
}

// The JVM takes a damaged or mismatched archive quietly, telling only its log
// of the launch that mapped it last.
bool ClassDataArchive::useIfClean(const std::string& archive) {
    if (!store->readJvmLog(1).empty()) {
        return false;
    }
    if (store->readFailures().count > 0) {
        store->clearFailures();
    }
    CacheFiles::touch(archive);
    archivePath = archive;
    mode = Mode::Use;
    reason = "archive \"" + archive + "\" matches this launch";
    return true;
}

bool ClassDataArchive::prepareWriting() {
    const std::string temp = store->path(".tmp");
    // What a writing launch leaves behind was left by one that died before
    // the archive was complete, or whose JVM gave up writing it.
    if (CacheFiles::getStatus(temp, false).exists) {
        countFailure();
        if (!CacheFiles::removeFile(temp)) {
            return off("cannot remove \"" + temp + "\"");
        }
    }
    // Left by a create step that was killed; none runs while this one holds the lock.
    CacheFiles::removeFile(store->path(".aot.tmp"));
    const ArchiveStore::Failures failures = store->readFailures();
    if (failures.refusals >= maxRefusals) {
        return off((tstrings::any() << "the JVM refused the " << mechanism->name
                                    << " for this launch " << failures.refusals
                                    << " times in a row")
                       .str());
    }
    if (failures.count >= maxAttempts &&
        nowNs() - failures.lastNs <
            std::chrono::duration_cast<std::chrono::nanoseconds>(restAfterAttempts).count()) {
        return off((tstrings::any() << failures.count << " launches that wrote the "
                                    << mechanism->name << " ended before it was complete")
                       .str());
    }
    // The JVM writes at exit, and a write it cannot finish there ends the
    // process with another status than the application's.
    if (CacheFiles::freeBytes(cacheDir) < minFreeBytes) {
        return off("less than 256 MiB free for \"" + cacheDir + "\"");
    }
    if (CacheFiles::fileSizeLimit() < minFreeBytes) {
        return off("the file size limit (RLIMIT_FSIZE) is below 256 MiB");
    }
    // The JVM writes these at exit; one it cannot write there (a directory in
    // the way) would end the process with another status.
    for (const char* suffix : {".aotconf", ".log"}) {
        if (!CacheFiles::removeFile(store->path(suffix))) {
            return off("cannot remove \"" + store->path(suffix) + "\"");
        }
    }
    if (!CacheFiles::createNewFile(temp, "unfinished " + std::string(mechanism->name))) {
        return off("cannot create \"" + temp + "\"");
    }
    mode = Mode::Write;
    reason = "no " + std::string(mechanism->name) + " for this launch yet";
    return true;
}

bool ClassDataArchive::planCreate(const std::string& key) {
    if (mechanism != aheadOfTimeCache()) {
        return off("the runtime makes no ahead-of-time cache");
    }
    if (!isRecordingPath(createStep, cacheDir, launcherName)) {
        return off("\"" + createStep + "\" names no recording of this launcher");
    }
    store.reset(new ArchiveStore(cacheDir, launcherName, key, mechanism->extension));
    if (store->path("") != createStep) {
        return off("the launch changed since its recording");
    }
    if (!jvmLogUsable()) {
        return false;
    }
    const CacheFiles::FileStatus recording =
        CacheFiles::getStatus(store->path(".aotconf"), false);
    if (!recording.regular || !recording.ownedByUser || recording.size == 0) {
        return off("no recording to create the cache from");
    }
    CacheFiles::removeFile(store->path(".aot.tmp"));
    mode = Mode::Create;
    reason = "recorded by the last launch";
    return true;
}

// The bundle tool's launches: the per-user cache stays out of them.
bool ClassDataArchive::planTraining() {
    if (mechanism != aheadOfTimeCache()) {
        return off("this launch takes the " + std::string(mechanism->name) +
                   ", and only an ahead-of-time cache is shipped");
    }
    const std::string why = ShippedCache::checkTraining(training, launcherName);
    if (!why.empty()) {
        return off(why);
    }
    mode = Mode::Train;
    reason = "the bundle tool trains the cache it ships";
    return true;
}

bool ClassDataArchive::onlyCreates() const {
    return mode == Mode::Create ||
           (mode == Mode::Train && training.step == ShippedCache::Training::Step::Create);
}

// What a create step leaves when it creates nothing: the recording's
// files go, and the recording's key counts one failure.
void ClassDataArchive::abandonCreation() {
    if (!isRecordingPath(createStep, cacheDir, launcherName)) {
        return;
    }
    const std::string key = createStep.substr(createStep.size() - ArchiveStore::keyDigits);
    store.reset(new ArchiveStore(cacheDir, launcherName, key, aheadOfTimeCache()->extension));
    countFailure();
    for (const char* suffix : {".tmp", ".aotconf", ".aot.tmp"}) {
        CacheFiles::removeFile(store->path(suffix));
    }
}

// Refusals count only in a row: a launch that ended unfinished without the
// JVM saying why (killed, say) starts them anew.
void ClassDataArchive::countFailure() {
    ArchiveStore::Failures failures = store->readFailures();
    failures.refusals = hasError(store->readJvmLog(64 * 1024)) ? failures.refusals + 1 : 0;
    ++failures.count;
    store->writeFailures(failures);
}

std::string ClassDataArchive::logSelection(const char* level) const {
    std::string selection = "-Xlog:";
    for (const std::string& tag : mechanism->tags) {
        selection += tag + "=" + level + (&tag == &mechanism->tags.back() ? "" : ",");
    }
    return selection;
}

std::string ClassDataArchive::logOption(const char* level) const {
    return logSelection(level) + ":file=" + store->path(".log") + "::filecount=0";
}

std::vector<std::string> ClassDataArchive::getOptions() const {
    if (mode == Mode::Off) {
        return {};
    }
    // Off standard output, where the JVM prints them by default, into the
    // key's log file, where the next launch reads them.
    const std::string quiet = logSelection("off");
    switch (mode) {
    case Mode::Use:
        return {quiet, logOption("warning"),
                (mechanism == aheadOfTimeCache() ? "-XX:AOTCache=" : "-XX:SharedArchiveFile=") +
                    archivePath};
    case Mode::Write:
        if (mechanism == aheadOfTimeCache()) {
            // The JVM reports the recording on its console at exit, standard
            // output unless told otherwise.
            return {quiet, logOption("error"), "-XX:+DisplayVMOutputToStderr",
                    "-XX:AOTMode=record", "-XX:AOTConfiguration=" + store->path(".aotconf")};
        }
        return {quiet, logOption("error"), "-XX:ArchiveClassesAtExit=" + store->path(".tmp")};
    case Mode::Create:
        return {quiet, logOption("error"), "-XX:AOTMode=create",
                "-XX:AOTConfiguration=" + store->path(".aotconf"),
                "-XX:AOTCache=" + store->path(".aot.tmp")};
    case Mode::Train:
        return ShippedCache::trainingOptions(training, launcherName, quiet);
    case Mode::Off:
        break;
    }
    return {};
}

void ClassDataArchive::commit() {
    try {
        if (mode == Mode::Write) {
            commitWriting();
        } else if (mode == Mode::Create) {
            commitCreation();
        }
    } catch (...) {
        // Runs at process exit: nothing may escape, and without a rename no
        // archive is used.
    }
    mode = Mode::Off;
    reason = "committed";
}

void ClassDataArchive::commitWriting() {
    if (mechanism == dynamicArchive()) {
        if (store->commit(store->path(".tmp"), mechanism->magic, keptKeys)) {
            CacheFiles::removeFile(store->path(".log"));
            return;
        }
        countFailure();
        CacheFiles::removeFile(store->path(".tmp"));
        return;
    }
    // The cache is created from the recording by a process of its own, after
    // this one, which the user waits for, has ended; the lock goes with it.
    const std::string variable = std::string(createStepVariable) + "=";
    std::vector<std::string> env;
    for (char** item = environ; item && *item; ++item) {
        if (!tstrings::startsWith(*item, variable)) {
            env.push_back(*item);
        }
    }
    env.push_back(variable + store->path(""));
    const CacheFiles::FileStatus recording =
        CacheFiles::getStatus(store->path(".aotconf"), false);
    // In the root directory: the create step must not keep the user's busy.
    if (!recording.regular || recording.size == 0 ||
        !DetachedProcess::start({launcherPath}, env, store->lockDescriptor(), "/")) {
        countFailure();
        CacheFiles::removeFile(store->path(".tmp"));
        CacheFiles::removeFile(store->path(".aotconf"));
    }
}

void ClassDataArchive::commitCreation() {
    const bool created = store->commit(store->path(".aot.tmp"), mechanism->magic, keptKeys);
    if (created) {
        CacheFiles::removeFile(store->path(".log"));
    } else {
        countFailure();
        CacheFiles::removeFile(store->path(".aot.tmp"));
    }
    CacheFiles::removeFile(store->path(".aotconf"));
    CacheFiles::removeFile(store->path(".tmp"));
}

std::string ClassDataArchive::withoutRecordingReport(const std::string& output) const {
    if (mode != Mode::Write || mechanism != aheadOfTimeCache()) {
        return output;
    }
    const std::string report = recordingReport + store->path(".aotconf");
    std::string kept;
    std::size_t pos = 0;
    while (pos < output.size()) {
        const std::size_t end = std::min(output.find('\n', pos), output.size());
        const std::string line = output.substr(pos, end - pos);
        const std::size_t text = line.find_first_not_of(' ');
        if (text == std::string::npos || line.compare(text, std::string::npos, report) != 0) {
            kept += output.substr(pos, end + 1 - pos);
        }
        pos = end + 1;
    }
    return kept;
}

std::string ClassDataArchive::withoutPendingRecordingReport(const std::string& output) {
    return pendingArchive ? pendingArchive->withoutRecordingReport(output) : output;
}

void ClassDataArchive::commitAtExit(std::unique_ptr<ClassDataArchive> archive) {
    if (!pendingArchive) {
        std::atexit(commitPendingArchive);
    }
    delete pendingArchive;
    // Never destroyed: the process ends right after the commit.
    pendingArchive = archive.release();
}

std::string ClassDataArchive::makeKey(const std::string& text) {
    // FNV-1a: the key only tells launches apart; the JVM checks the archive
    // against the class path itself.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string key(ArchiveStore::keyDigits, '0');
    for (std::size_t i = ArchiveStore::keyDigits; i-- > 0; hash >>= 4) {
        key[i] = digits[hash & 0xf];
    }
    return key;
}

std::string ClassDataArchive::cacheDirFor(const std::string& home, const std::string& name) {
    if (home.empty() || !FileUtils::isDirSeparator(home[0]) || !FileUtils::isPlainName(name)) {
        return std::string();
    }
    return FileUtils::combinePath(FileUtils::combinePath(home, "Library/Caches"), name);
}

bool ClassDataArchive::isRequested(const CfgFile& cfg) {
    const CfgFile::Properties& props = cfg.getProperties(SectionName::Application);
    const CfgFile::Properties::const_iterator cds = props.find(PropertyName::cds);
    return cds != props.end() && CfgFile::asString(*cds) == "auto";
}
