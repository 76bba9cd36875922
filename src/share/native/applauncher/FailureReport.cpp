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
