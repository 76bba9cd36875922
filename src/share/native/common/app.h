#ifndef KOVALU_APP_H
#define KOVALU_APP_H

#include <new>
#include <string>

class LogAppender;

namespace app {

/// A launcher function: no arguments, no result, failure by throwing.
typedef void (*LauncherFunc)();

/// Runs `func` with the debug switch's appender installed; returns 0 when it
/// returns and 1 when it throws, after printing the failure as one line on
/// standard error. A null `lastErrorLogAppender` means the default one.
int launch(const std::nothrow_t&, LauncherFunc func, LogAppender* lastErrorLogAppender = nullptr);

/// True when "KOVALU_DEBUG" is exactly "true".
bool isWithLogging();

/// The text of the failure being reported, or empty when none.
std::string lastErrorMsg();

/// The appender that prints `lastErrorMsg()` on a line of its own.
LogAppender& defaultLastErrorLogAppender();

} // namespace app

#endif
