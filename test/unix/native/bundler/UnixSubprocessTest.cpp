#include "Subprocess.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(Subprocess, RunKeepsArgumentsOutputsAndStatusApart) {
    struct Case {
        std::vector<std::string> argv;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"/bin/sh", "-c", "printf out; printf err >&2; exit 3"}, 3, "out", "err"},
        {{"/bin/sh", "-c", "kill -TERM $$"}, 128 + 15, "", ""},
        {{"/usr/bin/printf", "%s|", "a b", "$HOME", "'q'", "*"}, 0, "a b|$HOME|'q'|*|", ""},
        // Standard input is closed, not the caller's: cat ends at once.
        {{"/bin/cat"}, 0, "", ""},
    };
    for (const Case& c : cases) {
        const ProgramResult r = Subprocess::run(c.argv);
        EXPECT_EQ(c.status, r.status) << c.argv.back();
        EXPECT_EQ(c.out, r.out) << c.argv.back();
        EXPECT_EQ(c.err, r.err) << c.argv.back();
    }
}

// A child that fills the error pipe before writing its output must not block.
TEST(Subprocess, RunReadsBothOutputsAtOnce) {
    const ProgramResult r = Subprocess::run(
        {"/bin/sh", "-c", "head -c 300000 /dev/zero >&2; head -c 300000 /dev/zero"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(300000u, r.out.size());
    EXPECT_EQ(300000u, r.err.size());
}

TEST(Subprocess, RunThrowsWhenTheProgramCannotStart) {
    EXPECT_NE(std::string::npos,
              kvtest::thrownBy([] { Subprocess::run({"/nonexistent/tool"}); })
                  .raw.find("cannot start /nonexistent/tool"));
}

TEST(Subprocess, FindOnPathTakesTheFirstExecutable) {
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "a/tool", "");
    kvtest::writeFile(tmp / "b/tool", "");
    kvtest::writeFile(tmp / "c/tool", "");
    ::chmod((tmp / "b/tool").c_str(), 0755);
    ::chmod((tmp / "c/tool").c_str(), 0755);
    kvtest::EnvGuard path("PATH", tmp / "a:" + tmp / "b:" + tmp / "c");
    EXPECT_EQ(tmp / "b/tool", Subprocess::findOnPath("tool"));
    EXPECT_EQ("", Subprocess::findOnPath("none"));
}
