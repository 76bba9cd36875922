#include "JvmArgScan.h"

#include "FileUtils.h"
#include "tstrings.h"

namespace JvmArgScan {

namespace {

// The JVM fails at start, rather than run without sharing, when it is asked
// to write or map an archive together with any of these; the launcher's own
// options would contradict the others.
const char* const conflictMarkers[] = {
    "-Xshare",
    "SharedArchiveFile",
    "ArchiveClassesAtExit",
    "RecordDynamicDumpInfo",
    "AutoCreateSharedArchive",
    "DumpLoadedClassList",
    "SharedClassListFile",
    "AOTCache",
    "AOTMode",
    "AOTConfiguration",
    "AOTClassLinking",
    "DisplayVMOutput",
    "UseSharedSpaces",
    "UseCompressedClassPointers",
    "-XX:Flags=",
    "-XX:VMOptionsFile",
    "--limit-modules",
    "--upgrade-module-path",
    "--patch-module",
    "-Djdk.module.",
};

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

std::string conflictingOption(const std::vector<std::string>& options) {
    for (const std::string& option : options) {
        for (const char* marker : conflictMarkers) {
            if (option.find(marker) != std::string::npos) {
                return option;
            }
        }
    }
    return std::string();
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
