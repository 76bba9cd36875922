#include "ModulePath.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarFile.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

/// The descriptor of a jar's module-info.class, at its top or in a version
/// directory; none for a jar without one (an automatic module).
std::optional<ModuleDescriptor> jarModule(const std::string& path) {
    const JarFile jar(path);
    if (jar.contains("module-info.class")) {
        return ModuleInfo::fromClassFile(jar.read("module-info.class"));
    }
    for (const std::string& name : jar.names()) {
        if (ModulePath::versionedEntry(name) == "module-info.class") {
            return ModuleInfo::fromClassFile(jar.read(name));
        }
    }
    return std::nullopt;
}

std::optional<ModuleDescriptor> moduleAt(const std::string& source) {
    std::error_code ec;
    if (fs::is_directory(source, ec)) {
        std::string info;
        if (FileUtils::readRegularFile(source + "/module-info.class", info) ==
            FileUtils::ReadResult::Read) {
            return ModuleInfo::fromClassFile(info);
        }
        return std::nullopt;
    }
    return tstrings::endsWith(source, ".jar") ? jarModule(source) : std::nullopt;
}

} // namespace

namespace ModulePath {

std::string versionedEntry(const std::string& entry) {
    const std::string prefix = "META-INF/versions/";
    const std::string::size_type slash = entry.find('/', prefix.size());
    if (!tstrings::startsWith(entry, prefix) || slash == std::string::npos ||
        slash == prefix.size() ||
        !std::all_of(entry.begin() + prefix.size(), entry.begin() + slash,
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::string();
    }
    return entry.substr(slash + 1);
}

std::vector<std::pair<std::string, std::string>> places(const std::string& given,
                                                        const std::string& source) {
    std::error_code ec;
    if (!fs::is_directory(source, ec) || fs::exists(fs::path(source) / "module-info.class", ec)) {
        return {{given, source}};
    }
    std::vector<std::string> children;
    try {
        for (const fs::directory_entry& child : fs::directory_iterator(source, ec)) {
            children.push_back(child.path().filename().string());
        }
    } catch (const fs::filesystem_error&) {
        // What it lists is checked; the runtime reports the rest at launch.
    }
    std::sort(children.begin(), children.end());
    std::vector<std::pair<std::string, std::string>> result;
    for (const std::string& child : children) {
        result.emplace_back(given + "/" + child, source + "/" + child);
    }
    return result;
}

std::vector<FoundModule> explicitModules(const std::string& given, const std::string& source) {
    std::vector<FoundModule> modules;
    for (const auto& [placeGiven, placeSource] : places(given, source)) {
        try {
            if (std::optional<ModuleDescriptor> module = moduleAt(placeSource)) {
                modules.push_back(FoundModule{placeGiven, placeSource, *module});
            }
        } catch (const KvErrorBase&) {
        }
    }
    return modules;
}

std::string automaticName(const std::string& fileName) {
    std::string base = fileName;
    if (base.size() > 4 && tstrings::toLower(base.substr(base.size() - 4)) == ".jar") {
        base.resize(base.size() - 4);
    }
    for (std::size_t at = 0; at + 1 < base.size(); ++at) {
        if (base[at] == '-' && std::isdigit(static_cast<unsigned char>(base[at + 1]))) {
            base.resize(at);
            break;
        }
    }
    std::string name;
    for (const char c : base) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        } else if (!name.empty() && name.back() != '.') {
            name += '.';
        }
    }
    while (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    return name;
}

} // namespace ModulePath
