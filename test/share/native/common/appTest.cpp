#include "app.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

// Keeps, with each record, the last error message as it was when the record came.
class LastErrorRecorder : public kvtest::LogRecorder {
public:
    void append(const LogEvent& event) override {
        LogRecorder::append(event);
        lastErrors.push_back(app::lastErrorMsg());
    }
    std::vector<std::string> lastErrors;
};

const int kvErrorLine = __LINE__ + 2;
void throwKvError() {
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

const int traceLine = __LINE__ + 2;
void logTrace() {
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
std::string withLogging(const std::string& records) {
    return R"(\[TRACE\] app\.cpp:(\d+): Entering launch\n)" + records +
           R"(\[TRACE\] app\.cpp:0: Exiting launch \(entered at app\.cpp:\1\)\n)";
}

std::string failureWithLogging(const std::string& errorRecord, const std::string& lastError) {
    return withLogging(R"(\[ERROR\] app\.cpp:\d+: )" + kvtest::regexQuote(errorRecord) + "\n" +
                       kvtest::regexQuote(lastError) + "\n");
}

const std::string kvErrorReport = "Exception with message 'appTest.cpp(" +
                                  std::to_string(kvErrorLine) +
                                  ") at throwKvError(): Failed to launch' caught";

struct LaunchCase {
    const char* name;
    app::LauncherFunc func;
    std::optional<std::string> debug; ///< KOVALU_DEBUG
    int status;
    std::string err; ///< a regular expression for all of standard error
};

} // namespace

TEST(AppIsWithLogging, OnlyExactlyTrueSwitchesLoggingOn) {
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {"true", true}, {"TRUE", false}, {"1", false},   {" true", false},
        {"true ", false}, {"", false},   {"yes", false}, {std::nullopt, false}};
    for (const auto& c : cases) {
        kvtest::EnvGuard env("KOVALU_DEBUG", c.first);
        EXPECT_EQ(c.second, app::isWithLogging()) << c.first.value_or("<unset>");
    }
}

TEST(AppLaunch, StatusAndStandardErrorOfEachOutcome) {
    using kvtest::regexQuote;
    const std::string eacces = std::strerror(EACCES);
    const LaunchCase cases[] = {
        {"success without logging prints nothing", returnNormally, std::nullopt, 0, ""},
        {"success with logging traces the launch scope", logTrace, "true", 0,
         withLogging(R"(\[TRACE\] appTest\.cpp:)" + std::to_string(traceLine) + R"(: inside 7\n)")},
        {"launcher error without logging prints its raw message alone", throwKvError, "TRUE", 1,
         "Failed to launch\n"},
        {"launcher error with logging prints report then message", throwKvError, "true", 1,
         failureWithLogging(kvErrorReport, "Failed to launch")},
        {"empty launcher error message prints an empty line", throwKvErrorWithEmptyMessage,
         std::nullopt, 1, "\n"},
        {"runtime error prints the errno text, not its message", throwRuntimeError, std::nullopt, 1,
         regexQuote(eacces + "\n")},
        {"runtime error with logging reports its message", throwRuntimeError, "true", 1,
         failureWithLogging("Exception with message 'own message' caught", eacces)},
        {"other exception prints unknown error", throwInt, std::nullopt, 1, "Unknown error\n"},
        {"other exception with logging", throwInt, "true", 1,
         failureWithLogging("Unknown exception caught", "Unknown error")},
        {"KvErrorBase outside runtime_error does not escape", throwForeignError, std::nullopt, 1,
         "foreign\n"},
    };
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.name);
        const kvtest::LogRecorder restoresTheAppender;
        kvtest::EnvGuard env("KOVALU_DEBUG", c.debug);
        const LaunchResult result = launchCaptured(c.func);
        EXPECT_EQ(c.status, result.status);
        EXPECT_TRUE(std::regex_match(result.err, std::regex(c.err))) << result.err;
    }
}

TEST(AppLaunchLastError, GivenAppenderReceivesTheReportWhileLastErrorIsSet) {
    const kvtest::LogRecorder restoresTheAppender;
    kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
    LastErrorRecorder recorder;
    for (app::LauncherFunc func : {throwKvError, throwRuntimeError, throwInt}) {
        const LaunchResult result = launchCaptured(func, &recorder);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ("", result.err);
    }
    EXPECT_EQ(3u, recorder.events.size());
    EXPECT_EQ((std::vector<std::string>{"ERROR launch: " + kvErrorReport,
                                        "ERROR launch: Exception with message 'own message' caught",
                                        "ERROR launch: Unknown exception caught"}),
              recorder.from("app.cpp"));
    const std::vector<std::string> lastErrors{"Failed to launch", std::strerror(EACCES),
                                              "Unknown error"};
    EXPECT_EQ(lastErrors, recorder.lastErrors);
    // Cleared once launch returns.
    EXPECT_EQ("", app::lastErrorMsg());
}

TEST(AppLaunchLastError, DefaultAppenderPrintsEmptyLineWithoutLastError) {
    kvtest::StderrCapture capture;
    app::defaultLastErrorLogAppender().append(LogEvent());
    EXPECT_EQ("\n", capture.finish());
}

TEST(AppLaunchAppender, ChosenAppenderStaysInstalledAfterFailure) {
    const kvtest::LogRecorder before;
    {
        kvtest::EnvGuard env("KOVALU_DEBUG", std::nullopt);
        launchCaptured(throwKvError);
    }
    EXPECT_NE(&before, &Logger::defaultLogger().getAppender());
    // A last-error appender left attached would print an empty line here.
    kvtest::StderrCapture capture;
    Logger::defaultLogger().log(Logger::LogError, "f", 1, "g", "after");
    EXPECT_EQ("", capture.finish());
    EXPECT_TRUE(before.events.empty());

    kvtest::EnvGuard env("KOVALU_DEBUG", std::string("true"));
    launchCaptured(throwInt);
    kvtest::StderrCapture withLogging;
    Logger::defaultLogger().log(Logger::LogWarning, "dir/file.cpp", 12, "g", "after");
    EXPECT_EQ("[WARNING] file.cpp:12: after\n", withLogging.finish());
}
