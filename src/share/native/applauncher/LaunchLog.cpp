#include "LaunchLog.h"

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "tstrings.h"

LaunchLog::LaunchLog(const std::string& home, const std::string& name,
                     const std::string& launcherName)
    : home(home),
      folder(FileUtils::combinePath("Library/Logs", name)),
      launcherName(launcherName),
      path(FileUtils::combinePath(FileUtils::combinePath(home, folder), launcherName + ".log")) {
    // A relative home would put the log wherever the launch was started from.
    if (home.empty() || home[0] != '/') {
        throw makeException(tstrings::any() << "HOME \"" << home << "\" is not an absolute path",
                            KV_SOURCE_CODE_POS);
    }
}

void LaunchLog::append(const std::string& record) const {
    CacheFiles::PrivateDir dir(home, folder);
    if (!dir.append(launcherName + ".log", record, maxFileSize)) {
        throw makeException(dir.error(), KV_SOURCE_CODE_POS);
    }
}

CacheFiles::FileDescriptor LaunchLog::createOutputFile() const {
    CacheFiles::PrivateDir dir(home, folder);
    CacheFiles::FileDescriptor file = dir.createFresh(launcherName + "-output.log");
    if (!file.isValid()) {
        throw makeException(dir.error(), KV_SOURCE_CODE_POS);
    }
    return file;
}

std::string LaunchLog::folderName(const std::string& packageName,
                                  const std::string& launcherName) {
    // A name with separators or dots would place the file outside the logs folder.
    return FileUtils::isPlainName(packageName) ? packageName : launcherName;
}

std::string LaunchLog::formatRecord(std::time_t time, long pid, const std::string& executable,
                                    const std::string& message) {
    std::tm utc = {};
    char stamp[32] = "";
    if (::gmtime_r(&time, &utc)) {
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    const std::string text = (tstrings::any() << stamp << " " << pid << " " << executable << ": "
                                              << message)
                                 .str();
    return tstrings::replace(tstrings::replace(text, "\n", "\\n"), "\r", "\\r") + "\n";
}

bool LaunchLog::needsRotation(long long size) {
    return size > maxFileSize;
}
