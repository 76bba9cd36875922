#include "CfgFile.h"

#include <cstdint>
#include <cstdio>
#include <sstream>

#include "CfgNames.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace SectionName {
const CfgFile::Id<CfgFile::SectionNameTag> Application(CfgNames::application);
const CfgFile::Id<CfgFile::SectionNameTag> JavaOptions(CfgNames::javaOptionsSection);
const CfgFile::Id<CfgFile::SectionNameTag> AppCDSJavaOptions(CfgNames::appCdsJavaOptions);
const CfgFile::Id<CfgFile::SectionNameTag>
    AppCDSGenerateCacheJavaOptions(CfgNames::appCdsGenerateCacheJavaOptions);
const CfgFile::Id<CfgFile::SectionNameTag> ArgOptions(CfgNames::argOptions);
} // namespace SectionName

namespace PropertyName {
const CfgFile::Id<CfgFile::PropertyNameTag> version(CfgNames::version);
const CfgFile::Id<CfgFile::PropertyNameTag> mainjar(CfgNames::mainJar);
const CfgFile::Id<CfgFile::PropertyNameTag> mainmodule(CfgNames::mainModule);
const CfgFile::Id<CfgFile::PropertyNameTag> mainclass(CfgNames::mainClass);
const CfgFile::Id<CfgFile::PropertyNameTag> classpath(CfgNames::classPath);
const CfgFile::Id<CfgFile::PropertyNameTag> modulepath(CfgNames::modulePath);
const CfgFile::Id<CfgFile::PropertyNameTag> runtime(CfgNames::runtime);
const CfgFile::Id<CfgFile::PropertyNameTag> splash(CfgNames::splash);
const CfgFile::Id<CfgFile::PropertyNameTag> memory(CfgNames::memory);
const CfgFile::Id<CfgFile::PropertyNameTag> arguments(CfgNames::arguments);
const CfgFile::Id<CfgFile::PropertyNameTag> javaOptions(CfgNames::javaOptions);
const CfgFile::Id<CfgFile::PropertyNameTag> cds(CfgNames::cds);
} // namespace PropertyName

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

const SectionId UnknownSection("");

const SectionId* const knownSections[] = {
    &SectionName::Application,
    &SectionName::JavaOptions,
    &SectionName::AppCDSJavaOptions,
    &SectionName::AppCDSGenerateCacheJavaOptions,
    &SectionName::ArgOptions,
};

const PropertyId* const knownProperties[] = {
    &PropertyName::version,   &PropertyName::mainjar,    &PropertyName::mainmodule,
    &PropertyName::mainclass, &PropertyName::classpath,  &PropertyName::modulepath,
    &PropertyName::runtime,   &PropertyName::splash,     &PropertyName::memory,
    &PropertyName::arguments, &PropertyName::javaOptions, &PropertyName::cds,
};

// Returns the table's own identifier so that model keys always point to the
// static names, never into a line buffer.
template <class IdType, std::size_t N>
const IdType* findId(const IdType* const (&table)[N], const std::string& name) {
    for (const IdType* id : table) {
        if (name == id->name()) {
            return id;
        }
    }
    return nullptr;
}

class PurgeSection {
public:
    PurgeSection(SectionId& sectionName, CfgFile::Properties& sectionData,
                 std::map<SectionId, CfgFile::Properties>& allData)
        : sectionName(sectionName), sectionData(sectionData), allData(allData) {}

    void operator()() {
        if (sectionName == UnknownSection || sectionData.empty()) {
            return;
        }
        allData[sectionName].swap(sectionData);
        sectionName = UnknownSection;
        sectionData.clear();
    }

private:
    SectionId& sectionName;
    CfgFile::Properties& sectionData;
    std::map<SectionId, CfgFile::Properties>& allData;
};

class AddProperty {
public:
    AddProperty(const SectionId& sectionName, CfgFile::Properties& sectionData)
        : sectionName(sectionName), sectionData(sectionData) {}

    void operator()(const std::string& name, const std::string& value) {
        if (sectionName == UnknownSection) {
            return;
        }
        const PropertyId* id = findId(knownProperties, name);
        if (!id) {
            return;
        }
        sectionData[*id].push_back(value);
    }

private:
    const SectionId& sectionName;
    CfgFile::Properties& sectionData;
};

// Keeps an error message on one line whatever bytes the value holds.
std::string printable(const std::string& value) {
    std::string result;
    for (const char c : value) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            result += "\\n";
        } else if (c == '\r') {
            result += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned>(byte));
            result += escaped;
        } else {
            result += c;
        }
    }
    return result;
}

// Values may be megabytes long; an error line quotes only their beginning.
const std::string::size_type maxQuotedBytes = 256;

// The value in double quotes, cut after maxQuotedBytes bytes and then followed
// by "..." and its full length.
std::string quoted(const std::string& value) {
    if (value.size() <= maxQuotedBytes) {
        return "\"" + printable(value) + "\"";
    }
    return (tstrings::any() << "\"" << printable(value.substr(0, maxQuotedBytes)) << "\"... ("
                            << value.size() << " bytes)")
        .str();
}

// Expansion only runs away when some macro's value holds a macro name, as when
// a directory of the bundle's path is named like one. Names that macro, so the
// user knows which directory to rename; empty when no value holds a name.
std::string runawayCause(const std::map<std::string, std::string>& macros) {
    for (const std::map<std::string, std::string>::value_type& macro : macros) {
        for (const std::map<std::string, std::string>::value_type& other : macros) {
            if (!other.first.empty() && macro.second.find(other.first) != std::string::npos) {
                return (tstrings::any() << ": the value of " << printable(macro.first) << " ("
                                        << quoted(macro.second) << ") contains "
                                        << printable(other.first))
                    .str();
            }
        }
    }
    return std::string();
}

// Expansion adds at most a few directory paths per macro occurrence; a value
// that grows by this much is being multiplied by a macro value that names
// itself, and must fail before it exhausts memory.
const std::string::size_type maxExpansionGrowth = 16 * 1024 * 1024;

// Counts occurrences the way tstrings::replace finds them: left to right,
// never overlapping.
std::string::size_type countOccurrences(const std::string& str, const std::string& search) {
    std::string::size_type count = 0;
    for (std::string::size_type pos = str.find(search); pos != std::string::npos;
         pos = str.find(search, pos + search.size())) {
        ++count;
    }
    return count;
}

bool replacementFits(const std::string& str, const std::string& search,
                     const std::string& replacement, std::string::size_type limit) {
    if (search.empty() || replacement.size() <= search.size()) {
        return true;
    }
    const std::string::size_type growth = replacement.size() - search.size();
    return countOccurrences(str, search) <= (limit - str.size()) / growth;
}

std::string expandValue(const std::string& value,
                        const std::map<std::string, std::string>& macros) {
    const std::string::size_type limit = value.size() + maxExpansionGrowth;
    std::string current(value);
    // Without a cycle every pass resolves at least one more level of nesting,
    // and there are no more levels than macros; one more pass sees no change.
    for (std::size_t pass = 0; pass <= macros.size(); ++pass) {
        std::string next(current);
        for (const std::map<std::string, std::string>::value_type& macro : macros) {
            if (!replacementFits(next, macro.first, macro.second, limit)) {
                throw makeException(tstrings::any() << "Macro expansion of " << quoted(value)
                                                    << " grows by more than "
                                                    << maxExpansionGrowth << " bytes"
                                                    << runawayCause(macros),
                                    KV_SOURCE_CODE_POS);
            }
            next = tstrings::replace(next, macro.first, macro.second);
        }
        if (next == current) {
            return current;
        }
        current.swap(next);
    }
    throw makeException(tstrings::any() << "Macro expansion of " << quoted(value)
                                        << " does not finish" << runawayCause(macros),
                        KV_SOURCE_CODE_POS);
}

} // namespace

CfgFile CfgFile::load(const std::string& path) {
    std::string content;
    const FileUtils::ReadResult read = FileUtils::readRegularFile(path, content);
    // Taken at once: composing the message may touch errno.
    const std::string error =
        read == FileUtils::ReadResult::NotRegular ? "Not a regular file" : lastCRTError();
    if (read == FileUtils::ReadResult::ReadFailed) {
        throw makeException(tstrings::any() << "Failed to read \"" << path
                                            << "\" file up to the end: " << error,
                            KV_SOURCE_CODE_POS);
    }
    if (read != FileUtils::ReadResult::Read) {
        throw makeException(tstrings::any() << "Error opening \"" << path << "\" file: " << error,
                            KV_SOURCE_CODE_POS);
    }
    std::istringstream input(content);

    CfgFile result;
    SectionId sectionName = UnknownSection;
    Properties sectionData;
    std::int32_t lineno = 0;

    PurgeSection purgeSection(sectionName, sectionData, result.data);
    AddProperty addProperty(sectionName, sectionData);

    std::string line;
    while (std::getline(input, line)) {
        ++lineno;

        if (line.empty() || line[0] == ';') {
            continue;
        }

        if (line[0] == '[') {
            const std::string::size_type closing = line.rfind(']');
            if (closing == std::string::npos) {
                throw makeException(tstrings::any() << "Error parsing [" << path
                                                    << "] file at " << lineno
                                                    << ": Missing ']' character",
                                    KV_SOURCE_CODE_POS);
            }
            purgeSection();
            const SectionId* id = findId(knownSections, line.substr(1, closing - 1));
            sectionName = id ? *id : UnknownSection;
            continue;
        }

        // A backslash right before '=' keeps it inside the name.
        std::string::size_type eq = line.find('=');
        while (eq != std::string::npos && eq != 0 && line[eq - 1] == '\\') {
            eq = line.find('=', eq + 1);
        }
        if (eq == std::string::npos) {
            addProperty(line, std::string());
        } else {
            addProperty(line.substr(0, eq), line.substr(eq + 1));
        }
    }

    purgeSection();
    return result;
}

const CfgFile::Properties& CfgFile::getProperties(const Id<SectionNameTag>& sectionName) const {
    const PropertyMap::const_iterator it = data.find(sectionName);
    return it == data.end() ? empty : it->second;
}

CfgFile& CfgFile::setPropertyValue(const Id<SectionNameTag>& sectionName,
                                   const Id<PropertyNameTag>& name,
                                   const std::vector<std::string>& values) {
    data[sectionName][name] = values;
    return *this;
}

CfgFile CfgFile::expandMacros(const std::map<std::string, std::string>& macros) const {
    CfgFile copy(*this);
    for (PropertyMap::value_type& section : copy.data) {
        for (Properties::value_type& property : section.second) {
            for (std::string& value : property.second) {
                value = expandValue(value, macros);
            }
        }
    }
    return copy;
}

std::string CfgFile::asString(const Properties::value_type& property) {
    // An entry set from an empty list has no last value to give.
    if (property.second.empty()) {
        return std::string();
    }
    return property.second.back();
}

std::string CfgFile::asPathList(const Properties::value_type& property) {
    return join(property.second, FileUtils::pathSeparator);
}

std::string join(const std::vector<std::string>& values, char delimiter) {
    return tstrings::join(values.begin(), values.end(), std::string(1, delimiter));
}
