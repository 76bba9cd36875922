// How much of a configuration value an expansion error quotes.
#include <gtest/gtest.h>

#include <string>

#include "CfgFile.h"
#include "ErrorHandling.h"

TEST(CfgFileExpandErrors, QuoteAtMost256BytesThenTheFullLength) {
    const std::string x255(255, 'x');
    const struct {
        std::string value;
        std::string quoted;
    } cases[] = {
        {"$A" + std::string(254, 'x'), "\"$A" + std::string(254, 'x') + "\""},
        {"$A" + x255, "\"$A" + std::string(254, 'x') + "\"... (257 bytes)"},
        {"\n" + x255 + std::string(600000, '$') + "A", "\"\\n" + x255 + "\"... (600257 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.size());
        CfgFile cfg;
        cfg.setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions, {c.value});
        try {
            cfg.expandMacros({{"$A", "$C"}, {"$B", "$A"}, {"$C", "$B"}});
            ADD_FAILURE() << "no error";
        } catch (const KvErrorBase& e) {
            EXPECT_EQ("Macro expansion of " + c.quoted +
                          " does not finish: the value of $A (\"$C\") contains $C",
                      e.rawMessage());
        }
    }
}
