#include "ShippedCache.h"

#include <cstring>
#include <exception>

#include "ArchiveStore.h"
#include "CacheFiles.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

const char* const triedWord = "tried ";
const char* const refusedWord = "refused ";

// The runtime's messages of the ahead-of-time cache, into a file at `level`
// and nowhere else.
std::vector<std::string> logOptions(const std::string& quiet, const char* level,
                                    const std::string& file) {
    return {quiet, std::string("-Xlog:aot=") + level + ",cds=" + level + ":file=" + file +
                       "::filecount=0"};
}

bool beginsWith(const std::string& path, std::uint32_t magic) {
    const std::string head = CacheFiles::readHead(path, sizeof(magic));
    std::uint32_t found = 0;
    if (head.size() == sizeof(found)) {
        std::memcpy(&found, head.data(), sizeof(found));
    }
    return found == magic;
}

void writeRecord(const std::string& record, const std::string& text) {
    CacheFiles::removeFile(record);
    CacheFiles::createNewFile(record, text);
}

} // namespace

namespace ShippedCache {

const char* const trainVariable = "KOVALU_AOT_TRAIN";

Training takeTraining() {
    Training training;
    try {
        if (!SysInfo::isEnvVariableSet(trainVariable)) {
            return training;
        }
        const std::string value = SysInfo::getEnvVariable(std::nothrow, trainVariable, "");
        SysInfo::unsetEnvVariable(trainVariable);
        const std::size_t colon = value.find(':');
        const std::string step = value.substr(0, colon);
        const std::string dir = colon == std::string::npos ? "" : value.substr(colon + 1);
        // The JVM reads these paths inside options where ':' separates and
        // '%' expands.
        if (dir.empty() || !FileUtils::isDirSeparator(dir[0]) ||
            dir.find_first_of(":%") != std::string::npos) {
            return training;
        }
        training.step = step == "record"   ? Training::Step::Record
                        : step == "create" ? Training::Step::Create
                        : step == "check"  ? Training::Step::Check
                                           : Training::Step::None;
        training.dir = dir;
    } catch (const std::exception&) {
        training = Training();
    }
    return training;
}

std::string trainingPath(const Training& training, const std::string& launcherName,
                         const std::string& suffix) {
    return FileUtils::combinePath(training.dir, launcherName + suffix);
}

std::string checkTraining(const Training& training, const std::string& launcherName) {
    const CacheFiles::FileStatus dir = CacheFiles::getStatus(training.dir, false);
    if (!dir.directory || !dir.ownedByUser) {
        return "training directory \"" + training.dir + "\" is not a directory of this user";
    }
    const std::string recording = trainingPath(training, launcherName, ".aotconf");
    if (training.step == Training::Step::Create &&
        !CacheFiles::getStatus(recording, false).regular) {
        return "no recording \"" + recording + "\" to create the cache from";
    }
    return std::string();
}

std::vector<std::string> trainingOptions(const Training& training,
                                         const std::string& launcherName,
                                         const std::string& quiet) {
    const std::string log = trainingPath(training, launcherName, ".log");
    const std::string recording = trainingPath(training, launcherName, ".aotconf");
    const std::string cache = trainingPath(training, launcherName, ".aot");
    std::vector<std::string> options;
    switch (training.step) {
    case Training::Step::Record:
        options = logOptions(quiet, "error", log);
        // The runtime names the recording on its console at exit, standard
        // output unless told otherwise, where the tool compares output.
        options.insert(options.end(), {"-XX:+DisplayVMOutputToStderr", "-XX:AOTMode=record",
                                       "-XX:AOTConfiguration=" + recording});
        break;
    case Training::Step::Create:
        options = logOptions(quiet, "error", log);
        options.insert(options.end(), {"-XX:AOTMode=create", "-XX:AOTConfiguration=" + recording,
                                       "-XX:AOTCache=" + cache});
        break;
    case Training::Step::Check:
        // At warning level: any message means the runtime did not take the
        // cache as it is, which the tool reads.
        options = logOptions(quiet, "warning", log);
        options.push_back("-XX:AOTCache=" + cache);
        break;
    case Training::Step::None:
        break;
    }
    return options;
}

void noteOff(const Training& training, const std::string& launcherName, const std::string& why) {
    if (training.step == Training::Step::None) {
        return;
    }
    const std::string note = trainingPath(training, launcherName, ".off");
    const CacheFiles::FileStatus dir = CacheFiles::getStatus(training.dir, false);
    if (dir.directory && dir.ownedByUser) {
        writeRecord(note, why);
    }
}

bool mayUse(const std::string& path, const ArchiveStore& store, std::uint32_t magic) {
    try {
        const CacheFiles::FileStatus status = CacheFiles::getStatus(path, false);
        if (path.empty() || !status.regular || status.size == 0 || !beginsWith(path, magic)) {
            return false;
        }
        // The key names the bundle's state (its jars, runtime and options);
        // the identity names this very file of it.
        const std::string identity = CacheFiles::identity(path, status);
        const std::string record = store.path(".shipped");
        const std::string last = CacheFiles::readHead(record, 64 * 1024);
        if (last == refusedWord + identity) {
            return false;
        }
        if (last == triedWord + identity) {
            if (store.readJvmLog(1).empty()) {
                return true;
            }
            // Left the launch that mapped it last; what the runtime said
            // there holds for every launch of this state.
            writeRecord(record, refusedWord + identity);
            CacheFiles::removeFile(store.path(".log"));
            return false;
        }
        // A message left by another cache of the key must not count against
        // this one.
        CacheFiles::removeFile(store.path(".log"));
        writeRecord(record, triedWord + identity);
        return CacheFiles::readHead(record, 64 * 1024) == triedWord + identity;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace ShippedCache
