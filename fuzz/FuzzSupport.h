#ifndef KOVALU_FUZZSUPPORT_H
#define KOVALU_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CfgFile.h"

namespace kvfuzz {

/// Stops the run with a message on standard error; libFuzzer then saves the
/// input that led here.
[[noreturn]] void fail(const std::string& message);

/// Routes the default logger into nothing, as the launcher does without its
/// debug switch, so that logging still runs but prints nothing.
void silenceLogging();

/// One scratch file for the whole run, rewritten for every input.
class ScratchFile {
public:
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& write(const uint8_t* data, size_t size);
    const std::string& path() const { return filePath; }

private:
    std::string filePath;
};

typedef std::map<std::string, std::map<std::string, std::vector<std::string>>> ModelView;

/// The five recognised sections of a model with their properties, by name.
ModelView view(const CfgFile& cfg);

/// The recognised section and property names.
const std::vector<CfgFile::Id<CfgFile::SectionNameTag>>& sectionIds();
const std::vector<CfgFile::Id<CfgFile::PropertyNameTag>>& propertyIds();

} // namespace kvfuzz

#endif
