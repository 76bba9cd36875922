// Feeds arbitrary bytes to the property list reader: it may only answer or
// throw the tool's error, and what it answers, written back as the tool writes
// Info.plist, must read back as the same keys and values.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "ErrorHandling.h"
#include "FuzzSupport.h"
#include "InfoPlist.h"
#include "PlistReader.h"

namespace {

std::string describe(const std::vector<PlistEntry>& entries) {
    std::string out;
    for (const PlistEntry& e : entries) {
        const PlistXml* xml = std::get_if<PlistXml>(&e.value.value);
        out += "<" + e.key + "> " + (xml ? xml->text : std::string("?")) + "\n";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<PlistEntry> entries;
    try {
        entries = PlistReader::topLevel(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const KvErrorBase&) {
        return 0;
    } catch (const std::exception& e) {
        kvfuzz::fail(std::string("not the tool's error: ") + e.what());
    }
    std::vector<PlistEntry> again;
    try {
        again = PlistReader::topLevel(InfoPlist::plistText(entries));
    } catch (const KvErrorBase& e) {
        kvfuzz::fail(std::string("what it read does not read back: ") + e.rawMessage() + "\n" +
                     describe(entries));
    }
    if (describe(again) != describe(entries)) {
        kvfuzz::fail("read back differently\nfirst:\n" + describe(entries) + "again:\n" +
                     describe(again));
    }
    return 0;
}
