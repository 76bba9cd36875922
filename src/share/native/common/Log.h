#ifndef KOVALU_LOG_H
#define KOVALU_LOG_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "tstrings.h"

/// The platform part of a log record; empty on this platform.
class PlatformLogEvent {};

/// One log record.
class LogEvent : public PlatformLogEvent {
public:
    std::string levelText;
    std::string fileName;
    int line = 0;
    std::string functionName;
    std::string message;

    /// Fills the platform part of a new record; nothing on this platform.
    static void init(PlatformLogEvent& event);
    /// Appends the platform part's text; nothing on this platform.
    static void appendFormatted(const PlatformLogEvent& event, std::string& text);
};

/// A sink of log records.
class LogAppender {
public:
    virtual ~LogAppender() {}
    virtual void append(const LogEvent& event) = 0;
};

/// Has a threshold and exactly one non-owned appender.
class Logger {
public:
    // A fixed 32-bit underlying type makes every int a valid level, so levels
    // outside the named ones are well defined (they print as "UNKNOWN").
    enum LogLevel : std::int32_t { LogTrace = 0, LogInfo = 1, LogWarning = 2, LogError = 3 };

    Logger(LogAppender& appender, LogLevel level = LogTrace);

    /// The process-wide logger, created on first use; it writes to standard
    /// output until an appender is installed.
    static Logger& defaultLogger();

    void setLogLevel(LogLevel level);
    bool isLoggable(LogLevel level) const;

    /// Hands one record to the appender; does not consult the threshold.
    void log(LogLevel level, const char* file, int line, const char* function,
             const std::string& message) const;

    LogAppender& getAppender() const;
    void setAppender(LogAppender& appender);

    /// Platform hooks run by `defaultLogger`; nothing on this platform.
    static void initializeLogging();
    static void initializingLogging();

    /// Logs "Entering <scope>" when created and "Exiting <scope> (entered at
    /// <file>:<line>)" when destroyed, if its level passed at creation.
    class ScopeTracer {
    public:
        ScopeTracer(Logger& logger, LogLevel level, const char* file, int line,
                    const char* function, const std::string& scopeName);
        ~ScopeTracer();
        ScopeTracer(const ScopeTracer&) = delete;
        ScopeTracer& operator=(const ScopeTracer&) = delete;

    private:
        Logger& logger;
        LogLevel level;
        std::string file;
        int line;
        std::string function;
        std::string scopeName;
        bool enabled;
    };

private:
    LogLevel level;
    LogAppender* appender;
};

/// Writes each record as "[<file>:<line> (<function>)]\n\t<LEVEL>: <message>\n".
class StreamLogAppender : public LogAppender {
public:
    explicit StreamLogAppender(std::ostream& stream);
    void append(const LogEvent& event) override;

private:
    std::ostream* stream;
};

/// Drops every record.
class NopLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override {}
};

/// Forwards each record to `first`, then to `second`, skipping null ones.
class TeeLogAppender : public LogAppender {
public:
    TeeLogAppender(LogAppender* first, LogAppender* second);
    void append(const LogEvent& event) override;

private:
    LogAppender* first;
    LogAppender* second;
};

/// While alive, the default logger sends every record to its previous
/// appender and then to `extra`. Destroy in reverse order of creation.
class WithExtraLogAppender {
public:
    explicit WithExtraLogAppender(LogAppender& extra);
    virtual ~WithExtraLogAppender();
    WithExtraLogAppender(const WithExtraLogAppender&) = delete;
    WithExtraLogAppender& operator=(const WithExtraLogAppender&) = delete;

private:
    LogAppender* previousAppender;
    TeeLogAppender tee;
};

// Call-site helpers: the message is composed only when the level passes, and
// the record carries the call site's file, line and bare function name.
#define KV_LOG_AT(lvl, msg)                                                              \
    do {                                                                                 \
        const Logger& kvLogger_ = Logger::defaultLogger();                               \
        if (kvLogger_.isLoggable(lvl)) {                                                 \
            kvLogger_.log(lvl, __FILE__, __LINE__, __func__, (tstrings::any() << msg).str()); \
        }                                                                                \
    } while (false)

#define LOG_TRACE(msg) KV_LOG_AT(Logger::LogTrace, msg)
#define LOG_WARNING(msg) KV_LOG_AT(Logger::LogWarning, msg)

#define LOG_TRACE_FUNCTION()                                                             \
    const Logger::ScopeTracer kvScopeTracer_(Logger::defaultLogger(), Logger::LogTrace, \
                                             __FILE__, __LINE__, __func__, __func__)

#endif
