// Feeds arbitrary bytes to the jar reader as a file: the reader may only
// answer or throw the tool's error. Entries that are jars themselves are read
// the same way, two levels deep, and a jar that reads is rewritten with its
// first entry replaced, which must read back with the same names.
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "FuzzSupport.h"
#include "JarFile.h"

namespace {

const std::size_t readLimit = 1 << 16;
// A real jar has hundreds of entries; the first ones are enough to reach
// every path of the reader, and reading all would slow the run tenfold.
const std::size_t entriesRead = 32;

void checkRewrite(const JarFile& jar, const std::vector<std::string>& names) {
    static kvfuzz::ScratchFile rewritten;
    try {
        jar.writeWithReplacements({{names[0], "replaced"}}, rewritten.path());
    } catch (const KvErrorBase&) {
        return; // zip64 jars and damaged entries are refused
    }
    try {
        const JarFile again(rewritten.path());
        if (again.names() != names) {
            kvfuzz::fail("the rewritten jar lists other entries");
        }
        if (again.read(names[0]) != "replaced") {
            kvfuzz::fail("the rewritten jar lost the replacement of " + names[0]);
        }
    } catch (const KvErrorBase& e) {
        kvfuzz::fail(std::string("the rewritten jar does not read: ") + e.rawMessage());
    }
}

void exercise(const std::string& path, int depth) {
    static kvfuzz::ScratchFile nested[2];
    const JarFile jar(path);
    const std::vector<std::string> names = jar.names();
    jar.manifest();
    jar.isSigned();
    for (std::size_t i = 0; i < names.size() && i < entriesRead; ++i) {
        const std::string& name = names[i];
        if (!jar.contains(name)) {
            kvfuzz::fail("an entry it lists is not found: " + name);
        }
        std::string bytes;
        try {
            bytes = jar.read(name, readLimit);
        } catch (const KvErrorBase&) {
            continue;
        }
        if (depth < 2 && bytes.compare(0, 4, "PK\x03\x04", 4) == 0 && bytes.size() < readLimit) {
            const std::string& inner =
                nested[depth].write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            try {
                exercise(inner, depth + 1);
            } catch (const KvErrorBase&) {
            }
        }
    }
    if (depth == 0 && !names.empty()) {
        checkRewrite(jar, names);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kvfuzz::ScratchFile file;
    try {
        exercise(file.write(data, size), 0);
    } catch (const KvErrorBase&) {
    } catch (const std::exception& e) {
        kvfuzz::fail(std::string("not the tool's error: ") + e.what());
    }
    return 0;
}
