// Feeds arbitrary bytes to the configuration loader as a file. The loader may
// only return a model or throw the launcher's error, and what it returns must
// agree with a small independent reading of the same bytes.
#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FuzzSupport.h"

namespace {

struct Reading {
    kvfuzz::ModelView model;
    int missingBracketLine = 0;
};

bool isKnown(const std::set<std::string>& names, const std::string& name) {
    return names.count(name) != 0;
}

// Kept deliberately naive: lines are whatever lies between line feeds, and
// each rule of the format is applied literally.
Reading read(const std::string& bytes) {
    std::set<std::string> sections;
    for (const auto& id : kvfuzz::sectionIds()) {
        sections.insert(id.name());
    }
    std::set<std::string> properties;
    for (const auto& id : kvfuzz::propertyIds()) {
        properties.insert(id.name());
    }

    Reading result;
    std::string section;
    std::map<std::string, std::vector<std::string>> current;
    auto purge = [&]() {
        if (!section.empty() && !current.empty()) {
            result.model[section] = current;
        }
        section.clear();
        current.clear();
    };

    int lineNo = 0;
    std::string::size_type start = 0;
    while (start < bytes.size()) {
        std::string::size_type end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            const std::string::size_type close = line.rfind(']');
            if (close == std::string::npos) {
                result.missingBracketLine = lineNo;
                return result;
            }
            purge();
            const std::string name = line.substr(1, close - 1);
            section = isKnown(sections, name) ? name : std::string();
            continue;
        }
        std::string::size_type eq = line.find('=');
        while (eq != std::string::npos && eq > 0 && line[eq - 1] == '\\') {
            eq = line.find('=', eq + 1);
        }
        const std::string name = eq == std::string::npos ? line : line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (!section.empty() && isKnown(properties, name)) {
            current[name].push_back(value);
        }
    }
    purge();
    return result;
}

std::string describe(const kvfuzz::ModelView& model) {
    std::string out;
    for (const auto& section : model) {
        for (const auto& property : section.second) {
            out += "[" + section.first + "] " + property.first + ":";
            for (const auto& value : property.second) {
                out += " <" + value + ">";
            }
            out += "\n";
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kvfuzz::ScratchFile file;
    const std::string& path = file.write(data, size);
    const Reading expected = read(std::string(reinterpret_cast<const char*>(data), size));

    CfgFile cfg;
    try {
        cfg = CfgFile::load(path);
    } catch (const std::runtime_error& e) {
        const KvErrorBase* error = dynamic_cast<const KvErrorBase*>(&e);
        if (!error) {
            kvfuzz::fail(std::string("not the launcher's error: ") + e.what());
        }
        const std::string wanted = "Error parsing [" + path + "] file at " +
                                   std::to_string(expected.missingBracketLine) +
                                   ": Missing ']' character";
        if (expected.missingBracketLine == 0 || error->rawMessage() != wanted) {
            kvfuzz::fail(std::string("unexpected error: ") + error->rawMessage());
        }
        return 0;
    }
    if (expected.missingBracketLine != 0) {
        kvfuzz::fail("no error for a header without ']' on line " +
                     std::to_string(expected.missingBracketLine));
    }
    const kvfuzz::ModelView loaded = kvfuzz::view(cfg);
    if (loaded != expected.model) {
        kvfuzz::fail("model differs\nloaded:\n" + describe(loaded) + "expected:\n" +
                     describe(expected.model));
    }
    return 0;
}
