#include "ModuleInfo.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string u2(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)}; }
std::string u4(unsigned v) { return u2(v >> 16) + u2(v & 0xffff); }
std::string utf8(const std::string& s) { return "\x01" + u2(static_cast<unsigned>(s.size())) + s; }

/// module m { requires java.sql; requires static java.xml; } with the main
/// class p.Main, and a long constant in the pool, which takes two slots.
std::string moduleInfo() {
    const std::string pool = utf8("Module") + utf8("m") + "\x13" + u2(2) + utf8("java.sql") +
                             "\x13" + u2(4) + utf8("java.xml") + "\x13" + u2(6) +
                             utf8("module-info") + "\x07" + u2(8) + "\x05" + u4(0) + u4(7) +
                             utf8("ModuleMainClass") + utf8("p/Main") + "\x07" + u2(13);
    const std::string module = u2(3) + u2(0) + u2(0) + u2(2) + u2(5) + u2(0) + u2(0) + u2(7) +
                               u2(0x40) + u2(0) + u2(0) + u2(0) + u2(0) + u2(0);
    return "\xca\xfe\xba\xbe" + u2(0) + u2(53) + u2(15) + pool + u2(0x8000) + u2(9) + u2(0) +
           u2(0) + u2(0) + u2(0) + u2(2) + u2(1) + u4(static_cast<unsigned>(module.size())) +
           module + u2(12) + u4(2) + u2(14);
}

} // namespace

TEST(ModuleInfo, FromClassFileKeepsRunTimeRequirements) {
    const ModuleDescriptor m = ModuleInfo::fromClassFile(moduleInfo());
    EXPECT_EQ("m", m.name);
    EXPECT_EQ(std::vector<std::string>{"java.sql"}, m.requires);
    EXPECT_EQ("p.Main", m.mainClass);
}

TEST(ModuleInfo, FromClassFileRefusesWhatHoldsNoDescriptor) {
    const std::string whole = moduleInfo();
    std::string unnamed = whole; // the module's name an empty constant
    unnamed.replace(unnamed.find(std::string("\x01\0\x01m", 4)), 4, std::string("\x01\0\0", 3));
    for (const std::string& bytes : {std::string(), whole.substr(0, whole.size() - 12),
                                     "\xca\xfe\xba\xbf" + whole.substr(4), unnamed}) {
        EXPECT_NE("", kvtest::thrownBy([&] { ModuleInfo::fromClassFile(bytes); }).raw);
    }
}
