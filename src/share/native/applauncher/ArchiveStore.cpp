#include "ArchiveStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "FileUtils.h"
#include "tstrings.h"

namespace {

// The suffixes that follow "<launcher>-<key>" besides an archive's "-<size><extension>".
const char* const fileSuffixes[] = {".tmp", ".log", ".failed", ".aotconf", ".aot.tmp", ".shipped"};

const char* const refusedText = " refused ";

bool isAllDigits(const std::string& text) {
    // 19 digits fit any 64-bit unsigned number.
    return !text.empty() && text.size() <= 19 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// At most 1000, whatever the digits say: the text comes from a file.
int parseCount(const std::string& digits) {
    return isAllDigits(digits)
               ? static_cast<int>(std::min<unsigned long long>(
                     std::strtoull(digits.c_str(), nullptr, 10), 1000))
               : 1;
}

bool isKey(const std::string& text) {
    return text.size() == ArchiveStore::keyDigits &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// "-<size><extension>" of an archive; the size it names, or false.
bool parseArchiveSuffix(const std::string& suffix, const std::string& extension,
                        std::uint64_t& size) {
    if (suffix.size() <= 1 + extension.size() || suffix[0] != '-' ||
        !tstrings::endsWith(suffix, extension)) {
        return false;
    }
    const std::string digits = suffix.substr(1, suffix.size() - 1 - extension.size());
    if (!isAllDigits(digits)) {
        return false;
    }
    size = std::strtoull(digits.c_str(), nullptr, 10);
    return true;
}

std::uint32_t magicOf(const std::string& path) {
    const std::string head = CacheFiles::readHead(path, sizeof(std::uint32_t));
    std::uint32_t magic = 0;
    if (head.size() == sizeof(magic)) {
        std::memcpy(&magic, head.data(), sizeof(magic));
    }
    return magic;
}

} // namespace

ArchiveStore::ArchiveStore(const std::string& dir, const std::string& launcherName,
                           const std::string& key, const std::string& extension)
    : dir(dir), launcherName(launcherName), key(key), extension(extension) {}

std::string ArchiveStore::path(const std::string& suffix) const {
    return FileUtils::combinePath(dir, launcherName + "-" + key + suffix);
}

bool ArchiveStore::parseName(const std::string& name, std::string& fileKey) const {
    const std::string prefix = launcherName + "-";
    if (!tstrings::startsWith(name, prefix) || name.size() < prefix.size() + keyDigits + 2) {
        return false;
    }
    const std::string candidate = name.substr(prefix.size(), keyDigits);
    const std::string suffix = name.substr(prefix.size() + keyDigits);
    std::uint64_t size = 0;
    const bool known =
        std::find(std::begin(fileSuffixes), std::end(fileSuffixes), suffix) !=
            std::end(fileSuffixes) ||
        parseArchiveSuffix(suffix, ".jsa", size) || parseArchiveSuffix(suffix, ".aot", size);
    if (!isKey(candidate) || !known) {
        return false;
    }
    fileKey = candidate;
    return true;
}

std::string ArchiveStore::findArchive(std::uint32_t magic) const {
    const std::string prefix = launcherName + "-" + key;
    for (const std::string& name : CacheFiles::listDir(dir)) {
        std::uint64_t size = 0;
        if (!tstrings::startsWith(name, prefix) ||
            !parseArchiveSuffix(name.substr(prefix.size()), extension, size)) {
            continue;
        }
        const std::string candidate = FileUtils::combinePath(dir, name);
        const CacheFiles::FileStatus status = CacheFiles::getStatus(candidate, false);
        if (status.regular && status.ownedByUser && status.size == size && size > 0 &&
            magicOf(candidate) == magic) {
            return candidate;
        }
        // A damaged archive can crash the JVM; it must never be handed over.
        CacheFiles::removeFile(candidate);
    }
    return std::string();
}

bool ArchiveStore::commit(const std::string& written, std::uint32_t magic,
                          std::size_t keptKeys) const {
    const CacheFiles::FileStatus status = CacheFiles::getStatus(written, false);
    if (!status.regular || status.size == 0 || magicOf(written) != magic) {
        return false;
    }
    const std::string name = path((tstrings::any() << '-' << status.size << extension).str());
    if (!CacheFiles::renameFile(written, name)) {
        return false;
    }
    evict(keptKeys);
    return true;
}

void ArchiveStore::evict(std::size_t keptKeys) const {
    std::map<std::string, std::int64_t> lastUse;
    std::vector<std::pair<std::string, std::string>> files; // key, name
    for (const std::string& name : CacheFiles::listDir(dir)) {
        std::string fileKey;
        if (parseName(name, fileKey)) {
            const std::int64_t mtime =
                CacheFiles::getStatus(FileUtils::combinePath(dir, name), false).mtimeNs;
            std::int64_t& last = lastUse[fileKey];
            last = std::max(last, mtime);
            files.emplace_back(fileKey, name);
        }
    }
    lastUse[key] = INT64_MAX;
    std::vector<std::pair<std::int64_t, std::string>> byUse;
    for (const auto& entry : lastUse) {
        byUse.emplace_back(entry.second, entry.first);
    }
    std::sort(byUse.rbegin(), byUse.rend());
    for (std::size_t i = keptKeys; i < byUse.size(); ++i) {
        for (const auto& file : files) {
            if (file.first == byUse[i].second) {
                CacheFiles::removeFile(FileUtils::combinePath(dir, file.second));
            }
        }
    }
}

bool ArchiveStore::lock() {
    lock_.reset(new CacheFiles::ExclusiveLock(
        FileUtils::combinePath(dir, launcherName + ".lock")));
    return lock_->isHeld();
}

ArchiveStore::Failures ArchiveStore::readFailures() const {
    Failures failures;
    const std::string record = path(".failed");
    const CacheFiles::FileStatus status = CacheFiles::getStatus(record, false);
    if (!status.regular) {
        return failures;
    }
    const std::string text = CacheFiles::readHead(record, 64);
    const std::size_t refused = text.find(refusedText);
    if (text == "refused") {
        failures.count = failures.refusals = 1;
    } else if (refused != std::string::npos) {
        failures.count = parseCount(text.substr(0, refused));
        failures.refusals = parseCount(text.substr(refused + std::strlen(refusedText)));
    } else {
        failures.count = parseCount(text);
    }
    failures.lastNs = status.mtimeNs;
    return failures;
}

void ArchiveStore::writeFailures(const Failures& failures) const {
    const std::string record = path(".failed");
    CacheFiles::removeFile(record);
    std::string text = std::to_string(failures.count);
    if (failures.refusals > 0) {
        text += refusedText + std::to_string(failures.refusals);
    }
    CacheFiles::createNewFile(record, text);
}

void ArchiveStore::clearFailures() const {
    CacheFiles::removeFile(path(".failed"));
}

std::string ArchiveStore::readJvmLog(std::size_t count) const {
    return CacheFiles::readHead(path(".log"), count);
}
