#include "app.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "Log.h"
#include "TestSupport.h"

namespace {

// Restores the default logger's appender, which app::launch replaces.
class DefaultAppenderGuard {
public:
    DefaultAppenderGuard() : saved(&Logger::defaultLogger().getAppender()) {}
    ~DefaultAppenderGuard() { Logger::defaultLogger().setAppender(*saved); }
    DefaultAppenderGuard(const DefaultAppenderGuard&) = delete;
    DefaultAppenderGuard& operator=(const DefaultAppenderGuard&) = delete;

private:
    LogAppender* saved;
};

struct Recorded {
    LogEvent event;
    std::string lastErrorMsg;
};

class RecordingAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        records.push_back(Recorded{event, app::lastErrorMsg()});
    }
    std::vector<Recorded> records;
};

int kvErrorLine;

void throwKvError() {
    kvErrorLine = __LINE__ + 1;
    throw makeException(tstrings::any() << "Failed to " << "launch", KV_SOURCE_CODE_POS);
}

void throwKvErrorWithEmptyMessage() {
    throw makeException("", KV_SOURCE_CODE_POS);
}

void throwRuntimeError() {
    errno = EACCES;
    throw std::runtime_error("own message");
}

void throwInt() {
    throw 42;
}

void returnNormally() {}

int traceLine;

void logTrace() {
    traceLine = __LINE__ + 1;
    LOG_TRACE("inside " << 7);
}

// A KvErrorBase outside the runtime_error family.
class ForeignError : public KvErrorBase {
public:
    const char* rawMessage() const override { return "foreign"; }
};

void throwForeignError() {
    throw ForeignError();
}

struct LaunchResult {
    int status;
    std::string err;
};

LaunchResult launchCaptured(app::LauncherFunc func, LogAppender* lastErrorAppender = nullptr) {
    kvtest::StderrCapture capture;
    const int status = app::launch(std::nothrow, func, lastErrorAppender);
    return LaunchResult{status, capture.finish()};
}

// The driver's own record lines come from app.cpp at lines the test cannot
// know; they are matched as numbers and checked to agree with each other.
std::string quoteRegex(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::string withLoggingPattern(const std::string& errorRecord, const std::string& lastError) {
    return R"(\[TRACE\] app\.cpp:(\d+): Entering launch\n)" R"(\[ERROR\] app\.cpp:\d+: )" +
           quoteRegex(errorRecord) + "\n" + quoteRegex(lastError) + "\n" +
           R"(\[TRACE\] app\.cpp:0: Exiting launch \(entered at app\.cpp:\1\)\n)";
}

std::string kvErrorReport() {
    return "Exception with message 'appTest.cpp(" + std::to_string(kvErrorLine) +
           ") at throwKvError(): Failed to launch' caught";
}

} // namespace

TEST(AppIsWithLogging, OnlyExactlyTrueSwitchesLoggingOn) {
    {
        kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
        EXPECT_TRUE(app::isWithLogging());
    }
    for (const char* value : {"TRUE", "1", " true", "true ", "", "yes"}) {
        kvtest::EnvGuard env("KOVALU_DEBUG", std::string(value));
        EXPECT_FALSE(app::isWithLogging()) << "value: '" << value << "'";
    }
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    EXPECT_FALSE(app::isWithLogging());
}

TEST(AppLaunch, SuccessReturnsZeroAndPrintsNothingWithoutLogging) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    const LaunchResult result = launchCaptured(returnNormally);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("", result.err);
}

TEST(AppLaunch, SuccessWithLoggingTracesTheLaunchScope) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    const LaunchResult result = launchCaptured(logTrace);
    EXPECT_EQ(0, result.status);
    const std::regex expected(R"(\[TRACE\] app\.cpp:(\d+): Entering launch\n)"
                              R"(\[TRACE\] appTest\.cpp:)" +
                              std::to_string(traceLine) +
                              R"(: inside 7\n)"
                              R"(\[TRACE\] app\.cpp:0: Exiting launch \(entered at app\.cpp:\1\)\n)");
    EXPECT_TRUE(std::regex_match(result.err, expected)) << result.err;
}

TEST(AppLaunchFailureOutput, KvErrorPrintsRawMessageAloneWithoutLogging) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("TRUE"));
    const LaunchResult result = launchCaptured(throwKvError);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("Failed to launch\n", result.err);
}

TEST(AppLaunchFailureOutput, KvErrorWithLoggingPrintsReportThenMessage) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    const LaunchResult result = launchCaptured(throwKvError);
    EXPECT_EQ(1, result.status);
    EXPECT_TRUE(std::regex_match(result.err,
                                 std::regex(withLoggingPattern(kvErrorReport(), "Failed to launch"))))
        << result.err;
}

TEST(AppLaunchFailureOutput, EmptyKvErrorMessagePrintsEmptyLine) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    const LaunchResult result = launchCaptured(throwKvErrorWithEmptyMessage);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("\n", result.err);
}

TEST(AppLaunchFailureOutput, RuntimeErrorPrintsErrnoTextNotItsMessage) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    const LaunchResult result = launchCaptured(throwRuntimeError);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string(std::strerror(EACCES)) + "\n", result.err);
}

TEST(AppLaunchFailureOutput, RuntimeErrorWithLoggingReportsItsMessage) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    const LaunchResult result = launchCaptured(throwRuntimeError);
    EXPECT_EQ(1, result.status);
    EXPECT_TRUE(std::regex_match(
        result.err, std::regex(withLoggingPattern("Exception with message 'own message' caught",
                                                  std::strerror(EACCES)))))
        << result.err;
}

TEST(AppLaunchFailureOutput, OtherExceptionPrintsUnknownError) {
    DefaultAppenderGuard appender;
    {
        kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
        const LaunchResult result = launchCaptured(throwInt);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ("Unknown error\n", result.err);
    }
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    const LaunchResult result = launchCaptured(throwInt);
    EXPECT_EQ(1, result.status);
    EXPECT_TRUE(std::regex_match(
        result.err, std::regex(withLoggingPattern("Unknown exception caught", "Unknown error"))))
        << result.err;
}

TEST(AppLaunchFailureOutput, KvErrorBaseOutsideRuntimeErrorDoesNotEscape) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    const LaunchResult result = launchCaptured(throwForeignError);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("foreign\n", result.err);
}

TEST(AppLaunchLastError, GivenAppenderReceivesReportWhileLastErrorIsSet) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    RecordingAppender recorder;
    const LaunchResult result = launchCaptured(throwKvError, &recorder);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("", result.err);
    ASSERT_EQ(1u, recorder.records.size());
    const Recorded& record = recorder.records[0];
    EXPECT_EQ("ERROR", record.event.levelText);
    EXPECT_EQ("app.cpp", record.event.fileName);
    EXPECT_EQ("launch", record.event.functionName);
    EXPECT_EQ(kvErrorReport(), record.event.message);
    EXPECT_EQ("Failed to launch", record.lastErrorMsg);
}

TEST(AppLaunchLastError, ReportsOfAllHandlersComeFromTheSameFunction) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    RecordingAppender recorder;
    for (app::LauncherFunc func : {throwKvError, throwRuntimeError, throwInt}) {
        launchCaptured(func, &recorder);
    }
    ASSERT_EQ(3u, recorder.records.size());
    for (const Recorded& record : recorder.records) {
        EXPECT_EQ("app.cpp", record.event.fileName);
        EXPECT_EQ("launch", record.event.functionName);
        EXPECT_EQ("ERROR", record.event.levelText);
    }
    EXPECT_EQ(std::strerror(EACCES), recorder.records[1].lastErrorMsg);
    EXPECT_EQ("Unknown error", recorder.records[2].lastErrorMsg);
}

TEST(AppLaunchLastError, IsClearedAfterLaunchReturns) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    launchCaptured(throwKvError);
    EXPECT_EQ("", app::lastErrorMsg());
}

TEST(AppLaunchLastError, DefaultAppenderPrintsEmptyLineWithoutLastError) {
    kvtest::StderrCapture capture;
    app::defaultLastErrorLogAppender().append(LogEvent());
    EXPECT_EQ("\n", capture.finish());
}

TEST(AppLaunchAppender, ChosenAppenderStaysInstalledAfterFailure) {
    DefaultAppenderGuard appender;
    RecordingAppender before;
    Logger::defaultLogger().setAppender(before);
    {
        kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
        launchCaptured(throwKvError);
    }
    EXPECT_NE(&before, &Logger::defaultLogger().getAppender());
    // A last-error appender left attached would print an empty line here.
    kvtest::StderrCapture capture;
    Logger::defaultLogger().log(Logger::LogError, "f", 1, "g", "after");
    EXPECT_EQ("", capture.finish());
    EXPECT_TRUE(before.records.empty());
}

TEST(AppLaunchAppender, StandardAppenderStaysInstalledAfterFailureWithLogging) {
    DefaultAppenderGuard appender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    launchCaptured(throwInt);
    kvtest::StderrCapture capture;
    Logger::defaultLogger().log(Logger::LogWarning, "dir/file.cpp", 12, "g", "after");
    EXPECT_EQ("[WARNING] file.cpp:12: after\n", capture.finish());
}

