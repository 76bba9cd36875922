#include "JvmArgScan.h"

#include <cstring>

#include "FileUtils.h"
#include "tstrings.h"

namespace JvmArgScan {

namespace {

// The JVM fails at start, rather than run without sharing, when it is asked
// to write or map an archive together with any of these; the launcher's own
// options would contradict the others. Matched against the names of -XX
// options: every option whose name begins with one of these.
const char* const conflictingFlags[] = {
    "Shared",                  // SharedArchiveFile, SharedClassListFile, ...
    "ArchiveClassesAtExit",
    "RecordDynamicDumpInfo",
    "AutoCreateSharedArchive",
    "DynamicDump",
    "DumpLoadedClassList",
    "AOT",                     // AOTCache, AOTMode, AOTConfiguration, ...
    "DisplayVMOutput",
    "UseSharedSpaces",
    "UseCompressedClassPointers",
    "Flags",
    "VMOptionsFile",
};

// Options matched as written, alone or followed by '=' (or ':' for -Xshare).
const char* const conflictingOptions[] = {
    "-Xshare", "--limit-modules", "--upgrade-module-path", "--patch-module",
};

// Prefixes of options that conflict on every runtime: native agents (the
// debugger's among them) are refused when an archive is written, and an
// archive with linked classes is refused next to them; a class loader of the
// application as the system's turns archived classes off with a warning.
const char* const conflictingPrefixes[] = {
    "-Djdk.module.", "-agentlib:", "-agentpath:", "-Xrun", "-Djava.system.class.loader=",
};

// A Java agent makes the dynamic archive's writing fail at exit (13 to 24);
// the ahead-of-time cache records without the agent's classes.
const char* const dynamicArchivePrefixes[] = {"-javaagent:"};

bool isConflictingFlag(const std::string& option) {
    if (!tstrings::startsWith(option, "-XX:")) {
        return false;
    }
    std::string name = option.substr(4);
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) {
        name.erase(0, 1);
    }
    name = name.substr(0, name.find('='));
    for (const char* flag : conflictingFlags) {
        if (tstrings::startsWith(name, flag)) {
            return true;
        }
    }
    return false;
}

bool isConflicting(const std::string& option, int javaVersion) {
    for (const char* name : conflictingOptions) {
        const std::size_t length = std::strlen(name);
        if (tstrings::startsWith(option, name) &&
            (option.size() == length || option[length] == '=' || option[length] == ':')) {
            return true;
        }
    }
    for (const char* prefix : conflictingPrefixes) {
        if (tstrings::startsWith(option, prefix)) {
            return true;
        }
    }
    if (javaVersion < 25) {
        for (const char* prefix : dynamicArchivePrefixes) {
            if (tstrings::startsWith(option, prefix)) {
                return true;
            }
        }
    }
    return isConflictingFlag(option);
}

void addPathList(std::vector<PathEntry>& entries, const std::string& list, bool onModulePath) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find(FileUtils::pathSeparator, start);
        const std::string piece = list.substr(start, end - start);
        // An empty piece is the current directory to the JVM.
        entries.push_back({piece.empty() ? std::string(".") : piece, onModulePath});
        if (end == std::string::npos) {
            return;
        }
        start = end + 1;
    }
}

std::string valueAfter(const std::string& arg, char separator) {
    return arg.substr(arg.find(separator) + 1);
}

} // namespace

const char* const optionVariables[3] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"};

std::string conflictingOption(const std::vector<std::string>& options, int javaVersion) {
    for (const std::string& option : options) {
        if (isConflicting(option, javaVersion)) {
            return option;
        }
    }
    return std::string();
}

std::vector<std::string> splitOptions(const std::string& value) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : value) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

bool startsClassBesideModulePath(const std::vector<std::string>& jvmArgs) {
    bool modulePath = false;
    for (std::size_t i = 0; i < jvmArgs.size(); ++i) {
        const std::string& arg = jvmArgs[i];
        if (arg == "-m" || arg == "--module" || tstrings::startsWith(arg, "--module=")) {
            return false;
        }
        if ((arg == "-p" || arg == "--module-path") && i + 1 < jvmArgs.size()) {
            modulePath = modulePath || !jvmArgs[++i].empty();
        } else if (tstrings::startsWith(arg, "--module-path=")) {
            modulePath = modulePath || arg.size() > std::strlen("--module-path=");
        } else if (arg == "-cp" || arg == "-classpath" || arg == "--class-path" || arg == "-jar") {
            ++i;
        }
    }
    return modulePath;
}

std::vector<PathEntry> pathEntries(const std::vector<std::string>& jvmArgs,
                                   const std::string& classPathVariable) {
    std::vector<PathEntry> entries;
    bool classPathGiven = false;
    bool mainIsModule = false;
    for (std::size_t i = 0; i < jvmArgs.size(); ++i) {
        const std::string& arg = jvmArgs[i];
        const bool hasValue = i + 1 < jvmArgs.size();
        if ((arg == "-cp" || arg == "-classpath" || arg == "--class-path") && hasValue) {
            addPathList(entries, jvmArgs[++i], false);
            classPathGiven = true;
        } else if ((arg == "-p" || arg == "--module-path") && hasValue) {
            addPathList(entries, jvmArgs[++i], true);
        } else if (arg == "-jar" && hasValue) {
            entries.push_back({jvmArgs[++i], false});
            classPathGiven = true;
        } else if ((arg == "-m" || arg == "--module") && hasValue) {
            ++i;
            mainIsModule = true;
        } else if (tstrings::startsWith(arg, "--class-path=") ||
                   tstrings::startsWith(arg, "-Djava.class.path=")) {
            addPathList(entries, valueAfter(arg, '='), false);
            classPathGiven = true;
        } else if (tstrings::startsWith(arg, "--module-path=")) {
            addPathList(entries, valueAfter(arg, '='), true);
        } else if (tstrings::startsWith(arg, "-Xbootclasspath/a:")) {
            addPathList(entries, valueAfter(arg, ':'), false);
        } else if (tstrings::startsWith(arg, "--module=")) {
            mainIsModule = true;
        }
    }
    if (!classPathGiven && !classPathVariable.empty()) {
        addPathList(entries, classPathVariable, false);
    } else if (!classPathGiven && !mainIsModule) {
        entries.push_back({".", false});
    }
    return entries;
}

} // namespace JvmArgScan
