#include "TestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <regex>
#include <thread>

#include "SysInfo.h"

extern char** environ;

namespace kvtest {

namespace {

std::string le(unsigned long value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i, value >>= 8) {
        bytes += static_cast<char>(value & 0xff);
    }
    return bytes;
}

unsigned long crc32(const std::string& data) {
    unsigned long crc = 0xffffffffUL;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320UL & (0 - (crc & 1)));
        }
    }
    return crc ^ 0xffffffffUL;
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string unescape(const std::string& s) {
    std::string out;
    for (std::string::size_type i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            ++i;
            out += s[i] == 'n' ? '\n' : s[i];
        } else {
            out += s[i];
        }
    }
    return out;
}

// A template for mkdtemp or mkstemp under $TMPDIR (or /tmp), terminated.
std::vector<char> tempTemplate(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    return std::vector<char>(templ.c_str(), templ.c_str() + templ.size() + 1);
}

} // namespace

TempDir::TempDir() {
    std::vector<char> buf = tempTemplate("kovalu-test");
    if (!::mkdtemp(buf.data())) {
        throw std::runtime_error(errnoText("mkdtemp"));
    }
    dir = realPath(buf.data());
}

TempDir::~TempDir() {
    // Links inside are removed, never followed.
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

EnvGuard::EnvGuard(const std::string& name, const std::optional<std::string>& value) : name(name) {
    if (const char* old = std::getenv(name.c_str())) {
        previous = old;
    }
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

EnvGuard::~EnvGuard() {
    if (previous) {
        ::setenv(name.c_str(), previous->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

StderrCapture::StderrCapture() : savedFd(-1), active(false) {
    std::vector<char> buf = tempTemplate("kovalu-stderr");
    const int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        throw std::runtime_error(errnoText("mkstemp"));
    }
    file = buf.data();
    std::fflush(stderr);
    savedFd = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
    active = true;
}

std::string StderrCapture::finish() {
    if (active) {
        std::fflush(stderr);
        ::dup2(savedFd, 2);
        ::close(savedFd);
        active = false;
    }
    const std::string content = readFile(file);
    ::unlink(file.c_str());
    return content;
}

StderrCapture::~StderrCapture() {
    finish();
}

LogRecorder::LogRecorder(std::vector<std::string>* journal, std::string name)
    : previous(&Logger::defaultLogger().getAppender()), journal(journal), name(std::move(name)) {
    Logger::defaultLogger().setAppender(*this);
}

LogRecorder::~LogRecorder() {
    Logger::defaultLogger().setAppender(*previous);
    Logger::defaultLogger().setLogLevel(Logger::LogTrace);
}

void LogRecorder::append(const LogEvent& event) {
    events.push_back(event);
    if (journal) {
        journal->push_back(name);
    }
}

std::vector<std::string> LogRecorder::messagesFrom(const std::string& function) const {
    std::vector<std::string> result;
    for (const LogEvent& event : events) {
        if (event.functionName == function) {
            result.push_back(event.message);
        }
    }
    return result;
}

std::vector<std::string> LogRecorder::from(const std::string& fileName) const {
    std::vector<std::string> result;
    for (const LogEvent& event : events) {
        if (event.fileName == fileName) {
            result.push_back(event.levelText + " " + event.functionName + ": " + event.message);
        }
    }
    return result;
}

CommandLineGuard::CommandLineGuard(std::vector<std::string> args)
    : storage(std::move(args)), savedArgc(SysInfo::argc), savedArgv(SysInfo::argv) {
    for (std::string& arg : storage) {
        pointers.push_back(&arg[0]);
    }
    pointers.push_back(nullptr);
    SysInfo::argc = static_cast<int>(storage.size());
    SysInfo::argv = pointers.data();
}

CommandLineGuard::~CommandLineGuard() {
    SysInfo::argc = savedArgc;
    SysInfo::argv = savedArgv;
}

bool isLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        ::dlclose(handle);
    }
    return handle != nullptr;
}

std::string regexQuote(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

void makeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

void writeFile(const std::string& path, const std::string& content) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        makeDirs(parent);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeJar(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries, bool zip64) {
    const unsigned long mark = 0xffffffffUL;
    std::string local;
    std::string central;
    for (const auto& [name, data] : entries) {
        const std::string common = le(10, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                                   le(crc32(data), 4) + le(data.size(), 4) + le(data.size(), 4) +
                                   le(name.size(), 2) + le(0, 2);
        if (zip64) {
            central += std::string("PK\x01\x02", 4) + le(20, 2) + common.substr(0, 14) +
                       le(mark, 4) + le(mark, 4) + le(name.size(), 2) + le(28, 2) + le(0, 10) +
                       le(mark, 4) + name + le(1, 2) + le(24, 2) + le(data.size(), 8) +
                       le(data.size(), 8) + le(local.size(), 8);
        } else {
            central += std::string("PK\x01\x02", 4) + le(20, 2) + common + le(0, 2) + le(0, 2) +
                       le(0, 2) + le(0, 4) + le(local.size(), 4) + name;
        }
        local += std::string("PK\x03\x04", 4) + common + name + data;
    }
    const unsigned long count = entries.size();
    std::string end = std::string("PK\x05\x06", 4) + le(0, 4) + le(count, 2) + le(count, 2) +
                      le(central.size(), 4) + le(local.size(), 4) + le(0, 2);
    if (zip64) {
        end = std::string("PK\x06\x06", 4) + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 8) +
              le(count, 8) + le(count, 8) + le(central.size(), 8) + le(local.size(), 8) +
              std::string("PK\x06\x07", 4) + le(0, 4) + le(local.size() + central.size(), 8) +
              le(1, 4) + std::string("PK\x05\x06", 4) + le(0, 4) + le(0xffff, 2) +
              le(0xffff, 2) + le(mark, 4) + le(mark, 4) + le(0, 2);
    }
    kvtest::writeFile(path, local + central + end);
}

void makeSymlink(const std::string& target, const std::string& link) {
    std::filesystem::create_symlink(target, link);
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::optional<std::string>>& env,
                         const std::string& cwd, int timeoutSeconds) {
    TempDir outputs;
    const std::string outFile = outputs / "stdout";
    const std::string errFile = outputs / "stderr";

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(errnoText("fork"));
    }
    if (pid == 0) {
        for (const auto& kv : env) {
            if (kv.second) {
                ::setenv(kv.first.c_str(), kv.second->c_str(), 1);
            } else {
                ::unsetenv(kv.first.c_str());
            }
        }
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execve(args[0], args.data(), environ);
        ::_exit(127);
    }

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    ProcessResult result;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

std::vector<JliCall> readJliRecord(const std::string& path) {
    std::vector<JliCall> calls;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "call=") == 0) {
            calls.emplace_back();
        }
        if (calls.empty() || line == "end") {
            continue;
        }
        JliCall& call = calls.back();
        if (line.compare(0, 9, "envunset[") == 0 && line.back() == ']') {
            call.env[line.substr(9, line.size() - 10)] = std::nullopt;
            continue;
        }
        const std::string::size_type eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = unescape(line.substr(eq + 1));
        if (key.compare(0, 5, "argv[") == 0) {
            call.argv.push_back(value);
        } else if (key.compare(0, 4, "env[") == 0 && key.back() == ']') {
            call.env[key.substr(4, key.size() - 5)] = value;
        } else {
            call.fields[key] = value;
        }
    }
    return calls;
}

void expectFixedJliFields(const JliCall& call) {
    const std::map<std::string, std::string> fixed = {
        {"jargc", "0"},      {"jargv", "null"},   {"appclassc", "0"}, {"appclassv", "null"},
        {"fullversion", ""}, {"dotversion", ""},  {"pname", "java"},  {"lname", "java"},
        {"javaargs", "0"},   {"cpwildcard", "0"}, {"javaw", "0"},     {"ergo", "0"}};
    for (const auto& [field, value] : fixed) {
        ASSERT_EQ(1u, call.fields.count(field)) << field;
        EXPECT_EQ(value, call.fields.at(field)) << field;
    }
}

} // namespace kvtest
