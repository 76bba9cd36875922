#include "RuntimeFacts.h"

#include <cstring>
#include <vector>

#include "CacheFiles.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

int leadingNumber(const std::string& text, std::size_t& pos) {
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 100000) {
        value = value * 10 + (text[pos++] - '0');
    }
    return value;
}

} // namespace

RuntimeFacts RuntimeFacts::read(const std::string& libPath) {
    RuntimeFacts facts;
    std::vector<char> buffer(libPath.begin(), libPath.end());
    buffer.push_back('\0');
    const std::string realLib = SysInfo::getRealPath(buffer);
    facts.home = runtimeHome(realLib);
    if (facts.home.empty()) {
        facts.identity = realLib;
        return facts;
    }
    const std::string release = FileUtils::combinePath(facts.home, "release");
    const std::string base = FileUtils::combinePath(facts.home, "lib/server/classes.jsa");
    facts.javaVersion = javaMajorVersion(CacheFiles::readHead(release, 64 * 1024));
    const CacheFiles::FileStatus baseStatus = CacheFiles::getStatus(base, /*followLinks=*/true);
    facts.hasBaseArchive = baseStatus.regular;
    facts.identity = CacheFiles::identity(realLib, CacheFiles::getStatus(realLib, true)) +
                     CacheFiles::identity(release, CacheFiles::getStatus(release, true)) +
                     CacheFiles::identity(base, baseStatus);
    return facts;
}

std::string RuntimeFacts::runtimeHome(const std::string& realLibPath) {
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

int RuntimeFacts::javaMajorVersion(const std::string& releaseText) {
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
