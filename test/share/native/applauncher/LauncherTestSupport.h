#ifndef KOVALU_LAUNCHER_TEST_SUPPORT_H
#define KOVALU_LAUNCHER_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "Log.h"
#include "SysInfo.h"

namespace kvtest {

/// Collects every record of the default logger while alive, then puts the
/// previous appender back.
class LogRecorder : public LogAppender {
public:
    LogRecorder() : previous(&Logger::defaultLogger().getAppender()) {
        Logger::defaultLogger().setAppender(*this);
    }
    ~LogRecorder() override { Logger::defaultLogger().setAppender(*previous); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    void append(const LogEvent& event) override { events.push_back(event); }

    /// Messages of the records logged from `function`, in order.
    std::vector<std::string> messagesFrom(const std::string& function) const {
        std::vector<std::string> result;
        for (const LogEvent& event : events) {
            if (event.functionName == function) {
                result.push_back(event.message);
            }
        }
        return result;
    }

    std::vector<LogEvent> events;

private:
    LogAppender* previous;
};

/// Makes `args` the stored command line of the process while alive.
class CommandLineGuard {
public:
    explicit CommandLineGuard(const std::vector<std::string>& args)
        : savedArgc(SysInfo::argc), savedArgv(SysInfo::argv), storage(args) {
        for (std::string& arg : storage) {
            pointers.push_back(&arg[0]);
        }
        pointers.push_back(nullptr);
        SysInfo::argc = static_cast<int>(storage.size());
        SysInfo::argv = pointers.data();
    }
    ~CommandLineGuard() {
        SysInfo::argc = savedArgc;
        SysInfo::argv = savedArgv;
    }
    CommandLineGuard(const CommandLineGuard&) = delete;
    CommandLineGuard& operator=(const CommandLineGuard&) = delete;

private:
    int savedArgc;
    char** savedArgv;
    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

} // namespace kvtest

#endif
