#ifndef KOVALU_TEST_SUPPORT_H
#define KOVALU_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "Log.h"

namespace kvtest {

/// A base for the guards below: each restores what it changed exactly once.
class Uncopyable {
protected:
    Uncopyable() = default;
    Uncopyable(const Uncopyable&) = delete;
    Uncopyable& operator=(const Uncopyable&) = delete;
};

/// A fresh directory under $TMPDIR (or /tmp), given by its real path, removed
/// with everything in it on destruction.
class TempDir : Uncopyable {
public:
    TempDir();
    ~TempDir();

    const std::string& path() const { return dir; }
    /// `path()` joined with a relative path.
    std::string operator/(const std::string& rel) const { return dir + "/" + rel; }

private:
    std::string dir;
};

/// Sets (or, with no value, unsets) an environment variable and restores the
/// previous state on destruction.
class EnvGuard : Uncopyable {
public:
    EnvGuard(const std::string& name, const std::optional<std::string>& value);
    ~EnvGuard();

private:
    std::string name;
    std::optional<std::string> previous;
};

/// Redirects file descriptor 2 into a temporary file until `finish()` or
/// destruction; `finish()` restores it and returns what was written.
class StderrCapture : Uncopyable {
public:
    StderrCapture();
    ~StderrCapture();

    std::string finish();

private:
    int savedFd;
    std::string file;
    bool active;
};

/// Installs itself as the default logger's appender and keeps every record;
/// puts the previous appender back, and the threshold at trace, on
/// destruction. With a `journal`, also appends `name` there for each record,
/// so that the order across several recorders shows.
class LogRecorder : public LogAppender, Uncopyable {
public:
    explicit LogRecorder(std::vector<std::string>* journal = nullptr, std::string name = "");
    ~LogRecorder() override;

    void append(const LogEvent& event) override;
    /// Messages of the records logged from `function`, in order.
    std::vector<std::string> messagesFrom(const std::string& function) const;
    /// "LEVEL function: message" of each record from the source file named `fileName`.
    std::vector<std::string> from(const std::string& fileName) const;

    std::vector<LogEvent> events;

private:
    LogAppender* previous;
    std::vector<std::string>* journal;
    std::string name;
};

/// Makes `args` the stored command line of the process while alive.
class CommandLineGuard : Uncopyable {
public:
    explicit CommandLineGuard(std::vector<std::string> args);
    ~CommandLineGuard();

private:
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    int savedArgc;
    char** savedArgv;
};

/// What a launcher error carried: its raw message and its full text.
struct Thrown {
    std::string raw;
    std::string what;
};

/// Runs `f` and returns the launcher error it throws; a test failure, and
/// empty texts, when it throws none.
template <class F>
Thrown thrownBy(F&& f) {
    try {
        f();
    } catch (const KvErrorBase& e) {
        const std::exception* standard = dynamic_cast<const std::exception*>(&e);
        return Thrown{e.rawMessage(), standard ? standard->what() : ""};
    }
    ADD_FAILURE() << "no launcher error thrown";
    return Thrown();
}

/// Whether the shared library at `path` is loaded in this process.
bool isLoaded(const std::string& path);
/// A regular expression that matches exactly `text`.
std::string regexQuote(const std::string& text);
/// `path` with every link and "." or ".." resolved; empty when that fails.
std::string realPath(const std::string& path);

/// Creates the directory and all its parents.
void makeDirs(const std::string& path);
/// Writes `content` to `path`, creating parent directories.
void writeFile(const std::string& path, const std::string& content);
/// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
/// Writes a zip file of stored (uncompressed) entries, in the given order;
/// with `zip64`, as a writer past 4 GiB would, every size and offset of the
/// central directory in zip64 fields, reached through zip64 end records.
void writeJar(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries,
              bool zip64 = false);
/// Creates a symbolic link at `link` holding `target`.
void makeSymlink(const std::string& target, const std::string& link);

/// What a finished child process left.
struct ProcessResult {
    int exitCode = -1; ///< exit status, or -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

/// Runs `argv[0]` (a path) with `argv`, in `cwd` when not empty, with the
/// current environment changed by `env` (a value sets, no value unsets), and
/// collects its status and output. Kills the child after `timeoutSeconds`.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::optional<std::string>>& env = {},
                         const std::string& cwd = std::string(), int timeoutSeconds = 60);

/// One call recorded by the test double of the runtime library.
struct JliCall {
    std::vector<std::string> argv;
    std::map<std::string, std::optional<std::string>> env; ///< no value: unset
    std::map<std::string, std::string> fields;             ///< every other key
};

/// Parses the test double's record file; empty when the file is missing.
std::vector<JliCall> readJliRecord(const std::string& path);
/// Checks the arguments after the argument vector that every launch passes the same.
void expectFixedJliFields(const JliCall& call);

} // namespace kvtest

#endif
