#include "FailureReport.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "TestSupport.h"
#include "app.h"

namespace {

struct Shown {
    std::string title;
    std::string message;
    double timeout;
};
std::vector<Shown> shown;

void recordAlert(const std::string& title, const std::string& message, double timeout) {
    shown.push_back(Shown{title, message, timeout});
}

void failFirst() {
    throw makeException("first", KV_SOURCE_CODE_POS);
}

void failSecond() {
    throw makeException("second", KV_SOURCE_CODE_POS);
}

} // namespace

TEST(FailureReport, DialogOnlyWhenLaunchdStartedItWithoutATerminal) {
    const struct {
        bool terminal;
        long parent;
        bool expected;
    } cases[] = {{false, 1, true}, {true, 1, false}, {false, 2, false}, {false, 0, false}};
    shown.clear();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        const std::size_t before = shown.size();
        FailureReport::ProcessFacts facts;
        facts.stderrIsTerminal = c.terminal;
        facts.parentPid = c.parent;
        EXPECT_EQ(c.expected, FailureReport::showAlertIfOpenedByLaunchServices(
                                  facts, recordAlert, "Demo", "Failed to launch JVM", "/l/Demo.log"));
        EXPECT_EQ(before + (c.expected ? 1 : 0), shown.size());
    }
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Demo", shown[0].title);
    EXPECT_EQ("Failed to launch JVM\n\nThis message is also in the log file /l/Demo.log",
              shown[0].message);
    EXPECT_GE(shown[0].timeout, 60);
    EXPECT_LE(shown[0].timeout, 600);
    EXPECT_EQ("Failed to launch JVM", FailureReport::alertMessage("Failed to launch JVM", ""));
}

TEST(FailureReport, CaptureKeepsTheFirstTextAndPrintsEveryLineAsTheDefault) {
    LogAppender& savedAppender = Logger::defaultLogger().getAppender();
    FailureReport::FailureCapture recorder;
    kvtest::StderrCapture err;
    EXPECT_EQ(1, app::launch(std::nothrow, failFirst, &recorder));
    EXPECT_EQ(1, app::launch(std::nothrow, failSecond, &recorder));
    EXPECT_EQ("first\nsecond\n", err.finish());
    EXPECT_TRUE(recorder.hasFailure());
    EXPECT_EQ("first", recorder.message());
    Logger::defaultLogger().setAppender(savedAppender);
}
