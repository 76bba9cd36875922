#include "StartupTraining.h"

#include <gtest/gtest.h>

#include "ErrorHandling.h"

namespace {

std::string refusal(const std::string& release) {
    try {
        StartupTraining::checkRuntime(release);
    } catch (const KvErrorBase& e) {
        return e.rawMessage();
    }
    return std::string();
}

std::string release(const std::string& version, const std::string& platform) {
    const std::size_t space = platform.find(' ');
    return "IMPLEMENTOR=\"X\"\nJAVA_VERSION=\"" + version + "\"\nOS_ARCH=\"" +
           platform.substr(space + 1) + "\"\nOS_NAME=\"" + platform.substr(0, space) + "\"\n";
}

} // namespace

TEST(StartupTraining, RefusesRuntimesItCannotTrainHere) {
    const std::string host = StartupTraining::hostPlatform();
    const std::string other = host.rfind("Darwin", 0) == 0 ? "Linux x86_64" : "Darwin aarch64";
    const std::string amd64 = host == "Linux x86_64" ? "Linux amd64" : host;
    const struct {
        std::string release;
        std::string refusal; // its beginning; empty: trained
    } cases[] = {
        {release("25.0.3", host), ""},
        {release("26", host), ""},
        {release("25", amd64), ""},
        {release("17.0.15", host), "--train needs a runtime of Java 25 or later, not Java 17.0.15: "
                                   "an earlier runtime's start-up archive does not survive"},
        {release("24.0.2", host), "--train needs a runtime of Java 25 or later, not Java 24.0.2"},
        {"OS_NAME=\"Linux\"\n", "--train needs a runtime of Java 25 or later, not one without "
                                "JAVA_VERSION"},
        {release("25", other), "--train runs the bundle on this " + host +
                                   " host, and its runtime is for " + other},
    };
    for (const auto& c : cases) {
        const std::string got = refusal(c.release);
        EXPECT_EQ(c.refusal, got.substr(0, c.refusal.size())) << c.release;
        EXPECT_EQ(c.refusal.empty(), got.empty()) << c.release;
        EXPECT_EQ(std::string::npos, got.find('\n')) << got;
    }
}

TEST(StartupTraining, Plan) {
    const struct {
        bool train;
        std::vector<std::string> arguments;
        std::string timeout;
        int seconds; // 0: refused with `error`
        std::string error;
    } cases[] = {
        {true, {}, "", 120, ""},
        {true, {"--quit", ""}, "5", 5, ""},
        {true, {}, "0", 0, "--train-timeout needs a whole number of seconds from 1 to 999999: 0"},
        {true, {}, "1.5", 0,
         "--train-timeout needs a whole number of seconds from 1 to 999999: 1.5"},
        {true, {}, "-3", 0, "--train-timeout needs a whole number of seconds from 1 to 999999: -3"},
        {true, {}, "9999999", 0,
         "--train-timeout needs a whole number of seconds from 1 to 999999: 9999999"},
        {false, {"x"}, "", 0, "--train-argument needs --train"},
        {false, {}, "5", 0, "--train-timeout needs --train"},
    };
    for (const auto& c : cases) {
        BundleOptions o;
        o.train = c.train;
        o.trainArguments = c.arguments;
        o.trainTimeout = c.timeout;
        try {
            const std::optional<StartupTraining::Plan> plan = StartupTraining::plan(o);
            ASSERT_TRUE(plan.has_value()) << c.timeout;
            EXPECT_EQ(c.seconds, plan->timeoutSeconds);
            EXPECT_EQ(c.arguments, plan->arguments);
        } catch (const KvErrorBase& e) {
            EXPECT_EQ(c.error, e.rawMessage());
        }
    }
    EXPECT_FALSE(StartupTraining::plan(BundleOptions()).has_value());
}
