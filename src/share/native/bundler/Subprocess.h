#ifndef KOVALU_SUBPROCESS_H
#define KOVALU_SUBPROCESS_H

#include <string>
#include <vector>

/// What a finished program left: its exit status (128 plus the signal number
/// when a signal ended it) and what it wrote to each output.
struct ProgramResult {
    int status = 0;
    std::string out;
    std::string err;
};

namespace Subprocess {

/// Runs the program at path `argv[0]` with the argument vector `argv` (no
/// shell), standard input closed, in the directory `cwd` when it is not empty,
/// and waits for it. Throws when it cannot be started.
ProgramResult run(const std::vector<std::string>& argv, const std::string& cwd = std::string());

/// Runs like `run`, with the environment `env` ("NAME=value" items), in a
/// process group of its own. Past `timeoutSeconds` the group gets SIGTERM,
/// then SIGKILL ten seconds later; `timedOut` tells whether that happened.
ProgramResult runLimited(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeoutSeconds, bool& timedOut);

/// The path of the executable `name` in the first directory of PATH that
/// holds one; empty when none does.
std::string findOnPath(const std::string& name);

/// The line of a program's output that says what went wrong (a Java tool's
/// "Error: " or exception line, without the exception names in front of it);
/// else its first non-empty line.
std::string reason(const std::string& output);

/// Sends `signal` to the program `run` is waiting for, if any, and waits for
/// it to end. Safe to call from a signal handler.
void stopRunning(int signal);

} // namespace Subprocess

#endif
