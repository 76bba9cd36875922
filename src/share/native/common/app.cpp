#include "app.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "ErrorHandling.h"
#include "Log.h"

namespace {

const std::string* theLastErrorMsg = nullptr;

class StandardLogAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        const std::string record = (tstrings::any() << "[" << event.levelText << "] "
                                                    << event.fileName << ":" << event.line
                                                    << ": " << event.message << "\n")
                                       .str();
        std::cerr << record << std::flush;
    }
};

class LastErrorLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override {
        std::cerr << app::lastErrorMsg() << "\n" << std::flush;
    }
};

// Attaches the last-error appender to the default logger when the launcher
// function's scope ends, whether it returned or threw, so that the failure
// report that follows also prints the failure text.
class SetLoggerAtEndOfScope {
public:
    SetLoggerAtEndOfScope(std::unique_ptr<WithExtraLogAppender>& withLogAppender,
                          LogAppender* lastErrorLogAppender)
        : withLogAppender(withLogAppender), lastErrorLogAppender(lastErrorLogAppender) {}

    SetLoggerAtEndOfScope(const SetLoggerAtEndOfScope&) = delete;
    SetLoggerAtEndOfScope& operator=(const SetLoggerAtEndOfScope&) = delete;

    ~SetLoggerAtEndOfScope() {
        try {
            std::unique_ptr<WithExtraLogAppender> other(
                new WithExtraLogAppender(*lastErrorLogAppender));
            withLogAppender.swap(other);
        } catch (const std::runtime_error& e) {
            reportError(KV_SOURCE_CODE_POS, e);
        } catch (...) {
            reportUnknownError(KV_SOURCE_CODE_POS);
        }
    }

private:
    std::unique_ptr<WithExtraLogAppender>& withLogAppender;
    LogAppender* lastErrorLogAppender;
};

// Holds an appender whose destructor never runs: the default logger may still
// point at it while other modules' static destructors log at process exit.
// The constexpr constructor makes the object ready before any dynamic
// initialiser runs.
template <class T>
union NeverDestroyed {
    constexpr NeverDestroyed() : object() {}
    ~NeverDestroyed() {}
    T object;
};

NeverDestroyed<StandardLogAppender> standardLogAppenderStorage;
NeverDestroyed<NopLogAppender> nopLogAppenderStorage;
NeverDestroyed<LastErrorLogAppender> lastErrorLogAppenderStorage;

StandardLogAppender& standardLogAppender = standardLogAppenderStorage.object;
NopLogAppender& nopLogAppender = nopLogAppenderStorage.object;
LastErrorLogAppender& lastErrorLogAppender = lastErrorLogAppenderStorage.object;

// Clears theLastErrorMsg however the launch ends, so it never outlives the
// string it points at, even when reporting itself throws.
class LastErrorMsgReset {
public:
    LastErrorMsgReset() {}
    LastErrorMsgReset(const LastErrorMsgReset&) = delete;
    LastErrorMsgReset& operator=(const LastErrorMsgReset&) = delete;
    ~LastErrorMsgReset() { theLastErrorMsg = nullptr; }
};

} // namespace

namespace app {

bool isWithLogging() {
    const char* value = std::getenv("KOVALU_DEBUG");
    return value && std::strcmp(value, "true") == 0;
}

std::string lastErrorMsg() {
    if (theLastErrorMsg) {
        return *theLastErrorMsg;
    }
    return std::string();
}

LogAppender& defaultLastErrorLogAppender() {
    return lastErrorLogAppender;
}

int launch(const std::nothrow_t&, LauncherFunc func, LogAppender* lastErrorLogAppender) {
    if (isWithLogging()) {
        Logger::defaultLogger().setAppender(standardLogAppender);
    } else {
        Logger::defaultLogger().setAppender(nopLogAppender);
    }

    LOG_TRACE_FUNCTION();

    if (!lastErrorLogAppender) {
        lastErrorLogAppender = &defaultLastErrorLogAppender();
    }

    std::unique_ptr<WithExtraLogAppender> withLogAppender;
    std::string errorMsg;
    const LastErrorMsgReset lastErrorMsgReset;

    try {
        const SetLoggerAtEndOfScope setLogger(withLogAppender, lastErrorLogAppender);
        func();
    } catch (const KvErrorBase& e) {
        errorMsg = e.rawMessage();
        theLastErrorMsg = &errorMsg;
        try {
            throw;
        } catch (const std::runtime_error& error) {
            reportError(KV_SOURCE_CODE_POS, error);
        } catch (...) {
            // Only a KvErrorBase outside the runtime_error family gets here;
            // it must not escape the driver either.
            reportUnknownError(KV_SOURCE_CODE_POS);
        }
        return 1;
    } catch (const std::runtime_error& e) {
        errorMsg = lastCRTError();
        theLastErrorMsg = &errorMsg;
        reportError(KV_SOURCE_CODE_POS, e);
        return 1;
    } catch (...) {
        errorMsg = "Unknown error";
        theLastErrorMsg = &errorMsg;
        reportUnknownError(KV_SOURCE_CODE_POS);
        return 1;
    }

    return 0;
}

} // namespace app
