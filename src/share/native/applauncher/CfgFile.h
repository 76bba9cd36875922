#ifndef KOVALU_CFGFILE_H
#define KOVALU_CFGFILE_H

#include <cstring>
#include <map>
#include <string>
#include <vector>

/// The loaded launcher configuration: sections of properties, each property a
/// list of values in file order.
class CfgFile {
public:
    /// A section or property name with static lifetime, compared by its text.
    template <class Tag>
    class Id {
    public:
        constexpr explicit Id(const char* name) : str(name) {}

        bool operator==(const Id& other) const { return std::strcmp(str, other.str) == 0; }
        bool operator!=(const Id& other) const { return !(*this == other); }
        /// Byte order of the names, bytes compared unsigned.
        bool operator<(const Id& other) const { return std::strcmp(str, other.str) < 0; }

        const char* name() const { return str; }

    private:
        const char* str;
    };

    struct SectionNameTag {};
    struct PropertyNameTag {};

    typedef std::map<Id<PropertyNameTag>, std::vector<std::string>> Properties;

    CfgFile() {}

    /// Reads a configuration file; throws when it cannot be opened, read to
    /// the end, or a section header lacks its ']'.
    static CfgFile load(const std::string& path);

    /// The properties of a section, or an empty map when there is none.
    const Properties& getProperties(const Id<SectionNameTag>& sectionName) const;

    /// Makes `values` the complete value list of a property, creating the
    /// section and property when absent.
    CfgFile& setPropertyValue(const Id<SectionNameTag>& sectionName,
                              const Id<PropertyNameTag>& name,
                              const std::vector<std::string>& values);

    /// A copy with every macro name in every value replaced by its value,
    /// repeated until nothing changes. Throws when a value never settles, or
    /// grows by more than 16 MiB, because a macro value leads back to a name.
    CfgFile expandMacros(const std::map<std::string, std::string>& macros) const;

    /// The last value of a property entry; empty when the entry holds none.
    static std::string asString(const Properties::value_type& property);

    /// All values of a property entry joined with ':'.
    static std::string asPathList(const Properties::value_type& property);

private:
    typedef std::map<Id<SectionNameTag>, Properties> PropertyMap;

    PropertyMap data;
    Properties empty;
};

namespace SectionName {
extern const CfgFile::Id<CfgFile::SectionNameTag> Application;
extern const CfgFile::Id<CfgFile::SectionNameTag> JavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> AppCDSJavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> AppCDSGenerateCacheJavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> ArgOptions;
} // namespace SectionName

namespace PropertyName {
extern const CfgFile::Id<CfgFile::PropertyNameTag> version;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainjar;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainmodule;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainclass;
extern const CfgFile::Id<CfgFile::PropertyNameTag> classpath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> modulepath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> runtime;
extern const CfgFile::Id<CfgFile::PropertyNameTag> splash;
extern const CfgFile::Id<CfgFile::PropertyNameTag> memory;
extern const CfgFile::Id<CfgFile::PropertyNameTag> arguments;
extern const CfgFile::Id<CfgFile::PropertyNameTag> javaOptions;
/// "app.cds": "auto" asks for the per-user class-data archive.
extern const CfgFile::Id<CfgFile::PropertyNameTag> cds;
} // namespace PropertyName

/// The strings in order with `delimiter` between neighbours.
std::string join(const std::vector<std::string>& values, char delimiter);

#endif
