#include "FailureReport.h"

#include "app.h"

namespace FailureReport {

void FailureCapture::append(const LogEvent& event) {
    app::defaultLastErrorLogAppender().append(event);
    // The driver may report one failure in several records; the first holds it.
    if (!captured) {
        captured = true;
        text = app::lastErrorMsg();
    }
}

std::string errorOutputTail(const std::string& captured, const std::string& error,
                            std::size_t maxBytes) {
    std::string text = captured;
    const std::string ownLine = error + "\n";
    for (std::string::size_type at = text.rfind(ownLine); at != std::string::npos;
         at = at > 0 ? text.rfind(ownLine, at - 1) : std::string::npos) {
        if (at == 0 || text[at - 1] == '\n') {
            text.erase(at, ownLine.size());
            break;
        }
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    std::string::size_type start =
        text.size() > maxBytes ? text.size() - maxBytes : std::string::size_type(0);
    // A line cut in half only when it is the one line there is.
    if (start > 0 && text[start - 1] != '\n') {
        const std::string::size_type next = text.find('\n', start);
        if (next != std::string::npos) {
            start = next + 1;
        }
    }
    std::string::size_type from = text.size();
    std::size_t lines = 0;
    while (from > start) {
        const std::string::size_type feed = text.rfind('\n', from - 1);
        if (feed == std::string::npos || feed < start) {
            from = start;
        } else if (++lines == maxErrorOutputLines) {
            from = feed + 1;
            break;
        } else {
            from = feed;
        }
    }
    return text.substr(from);
}

std::string withErrorOutput(const std::string& error, const std::string& tail) {
    if (tail.empty()) {
        return error;
    }
    return error + "\n\nThe last lines of standard error:\n" + tail;
}

bool isOpenedByLaunchServices(const ProcessFacts& facts) {
    return facts.parentPid == 1 && !facts.stderrIsTerminal;
}

std::string alertMessage(const std::string& error, const std::string& logPath) {
    if (logPath.empty()) {
        return error;
    }
    return error + "\n\nThis message is also in the log file " + logPath;
}

bool showAlertIfOpenedByLaunchServices(const ProcessFacts& facts, AlertFunc alert,
                                       const std::string& appName, const std::string& error,
                                       const std::string& logPath) {
    if (!alert || !isOpenedByLaunchServices(facts)) {
        return false;
    }
    alert(appName, alertMessage(error, logPath), alertTimeoutSeconds);
    return true;
}

} // namespace FailureReport
