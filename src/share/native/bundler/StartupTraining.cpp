#include "StartupTraining.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "RuntimeLink.h"
#include "Subprocess.h"
#include "tstrings.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// What the launcher honours for the tool's training launches only.
const char* const trainVariable = "KOVALU_AOT_TRAIN";
// The magic of a complete ahead-of-time cache, written last by the runtime.
const std::uint32_t cacheMagic = 0xf00baba2;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    tstrings::split(lines, text, "\n");
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        const std::string trimmed = tstrings::trim(line, " \t\r");
        if (!trimmed.empty()) {
            kept.push_back(trimmed);
        }
    }
    return kept;
}

// The last lines of a run's messages, as one line, without the runtime's
// note of the recording.
std::string tail(const std::string& text) {
    std::vector<std::string> lines = nonEmptyLines(text);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) {
                                   return tstrings::startsWith(line, "AOTConfiguration recorded");
                               }),
                lines.end());
    std::string joined;
    for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i) {
        joined += (joined.empty() ? "" : " / ") + lines[i];
    }
    return joined.empty() ? "no messages" : joined;
}

std::string firstLine(const std::string& text) {
    const std::vector<std::string> lines = nonEmptyLines(text);
    return lines.empty() ? std::string() : lines.front();
}

// A private directory free of the characters the JVM reads inside its
// options (':' separates, '%' expands).
std::string trainingDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' && std::strpbrk(tmp, ":%") == nullptr ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return BundleFiles::makeUniqueDir(base + "/kovalu-train.");
}

/// The launches of one training, in the tool's private directory.
class Runs {
public:
    Runs(const StartupTraining::Plan& plan, const std::string& bundleDir, const std::string& name)
        : plan(plan), name(name), launcher(bundleDir + "/Contents/MacOS/" + name) {
        dir.reset(trainingDir());
    }

    std::string file(const std::string& suffix) const { return dir.get() + "/" + name + suffix; }

    // A launch as a user's, but for a fresh home and the step's variable.
    ProgramResult run(const std::string& step, bool& timedOut) {
        // The same path each time, but empty: what a run leaves in its home
        // must not change what the next one does.
        const std::string home = dir.get() + "/home";
        std::error_code ec;
        fs::remove_all(home, ec);
        fs::create_directory(home, ec);
        if (ec) {
            fail("cannot create the directory " + home + ": " + ec.message(), KV_SOURCE_CODE_POS);
        }
        std::vector<std::string> env;
        for (char** item = environ; item && *item; ++item) {
            const std::string entry = *item;
            const std::string key = entry.substr(0, entry.find('='));
            if (key != "HOME" && key != trainVariable && key != "KOVALU_AOT_CREATE") {
                env.push_back(entry);
            }
        }
        env.push_back("HOME=" + home);
        env.push_back(std::string(trainVariable) + "=" + step + ":" + dir.get());
        std::vector<std::string> argv{launcher};
        argv.insert(argv.end(), plan.arguments.begin(), plan.arguments.end());
        return Subprocess::runLimited(argv, env, plan.timeoutSeconds, timedOut);
    }

    // Why the launcher or the runtime made no cache.
    std::string whyNone() const {
        const std::string off = firstLine(readFile(file(".off")));
        if (!off.empty()) {
            return off;
        }
        const std::string log = firstLine(readFile(file(".log")));
        return log.empty() ? "the launcher took no start-up cache (is app.cds=auto set?)" : log;
    }

private:
    const StartupTraining::Plan& plan;
    const std::string name;
    const std::string launcher;
    BundleFiles::TempPath dir;
};

bool isCache(const std::string& path, std::uint64_t& size) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
        return false;
    }
    size = fs::file_size(path, ec);
    const std::string head = readFile(path).substr(0, sizeof(cacheMagic));
    std::uint32_t magic = 0;
    if (head.size() == sizeof(magic)) {
        std::memcpy(&magic, head.data(), sizeof(magic));
    }
    return !ec && size > 0 && magic == cacheMagic;
}

// What differed between the recording launch and the one with the cache;
// empty when nothing did.
std::string difference(const ProgramResult& recorded, const ProgramResult& checked, bool timedOut,
                       int timeoutSeconds) {
    if (timedOut) {
        return (tstrings::any() << "did not end within " << timeoutSeconds << " seconds").str();
    }
    if (checked.status != recorded.status) {
        return (tstrings::any() << "exited with status " << checked.status << " instead of "
                                << recorded.status)
            .str();
    }
    if (checked.out != recorded.out) {
        std::size_t line = 1;
        for (std::size_t i = 0;
             i < checked.out.size() && i < recorded.out.size() && checked.out[i] == recorded.out[i];
             ++i) {
            line += checked.out[i] == '\n';
        }
        return (tstrings::any() << "printed other standard output from line " << line).str();
    }
    return std::string();
}

std::string normalArch(const std::string& arch) {
    return arch == "amd64" ? "x86_64" : arch == "arm64" ? "aarch64" : arch;
}

} // namespace

namespace StartupTraining {

std::optional<Plan> plan(const BundleOptions& o) {
    if (!o.train) {
        if (!o.trainArguments.empty()) {
            fail("--train-argument needs --train", KV_SOURCE_CODE_POS);
        }
        if (!o.trainTimeout.empty()) {
            fail("--train-timeout needs --train", KV_SOURCE_CODE_POS);
        }
        return std::nullopt;
    }
    Plan plan;
    plan.arguments = o.trainArguments;
    if (!o.trainTimeout.empty()) {
        const std::string& t = o.trainTimeout;
        if (t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos ||
            std::atoi(t.c_str()) < 1) {
            fail("--train-timeout needs a whole number of seconds from 1 to 999999: " + t,
                 KV_SOURCE_CODE_POS);
        }
        plan.timeoutSeconds = std::atoi(t.c_str());
    }
    return plan;
}

std::optional<Plan> check(const BundleOptions& options, const BundlePlan& build) {
    std::optional<Plan> training = plan(options);
    if (!training) {
        return training;
    }
    if (build.jlink && !build.jlink->otherPlatform.empty()) {
        fail("--train runs the bundle on this " + hostPlatform() +
                 " host, and --jmods links a runtime for " + build.jlink->otherPlatform,
             KV_SOURCE_CODE_POS);
    }
    checkRuntime(BundleFiles::readText(build.runtimeHome + "/release"));
    return training;
}

std::string hostPlatform() {
#if defined(__APPLE__)
    const char* os = "Darwin";
#elif defined(__linux__)
    const char* os = "Linux";
#else
    const char* os = "unknown";
#endif
#if defined(__aarch64__)
    const char* arch = "aarch64";
#elif defined(__x86_64__)
    const char* arch = "x86_64";
#else
    const char* arch = "unknown";
#endif
    return std::string(os) + " " + arch;
}

void checkRuntime(const std::string& releaseText) {
    const std::string version = RuntimeLink::releaseValue(releaseText, "JAVA_VERSION");
    const int feature = std::atoi(version.c_str());
    if (feature < 25) {
        fail("--train needs a runtime of Java 25 or later, not " +
                 (version.empty() ? std::string("one without JAVA_VERSION") : "Java " + version) +
                 ": an earlier runtime's start-up archive does not survive the move to the "
                 "user's disk (the per-user cache of --cds still applies)",
             KV_SOURCE_CODE_POS);
    }
    const std::string platform = RuntimeLink::releaseValue(releaseText, "OS_NAME") + " " +
                                 normalArch(RuntimeLink::releaseValue(releaseText, "OS_ARCH"));
    if (platform != hostPlatform()) {
        fail("--train runs the bundle on this " + hostPlatform() +
                 " host, and its runtime is for " + platform,
             KV_SOURCE_CODE_POS);
    }
}

std::uint64_t train(const Plan& plan, const std::string& bundleDir, const std::string& name,
                    Progress& progress) {
    Progress::Step step = progress.step("Training the start-up cache");
    Runs runs(plan, bundleDir, name);
    bool timedOut = false;
    const ProgramResult recorded = runs.run("record", timedOut);
    if (timedOut) {
        fail((tstrings::any() << "the training run did not end within " << plan.timeoutSeconds
                              << " seconds: give --train-argument to make the application end "
                                 "after its start, or a longer --train-timeout")
                 .str(),
             KV_SOURCE_CODE_POS);
    }
    if (recorded.status != 0) {
        fail((tstrings::any() << "the training run failed with exit status " << recorded.status
                              << ": " << tail(recorded.err))
                 .str(),
             KV_SOURCE_CODE_POS);
    }
    std::error_code ec;
    if (!fs::is_regular_file(runs.file(".aotconf"), ec) ||
        fs::file_size(runs.file(".aotconf"), ec) == 0) {
        fail("the training run wrote no start-up cache: " + runs.whyNone(), KV_SOURCE_CODE_POS);
    }
    const ProgramResult created = runs.run("create", timedOut);
    std::uint64_t size = 0;
    if (timedOut || created.status != 0 || !isCache(runs.file(".aot"), size)) {
        fail((tstrings::any() << "creating the start-up cache failed"
                              << (timedOut ? " (timed out)" : "") << " with exit status "
                              << created.status << ": " << runs.whyNone())
                 .str(),
             KV_SOURCE_CODE_POS);
    }
    fs::remove(runs.file(".log"), ec);
    const ProgramResult checked = runs.run("check", timedOut);
    std::string differed = difference(recorded, checked, timedOut, plan.timeoutSeconds);
    const std::string refusal = firstLine(readFile(runs.file(".log")));
    if (differed.empty() && !refusal.empty()) {
        differed = "was refused by the runtime: " + refusal;
    }
    if (!differed.empty()) {
        step.done("not shipped");
        progress.warn("the trained start-up cache is not shipped: the launch with it " + differed);
        return 0;
    }
    const std::string shipped = bundleDir + "/Contents/app/" + name + ".aot";
    fs::copy_file(runs.file(".aot"), shipped, ec);
    if (!ec) {
        fs::permissions(shipped,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        ec);
    }
    if (ec) {
        fail("cannot write " + shipped + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    step.done("Contents/app/" + name + ".aot, " + std::to_string(size) + " bytes,");
    return size;
}

} // namespace StartupTraining
