// Feeds arbitrary first bytes of a file to the Mach-O checks: they may only
// answer, and only a Mach-O file is an executable or has slices.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "MachO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string head(reinterpret_cast<const char*>(data), size);
    const bool machO = MachO::isMachO(head);
    const bool executable = MachO::isExecutable(head);
    const auto slice = MachO::firstSlice(head);
    if (executable && !machO) {
        kvfuzz::fail("an executable that is no Mach-O file");
    }
    if (slice && !machO) {
        kvfuzz::fail("a slice of what is no Mach-O file");
    }
    return 0;
}
