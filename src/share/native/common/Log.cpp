#include "Log.h"

#include <iostream>
#include <new>

#include "FileUtils.h"

namespace {

// Raw zero-filled storage instead of static objects: no constructor or
// destructor has to run, so logging works from any static initialiser of any
// module and after any static destructor.
alignas(Logger) unsigned char defaultLoggerMemory[sizeof(Logger)];
alignas(StreamLogAppender) unsigned char defaultLogAppenderMemory[sizeof(StreamLogAppender)];

enum State { NotInitialized = 0, Initializing = 1, Initialized = 2 };
State state;

const char* levelText(Logger::LogLevel level) {
    switch (level) {
    case Logger::LogTrace:
        return "TRACE";
    case Logger::LogInfo:
        return "INFO";
    case Logger::LogWarning:
        return "WARNING";
    case Logger::LogError:
        return "ERROR";
    }
    return "UNKNOWN";
}

std::string lastPathComponent(const char* path) {
    return FileUtils::basename(path ? path : "");
}

} // namespace

void LogEvent::init(PlatformLogEvent&) {}

void LogEvent::appendFormatted(const PlatformLogEvent&, std::string&) {}

Logger::Logger(LogAppender& appender, LogLevel level) : level(level), appender(&appender) {}

Logger& Logger::defaultLogger() {
    Logger* logger = reinterpret_cast<Logger*>(defaultLoggerMemory);
    if (!logger->appender) {
        logger->appender = new (defaultLogAppenderMemory) StreamLogAppender(std::cout);
    }
    switch (state) {
    case NotInitialized:
        state = Initializing;
        initializeLogging();
        state = Initialized;
        break;
    case Initializing:
        initializingLogging();
        break;
    case Initialized:
        break;
    }
    return *logger;
}

void Logger::setLogLevel(LogLevel newLevel) {
    level = newLevel;
}

bool Logger::isLoggable(LogLevel testLevel) const {
    return static_cast<int>(testLevel) >= static_cast<int>(level);
}

void Logger::log(LogLevel logLevel, const char* file, int line, const char* function,
                 const std::string& message) const {
    LogEvent event;
    LogEvent::init(event);
    event.fileName = lastPathComponent(file);
    event.functionName = function ? function : "";
    event.levelText = levelText(logLevel);
    event.line = line;
    event.message = message;
    appender->append(event);
}

LogAppender& Logger::getAppender() const {
    return *appender;
}

void Logger::setAppender(LogAppender& newAppender) {
    appender = &newAppender;
}

void Logger::initializeLogging() {}

void Logger::initializingLogging() {}

Logger::ScopeTracer::ScopeTracer(Logger& logger, LogLevel level, const char* file, int line,
                                 const char* function, const std::string& scopeName)
    : logger(logger), level(level), file(file ? file : ""), line(line),
      function(function ? function : ""), scopeName(scopeName),
      enabled(logger.isLoggable(level)) {
    if (enabled) {
        logger.log(level, file, line, function, "Entering " + scopeName);
    }
}

Logger::ScopeTracer::~ScopeTracer() {
    if (!enabled) {
        return;
    }
    try {
        logger.log(level, file.c_str(), 0, function.c_str(),
                   (tstrings::any() << "Exiting " << scopeName << " (entered at "
                                    << lastPathComponent(file.c_str()) << ":" << line << ")")
                       .str());
    } catch (...) {
        // A destructor must not throw; a record lost here cannot be reported.
    }
}

StreamLogAppender::StreamLogAppender(std::ostream& stream) : stream(&stream) {}

void StreamLogAppender::append(const LogEvent& event) {
    std::string platformPrefix;
    LogEvent::appendFormatted(event, platformPrefix);
    const std::string record = (tstrings::any() << "[" << platformPrefix << event.fileName << ":"
                                                << event.line << " (" << event.functionName
                                                << ")]\n\t" << event.levelText << ": "
                                                << event.message)
                                   .str();
    stream->write(record.data(), static_cast<std::streamsize>(record.size()));
    *stream << '\n';
    stream->flush();
}

TeeLogAppender::TeeLogAppender(LogAppender* first, LogAppender* second)
    : first(first), second(second) {}

void TeeLogAppender::append(const LogEvent& event) {
    if (first) {
        first->append(event);
    }
    if (second) {
        second->append(event);
    }
}

WithExtraLogAppender::WithExtraLogAppender(LogAppender& extra)
    : previousAppender(&Logger::defaultLogger().getAppender()), tee(previousAppender, &extra) {
    Logger::defaultLogger().setAppender(tee);
}

WithExtraLogAppender::~WithExtraLogAppender() {
    Logger::defaultLogger().setAppender(*previousAppender);
}
