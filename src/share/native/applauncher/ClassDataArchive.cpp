#include "ClassDataArchive.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "CfgFile.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

// The JVM fails at start, rather than run without sharing, when it is asked
// to write an archive together with any of these.
const char* const conflictMarkers[] = {
    "-Xshare",
    "SharedArchiveFile",
    "ArchiveClassesAtExit",
    "UseSharedSpaces",
    "UseCompressedClassPointers",
    "-XX:Flags=",
    "-XX:VMOptionsFile",
    "--limit-modules",
    "--upgrade-module-path",
    "--patch-module",
    "-Djdk.module.",
};

// The JVM reads these itself; the launcher never sets them.
const char* const optionVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

const char* const logOption = "-Xlog:cds=off,cds+dynamic=off";

// A disk this close to full cannot take an archive at exit, and the JVM would
// then turn the application's success into a failure.
const std::uint64_t minFreeBytes = 256ull * 1024 * 1024;

// The first word of every complete dynamic archive; the JVM writes its header
// last, so an archive cut short lacks it.
const std::uint32_t dynamicArchiveMagic = 0xf00baba8;

const std::size_t keyDigits = 16;

ClassDataArchive* pendingArchive = nullptr;

void commitPendingArchive() {
    if (pendingArchive) {
        pendingArchive->commit();
    }
}

std::string makeKey(const std::string& text) {
    // FNV-1a: the key only tells configurations apart; the JVM checks the
    // archive against the class path itself.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string key(keyDigits, '0');
    for (std::size_t i = keyDigits; i-- > 0; hash >>= 4) {
        key[i] = digits[hash & 0xf];
    }
    return key;
}

void addStatus(std::string& keyText, const std::string& path,
               const CacheFiles::FileStatus& status) {
    keyText += (tstrings::any() << path << '\0' << status.size << '\0' << status.mtimeNs << '\0')
                   .str();
}

void addPathList(std::vector<std::string>& entries, const std::string& list) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find(FileUtils::pathSeparator, start);
        const std::string piece = list.substr(start, end - start);
        // An empty piece is the current directory to the JVM.
        entries.push_back(piece.empty() ? std::string(".") : piece);
        if (end == std::string::npos) {
            return;
        }
        start = end + 1;
    }
}

bool isAllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int leadingNumber(const std::string& text, std::size_t& pos) {
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 100000) {
        value = value * 10 + (text[pos++] - '0');
    }
    return value;
}

} // namespace

ClassDataArchive::ClassDataArchive(const std::string& cacheDir, const std::string& launcherName)
    : cacheDir(cacheDir), launcherName(launcherName), mode(Mode::Off), reason("not planned") {}

std::string ClassDataArchive::path(const std::string& name) const {
    return FileUtils::combinePath(cacheDir, name);
}

bool ClassDataArchive::off(const std::string& why) {
    mode = Mode::Off;
    reason = why;
    if (!tempPath.empty()) {
        CacheFiles::removeFile(tempPath);
        tempPath.clear();
    }
    lock.reset();
    return false;
}

void ClassDataArchive::plan(const std::string& libPath, const std::vector<std::string>& jvmArgs) {
    try {
        if (cacheDir.empty()) {
            off("no home directory or no usable cache name");
            return;
        }
        std::vector<std::string> options = jvmArgs;
        for (const char* name : optionVariables) {
            options.push_back(SysInfo::getEnvVariable(std::nothrow, name, std::string()));
        }
        const std::string conflict = conflictingOption(options);
        if (!conflict.empty()) {
            off("option \"" + conflict + "\" already steers class-data sharing");
            return;
        }
        std::string keyText;
        const std::vector<std::string> entries = pathEntries(
            jvmArgs, SysInfo::getEnvVariable(std::nothrow, "CLASSPATH", std::string()));
        if (!checkRuntime(libPath, keyText) || !checkPaths(entries, keyText)) {
            return;
        }
        for (const std::string& arg : jvmArgs) {
            keyText += arg;
            keyText += '\0';
        }
        if (!CacheFiles::makePrivateDirs(cacheDir)) {
            off("cache directory \"" + cacheDir + "\" is not a writable directory of this user");
            return;
        }
        key = makeKey(keyText);
        if (!findArchive()) {
            prepareWriting();
        }
    } catch (const std::exception& e) {
        off(std::string("failed: ") + e.what());
    }
}

bool ClassDataArchive::checkRuntime(const std::string& libPath, std::string& keyText) {
    std::vector<char> buffer(libPath.begin(), libPath.end());
    buffer.push_back('\0');
    const std::string realLib = SysInfo::getRealPath(buffer);
    const std::string home = runtimeHome(realLib);
    if (home.empty()) {
        return off("no lib directory above the runtime library \"" + realLib + "\"");
    }
    const std::string release = FileUtils::combinePath(home, "release");
    const int version = javaMajorVersion(CacheFiles::readHead(release, 64 * 1024));
    if (version < 13) {
        return off("\"" + release + "\" names no JAVA_VERSION of 13 or later");
    }
    const std::string base = FileUtils::combinePath(home, "lib/server/classes.jsa");
    const CacheFiles::FileStatus baseStatus = CacheFiles::getStatus(base, /*followLinks=*/true);
    if (!baseStatus.regular) {
        return off("the runtime has no base archive \"" + base + "\"");
    }
    addStatus(keyText, realLib, CacheFiles::getStatus(realLib, /*followLinks=*/true));
    addStatus(keyText, base, baseStatus);
    return true;
}

bool ClassDataArchive::checkPaths(const std::vector<std::string>& entries,
                                  std::string& keyText) {
    for (const std::string& entry : entries) {
        const CacheFiles::FileStatus status = CacheFiles::getStatus(entry, /*followLinks=*/true);
        if (!status.regular) {
            return off("class or module path entry \"" + entry + "\" is not a jar file");
        }
        addStatus(keyText, entry, status);
    }
    return true;
}

bool ClassDataArchive::findArchive() {
    for (const std::string& name : CacheFiles::listDir(cacheDir)) {
        std::string nameKey;
        std::uint64_t size = 0;
        if (!parseArchiveName(launcherName, name, nameKey, size) || nameKey != key) {
            continue;
        }
        const std::string candidate = path(name);
        const CacheFiles::FileStatus status =
            CacheFiles::getStatus(candidate, /*followLinks=*/false);
        if (status.regular && status.ownedByUser && status.size == 0 && size == 0) {
            off("the archive could not be written for this launch before");
            return true;
        }
        if (status.regular && status.ownedByUser && status.size == size) {
            archivePath = candidate;
            mode = Mode::Use;
            reason = "archive \"" + candidate + "\" matches this launch";
            return true;
        }
        // A damaged archive can crash the JVM; it must never be handed over.
        CacheFiles::removeFile(candidate);
    }
    return false;
}

bool ClassDataArchive::prepareWriting() {
    lock.reset(new CacheFiles::ExclusiveLock(path(launcherName + ".lock")));
    if (!lock->isHeld()) {
        return off("another launch is writing the archive");
    }
    // The previous holder may have finished between the look and the lock.
    if (findArchive()) {
        lock.reset();
        return true;
    }
    const std::string temp = path(launcherName + ".jsa.tmp");
    // The JVM replaces the file only once it writes; what it refuses at exit
    // (a directory that a jar's manifest names, say) ends the process before
    // this launcher can clean up, so the tag is all that tells of it.
    const std::string tag = "unfinished class-data archive " + key;
    const bool unfinished = CacheFiles::readHead(temp, tag.size() + 1) == tag;
    // Whatever is there was left by a run that died.
    if (!CacheFiles::removeFile(temp)) {
        return off("cannot remove \"" + temp + "\"");
    }
    if (unfinished) {
        CacheFiles::createNewFile(path(archiveName(launcherName, key, 0)), std::string());
        return off("the last launch that wrote this archive ended before the JVM wrote it");
    }
    if (CacheFiles::freeBytes(cacheDir) < minFreeBytes) {
        return off("less than 256 MiB free for \"" + cacheDir + "\"");
    }
    if (!CacheFiles::createNewFile(temp, tag)) {
        return off("cannot create \"" + temp + "\"");
    }
    tempPath = temp;
    mode = Mode::Write;
    reason = "no archive for key " + key + " yet";
    return true;
}

std::vector<std::string> ClassDataArchive::getOptions() const {
    switch (mode) {
    case Mode::Use:
        return {logOption, "-XX:SharedArchiveFile=" + archivePath};
    case Mode::Write:
        return {logOption, "-XX:ArchiveClassesAtExit=" + tempPath};
    case Mode::Off:
        break;
    }
    return {};
}

void ClassDataArchive::commit() {
    if (mode != Mode::Write) {
        return;
    }
    try {
        const CacheFiles::FileStatus status =
            CacheFiles::getStatus(tempPath, /*followLinks=*/false);
        const std::string head = CacheFiles::readHead(tempPath, sizeof(dynamicArchiveMagic));
        std::uint32_t magic = 0;
        if (head.size() == sizeof(magic)) {
            std::memcpy(&magic, head.data(), sizeof(magic));
        }
        if (status.regular && magic == dynamicArchiveMagic) {
            const std::string name = archiveName(launcherName, key, status.size);
            if (CacheFiles::renameFile(tempPath, path(name))) {
                tempPath.clear();
                removeOtherArchives(name);
            }
        } else {
            // An empty record of size 0 keeps every later launch of this key
            // from trying again.
            CacheFiles::createNewFile(path(archiveName(launcherName, key, 0)), std::string());
        }
        off("committed");
    } catch (...) {
        // Runs at process exit: nothing may escape, and without a rename no
        // archive is used.
    }
}

void ClassDataArchive::removeOtherArchives(const std::string& keep) {
    for (const std::string& name : CacheFiles::listDir(cacheDir)) {
        std::string nameKey;
        std::uint64_t size = 0;
        if (name != keep && parseArchiveName(launcherName, name, nameKey, size)) {
            CacheFiles::removeFile(path(name));
        }
    }
}

void ClassDataArchive::commitAtExit(std::unique_ptr<ClassDataArchive> archive) {
    if (!pendingArchive) {
        std::atexit(commitPendingArchive);
    }
    delete pendingArchive;
    // Never destroyed: the process ends right after the commit.
    pendingArchive = archive.release();
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

std::string ClassDataArchive::runtimeHome(const std::string& realLibPath) {
    std::string dir = FileUtils::dirname(realLibPath);
    while (!dir.empty()) {
        const std::string parent = FileUtils::dirname(dir);
        if (FileUtils::basename(dir) == "lib") {
            return parent;
        }
        if (parent == dir) {
            break;
        }
        dir = parent;
    }
    return std::string();
}

int ClassDataArchive::javaMajorVersion(const std::string& releaseText) {
    std::vector<std::string> lines;
    tstrings::split(lines, releaseText, "\n");
    for (const std::string& line : lines) {
        if (!tstrings::startsWith(line, "JAVA_VERSION=")) {
            continue;
        }
        std::size_t pos = std::strlen("JAVA_VERSION=");
        if (pos < line.size() && line[pos] == '"') {
            ++pos;
        }
        const std::size_t start = pos;
        int major = leadingNumber(line, pos);
        if (pos == start) {
            return 0;
        }
        // Before 9 the versions read "1.<major>".
        if (major == 1 && pos < line.size() && line[pos] == '.') {
            major = leadingNumber(line, ++pos);
        }
        return major;
    }
    return 0;
}

std::string ClassDataArchive::conflictingOption(const std::vector<std::string>& options) {
    for (const std::string& option : options) {
        for (const char* marker : conflictMarkers) {
            if (option.find(marker) != std::string::npos) {
                return option;
            }
        }
    }
    return std::string();
}

std::vector<std::string> ClassDataArchive::pathEntries(const std::vector<std::string>& jvmArgs,
                                                       const std::string& classPathVariable) {
    std::vector<std::string> entries;
    bool classPathGiven = false;
    bool mainIsModule = false;
    for (std::size_t i = 0; i < jvmArgs.size(); ++i) {
        const std::string& arg = jvmArgs[i];
        const bool hasValue = i + 1 < jvmArgs.size();
        if ((arg == "-cp" || arg == "-classpath" || arg == "--class-path") && hasValue) {
            addPathList(entries, jvmArgs[++i]);
            classPathGiven = true;
        } else if ((arg == "-p" || arg == "--module-path") && hasValue) {
            addPathList(entries, jvmArgs[++i]);
        } else if (arg == "-jar" && hasValue) {
            entries.push_back(jvmArgs[++i]);
            classPathGiven = true;
        } else if ((arg == "-m" || arg == "--module") && hasValue) {
            ++i;
            mainIsModule = true;
        } else if (tstrings::startsWith(arg, "--class-path=") ||
                   tstrings::startsWith(arg, "-Djava.class.path=")) {
            addPathList(entries, arg.substr(arg.find('=') + 1));
            classPathGiven = true;
        } else if (tstrings::startsWith(arg, "--module-path=")) {
            addPathList(entries, arg.substr(arg.find('=') + 1));
        } else if (tstrings::startsWith(arg, "-Xbootclasspath/a:")) {
            addPathList(entries, arg.substr(arg.find(':') + 1));
        } else if (tstrings::startsWith(arg, "--module=")) {
            mainIsModule = true;
        }
    }
    if (!classPathGiven && !classPathVariable.empty()) {
        addPathList(entries, classPathVariable);
    } else if (!classPathGiven && !mainIsModule) {
        entries.push_back(".");
    }
    return entries;
}

std::string ClassDataArchive::archiveName(const std::string& launcher, const std::string& key,
                                          std::uint64_t size) {
    return (tstrings::any() << launcher << '-' << key << '-' << size << ".jsa").str();
}

bool ClassDataArchive::parseArchiveName(const std::string& launcher, const std::string& fileName,
                                        std::string& key, std::uint64_t& size) {
    const std::string prefix = launcher + "-";
    const std::string suffix = ".jsa";
    if (fileName.size() <= prefix.size() + keyDigits + 1 + suffix.size() ||
        !tstrings::startsWith(fileName, prefix) || !tstrings::endsWith(fileName, suffix)) {
        return false;
    }
    const std::string nameKey = fileName.substr(prefix.size(), keyDigits);
    const std::size_t sizeStart = prefix.size() + keyDigits + 1;
    const std::string digits =
        fileName.substr(sizeStart, fileName.size() - suffix.size() - sizeStart);
    if (nameKey.find_first_not_of("0123456789abcdef") != std::string::npos ||
        fileName[sizeStart - 1] != '-' || !isAllDigits(digits) || digits.size() > 19) {
        return false;
    }
    key = nameKey;
    size = std::strtoull(digits.c_str(), nullptr, 10);
    return true;
}
