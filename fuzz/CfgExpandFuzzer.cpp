// Expands the launcher's macros over a model loaded from arbitrary bytes, with
// arbitrary macros. Expansion must finish (or give up with the launcher's
// error, in one line of bounded length), leave its input alone, keep every
// section and property, and hand back values in which one more round of
// replacing changes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FuzzSupport.h"
#include "tstrings.h"

namespace {

// Two values quoted up to 256 bytes each, every byte escaped at worst as four,
// plus the fixed words and the macro names.
const std::size_t maxMessageBytes = 4096;

std::map<std::string, std::string> consumeMacros(FuzzedDataProvider& input) {
    static const char* const names[] = {"$APPDIR", "$BINDIR", "$ROOTDIR"};
    std::map<std::string, std::string> macros;
    const size_t count = input.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < count; ++i) {
        // Half the time one of the launcher's own names, otherwise any text:
        // short names inside long values make expansion grow fastest.
        std::string name;
        if (input.ConsumeBool()) {
            name = names[input.ConsumeIntegralInRange<size_t>(0, 2)];
        } else {
            name = input.ConsumeRandomLengthString(8);
        }
        macros[name] = input.ConsumeRandomLengthString(64);
    }
    return macros;
}

bool settled(const std::string& value, const std::map<std::string, std::string>& macros) {
    std::string copy = value;
    for (const auto& macro : macros) {
        copy = tstrings::replace(copy, macro.first, macro.second);
    }
    return copy == value;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kvfuzz::ScratchFile file;
    FuzzedDataProvider input(data, size);
    const std::map<std::string, std::string> macros = consumeMacros(input);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CfgFile cfg;
    try {
        cfg = CfgFile::load(file.write(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    } catch (const std::runtime_error&) {
        return 0; // the loader's own fuzzer judges its errors
    }
    const kvfuzz::ModelView before = kvfuzz::view(cfg);

    CfgFile expanded;
    try {
        expanded = cfg.expandMacros(macros);
    } catch (const std::runtime_error& e) {
        const KvErrorBase* error = dynamic_cast<const KvErrorBase*>(&e);
        if (!error) {
            kvfuzz::fail(std::string("not the launcher's error: ") + e.what());
        }
        // The launch fails with this text as its one line on standard error.
        const std::string message = error->rawMessage();
        if (message.find('\n') != std::string::npos) {
            kvfuzz::fail("error message of several lines: " + message);
        }
        // Values are quoted cut to their first bytes, however long they are.
        if (message.size() > maxMessageBytes) {
            kvfuzz::fail("error message of " + std::to_string(message.size()) + " bytes");
        }
        if (kvfuzz::view(cfg) != before) {
            kvfuzz::fail("a failed expansion changed its input");
        }
        return 0;
    }

    if (kvfuzz::view(cfg) != before) {
        kvfuzz::fail("expansion changed its input");
    }
    const kvfuzz::ModelView after = kvfuzz::view(expanded);
    auto b = before.begin();
    for (auto a = after.begin(); a != after.end(); ++a, ++b) {
        if (b == before.end() || a->first != b->first || a->second.size() != b->second.size()) {
            kvfuzz::fail("expansion changed the sections of the model");
        }
        auto bp = b->second.begin();
        for (auto ap = a->second.begin(); ap != a->second.end(); ++ap, ++bp) {
            if (ap->first != bp->first || ap->second.size() != bp->second.size()) {
                kvfuzz::fail("expansion changed the properties of [" + a->first + "]");
            }
            for (const std::string& value : ap->second) {
                if (!settled(value, macros)) {
                    kvfuzz::fail("expansion stopped early at value <" + value + ">");
                }
            }
        }
    }
    if (b != before.end()) {
        kvfuzz::fail("expansion dropped a section");
    }
    return 0;
}
