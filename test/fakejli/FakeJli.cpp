// A stand-in for the Java runtime's launcher library. Its JLI_Launch writes
// what it receives to the file named by KVTEST_JLI_RECORD (appending, one
// block per call) and returns KVTEST_JLI_RETURN (default 0).
//
// Record format, one "key=value" line each, values escaped ('\\' -> "\\\\",
// newline -> "\\n"):
//   call=<n>                       1 for the first call in the process
//   argc=<n>, argv[<i>]=<arg>, argv_terminated=<1|0>
//   env[<NAME>]=<value> or envunset[<NAME>]   for each name in KVTEST_JLI_ENV
//                                             (comma-separated)
//   jargc, jargv, appclassc, appclassv, fullversion, dotversion, pname, lname,
//   javaargs, cpwildcard, javaw, ergo        the 12 trailing arguments; the
//                                             pointers as "null" or "set"
//   reenter=<status>               when KVTEST_JLI_REENTER=1: the first call
//                                   calls the executable's main again
//   end
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int callCount = 0;

std::string escape(const char* s) {
    std::string out;
    for (; *s; ++s) {
        if (*s == '\\') {
            out += "\\\\";
        } else if (*s == '\n') {
            out += "\\n";
        } else {
            out += *s;
        }
    }
    return out;
}

const char* pointerState(const void* p) {
    return p ? "set" : "null";
}

void recordEnv(FILE* f) {
    const char* names = std::getenv("KVTEST_JLI_ENV");
    if (!names) {
        return;
    }
    std::string list(names);
    std::string::size_type start = 0;
    while (start <= list.size()) {
        std::string::size_type comma = list.find(',', start);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        const std::string name = list.substr(start, comma - start);
        if (!name.empty()) {
            const char* value = std::getenv(name.c_str());
            if (value) {
                std::fprintf(f, "env[%s]=%s\n", name.c_str(), escape(value).c_str());
            } else {
                std::fprintf(f, "envunset[%s]\n", name.c_str());
            }
        }
        start = comma + 1;
    }
}

int reenterMain(int argc, char** argv) {
    typedef int (*MainFunc)(int, char**);
    void* sym = dlsym(RTLD_DEFAULT, "main");
    if (!sym) {
        return -1000;
    }
    MainFunc mainFunc;
    std::memcpy(&mainFunc, &sym, sizeof(mainFunc));
    return mainFunc(argc, argv);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
JLI_Launch(int argc, char** argv, int jargc, const char** jargv, int appclassc,
           const char** appclassv, const char* fullversion, const char* dotversion,
           const char* pname, const char* lname, unsigned char javaargs, unsigned char cpwildcard,
           unsigned char javaw, int ergo) {
    const int call = ++callCount;
    const char* recordPath = std::getenv("KVTEST_JLI_RECORD");
    FILE* f = recordPath ? std::fopen(recordPath, "a") : nullptr;
    if (f) {
        std::fprintf(f, "call=%d\nargc=%d\n", call, argc);
        for (int i = 0; i < argc; ++i) {
            std::fprintf(f, "argv[%d]=%s\n", i, escape(argv[i]).c_str());
        }
        std::fprintf(f, "argv_terminated=%d\n", argv[argc] == nullptr ? 1 : 0);
        recordEnv(f);
        std::fprintf(f, "jargc=%d\njargv=%s\nappclassc=%d\nappclassv=%s\n", jargc,
                     pointerState(jargv), appclassc, pointerState(appclassv));
        std::fprintf(f, "fullversion=%s\ndotversion=%s\npname=%s\nlname=%s\n",
                     escape(fullversion).c_str(), escape(dotversion).c_str(),
                     escape(pname).c_str(), escape(lname).c_str());
        std::fprintf(f, "javaargs=%d\ncpwildcard=%d\njavaw=%d\nergo=%d\n", javaargs, cpwildcard,
                     javaw, ergo);
        std::fflush(f);
    }
    const char* reenter = std::getenv("KVTEST_JLI_REENTER");
    if (call == 1 && reenter && std::strcmp(reenter, "1") == 0) {
        const int status = reenterMain(argc, argv);
        if (f) {
            std::fprintf(f, "reenter=%d\n", status);
        }
    }
    if (f) {
        std::fprintf(f, "end\n");
        std::fclose(f);
    }
    const char* ret = std::getenv("KVTEST_JLI_RETURN");
    return ret ? std::atoi(ret) : 0;
}
