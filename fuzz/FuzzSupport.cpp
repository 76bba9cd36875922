#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Log.h"

namespace kvfuzz {

void fail(const std::string& message) {
    std::fprintf(stderr, "kovalu fuzz: %s\n", message.c_str());
    std::abort();
}

void silenceLogging() {
    static NopLogAppender nop;
    Logger::defaultLogger().setAppender(nop);
}

ScratchFile::ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/kovalu-fuzz-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) {
        fail("mkstemp(" + pattern + ") failed");
    }
    close(fd);
    filePath = pattern;
}

ScratchFile::~ScratchFile() {
    unlink(filePath.c_str());
}

const std::string& ScratchFile::write(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(filePath.c_str(), "wb");
    if (!f) {
        fail("cannot open " + filePath);
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        fail("cannot write " + filePath);
    }
    return filePath;
}

const std::vector<CfgFile::Id<CfgFile::SectionNameTag>>& sectionIds() {
    static const std::vector<CfgFile::Id<CfgFile::SectionNameTag>> ids = {
        SectionName::Application, SectionName::JavaOptions, SectionName::AppCDSJavaOptions,
        SectionName::AppCDSGenerateCacheJavaOptions, SectionName::ArgOptions};
    return ids;
}

const std::vector<CfgFile::Id<CfgFile::PropertyNameTag>>& propertyIds() {
    static const std::vector<CfgFile::Id<CfgFile::PropertyNameTag>> ids = {
        PropertyName::version, PropertyName::mainjar, PropertyName::mainmodule,
        PropertyName::mainclass, PropertyName::classpath, PropertyName::modulepath,
        PropertyName::runtime, PropertyName::splash, PropertyName::memory,
        PropertyName::cds, PropertyName::arguments, PropertyName::javaOptions};
    return ids;
}

ModelView view(const CfgFile& cfg) {
    ModelView result;
    for (const auto& section : sectionIds()) {
        const CfgFile::Properties& properties = cfg.getProperties(section);
        for (const auto& property : properties) {
            result[section.name()][property.first.name()] = property.second;
        }
    }
    return result;
}

} // namespace kvfuzz
