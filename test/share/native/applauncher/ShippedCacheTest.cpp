#include "ShippedCache.h"

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "ArchiveStore.h"
#include "TestSupport.h"

namespace {

const std::uint32_t magic = 0xf00baba2;
const char cache[] = "\xa2\xab\x0b\xf0 cache"; // the magic first, as the runtime writes it

} // namespace

// Only the tool's exact "<step>:<absolute directory>" trains, and the variable
// never reaches the application.
TEST(ShippedCache, TakesTheTrainingVariableOnce) {
    using Step = ShippedCache::Training::Step;
    const struct {
        const char* value;
        Step step;
        const char* dir;
    } cases[] = {
        {"record:/t/d", Step::Record, "/t/d"}, {"create:/t/d", Step::Create, "/t/d"},
        {"check:/t/d", Step::Check, "/t/d"},   {"write:/t/d", Step::None, "/t/d"},
        {"record:t/d", Step::None, ""},        {"record:/t:d", Step::None, ""},
        {"record:/t%p", Step::None, ""},       {"record", Step::None, ""},
        {"", Step::None, ""},
    };
    for (const auto& c : cases) {
        kvtest::EnvGuard env(ShippedCache::trainVariable, std::string(c.value));
        const ShippedCache::Training training = ShippedCache::takeTraining();
        EXPECT_EQ(c.step, training.step) << c.value;
        if (c.step != Step::None) {
            EXPECT_EQ(c.dir, training.dir) << c.value;
        }
        EXPECT_EQ(nullptr, std::getenv(ShippedCache::trainVariable)) << c.value;
    }
}

// The shipped cache is tried once per bundle state; a launch whose runtime
// left a message sets it aside for that state, and another file of the
// bundle is tried afresh.
TEST(ShippedCache, RemembersWhatTheRuntimeRefused) {
    kvtest::TempDir tmp;
    const ArchiveStore store(tmp / "cache", "App", "0123456789abcdef", ".aot");
    kvtest::makeDirs(tmp / "cache");
    const std::string shipped = tmp / "App.aot";
    const struct {
        const char* what;
        const char* content;  // of the shipped file; null: none there
        const char* jvmLog;   // left by the last launch; null: none
        bool used;
        const char* record;   // first word of the record afterwards
    } steps[] = {
        {"no shipped cache", nullptr, nullptr, false, ""},
        {"not a cache", "not a cache", nullptr, false, ""},
        {"first launch", cache, nullptr, true, "tried"},
        {"mapped cleanly", cache, "", true, "tried"},
        {"refused", cache, "[error][aot] Unable to map shared spaces\n", false, "refused"},
        {"refused for good", cache, nullptr, false, "refused"},
        {"another file", "\xa2\xab\x0b\xf0 other cache", "stale\n", true, "tried"},
    };
    const char* written = nullptr;
    for (const auto& s : steps) {
        // Written anew only when it changes: a new file is a new state.
        if (s.content != written) {
            std::remove(shipped.c_str());
            if (s.content) {
                kvtest::writeFile(shipped, s.content);
            }
            written = s.content;
        }
        if (s.jvmLog) {
            kvtest::writeFile(store.path(".log"), s.jvmLog);
        }
        EXPECT_EQ(s.used, ShippedCache::mayUse(shipped, store, magic)) << s.what;
        const std::string record = kvtest::readFile(store.path(".shipped"));
        EXPECT_EQ(s.record, record.substr(0, record.find(' '))) << s.what;
    }
    // A link is not the bundle's file.
    std::remove(shipped.c_str());
    kvtest::writeFile(tmp / "target.aot", cache);
    kvtest::makeSymlink(tmp / "target.aot", shipped);
    EXPECT_FALSE(ShippedCache::mayUse(shipped, store, magic));
}
