#ifndef KOVALU_FAILUREREPORT_H
#define KOVALU_FAILUREREPORT_H

#include <cstddef>
#include <string>

#include "Log.h"

/// What a failed launch tells a user who never sees standard error.
namespace FailureReport {

/// Prints the failure line as the driver's default last-error appender does,
/// and keeps the text of the first failure reported to it.
class FailureCapture : public LogAppender {
public:
    void append(const LogEvent& event) override;

    /// True once a failure was reported.
    bool hasFailure() const { return captured; }
    /// The first failure's text, as printed on standard error.
    const std::string& message() const { return text; }

private:
    bool captured = false;
    std::string text;
};

/// Lines of the captured standard error that a record and the dialog carry.
const std::size_t maxErrorOutputLines = 20;

/// The end of the captured standard error `captured` that tells more about
/// the failure `error`: without the failure's own line, which the launcher
/// printed last, at most maxErrorOutputLines lines and `maxBytes` bytes, cut
/// at a line start where one is in reach, without the last line feed.
std::string errorOutputTail(const std::string& captured, const std::string& error,
                            std::size_t maxBytes);

/// `error`, then `tail` below a heading; `error` alone when `tail` is empty.
std::string withErrorOutput(const std::string& error, const std::string& tail);

/// The facts about the process that decide whether a dialog is shown.
struct ProcessFacts {
    bool stderrIsTerminal = false;
    long parentPid = 0;
};

/// The facts of this process, to be taken when it starts: a parent that exits
/// later hands the process over to process 1.
ProcessFacts currentProcessFacts();

/// True when the process was started by the system's launch services (from
/// the Finder, the Dock or "open"): its parent was launchd and its standard
/// error is no terminal, so an error printed there reaches nobody.
bool isOpenedByLaunchServices(const ProcessFacts& facts);

/// The dialog's text: the error, then where the log keeps it when `logPath`
/// is not empty.
std::string alertMessage(const std::string& error, const std::string& logPath);

/// Shows a modal alert with one OK button that closes by itself after
/// `timeoutSeconds`; returns without a word when it cannot be shown.
typedef void (*AlertFunc)(const std::string& title, const std::string& message,
                          double timeoutSeconds);

/// Seconds after which an unanswered dialog closes, so a launch never hangs.
const double alertTimeoutSeconds = 300;

/// Shows the failure in a dialog titled `appName` through `alert` when
/// `facts` say the process was opened by launch services; true when it did.
bool showAlertIfOpenedByLaunchServices(const ProcessFacts& facts, AlertFunc alert,
                                       const std::string& appName, const std::string& error,
                                       const std::string& logPath);

/// The system's alert, from CoreFoundation loaded at run time; skipped
/// silently where the framework or one of its functions is missing.
void showSystemAlert(const std::string& title, const std::string& message, double timeoutSeconds);

} // namespace FailureReport

#endif
