// How much of a configuration value an expansion error quotes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CfgFile.h"
#include "ErrorHandling.h"

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) {
        result += piece;
    }
    return result;
}

std::string expansionError(const std::string& value,
                           const std::map<std::string, std::string>& macros) {
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions, {value});
    try {
        cfg.expandMacros(macros);
    } catch (const KvErrorBase& e) {
        return e.rawMessage();
    }
    return "no error";
}

} // namespace

TEST(CfgFileExpandErrors, QuoteAtMost256BytesThenTheFullLength) {
    const std::map<std::string, std::string> cycle = {{"$A", "$C"}, {"$B", "$A"}, {"$C", "$B"}};
    const std::string cause = " does not finish: the value of $A (\"$C\") contains $C";
    const struct {
        std::string value;
        std::string quoted;
    } cases[] = {
        {repeat("$A", 128), "\"" + repeat("$A", 128) + "\""},
        {repeat("$A", 128) + "x", "\"" + repeat("$A", 128) + "\"... (257 bytes)"},
        {"\n" + repeat("$A", 300000), "\"\\n" + repeat("$A", 127) + "$\"... (600001 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.size());
        EXPECT_EQ("Macro expansion of " + c.quoted + cause, expansionError(c.value, cycle));
    }
}
