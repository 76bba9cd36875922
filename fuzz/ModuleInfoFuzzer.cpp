// Feeds arbitrary bytes to the module-info.class reader: it may only answer or
// throw the tool's error, and a module it answers has a name.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "FuzzSupport.h"
#include "ModuleInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const ModuleDescriptor m =
            ModuleInfo::fromClassFile(std::string(reinterpret_cast<const char*>(data), size));
        if (m.name.empty()) {
            kvfuzz::fail("a module without a name");
        }
    } catch (const KvErrorBase&) {
    } catch (const std::exception& e) {
        kvfuzz::fail(std::string("not the tool's error: ") + e.what());
    }
    return 0;
}
