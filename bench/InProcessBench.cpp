// Configuration load, macro expansion and launch-data flattening, for a
// typical configuration and for growing class paths. "per_value" is the time
// per class path value; it must stay flat as the count grows.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "CfgFile.h"
#include "JvmLauncher.h"
#include "JvmLauncherLib.h"
#include "Log.h"

namespace {

const char typicalCfg[] =
    "[Application]\n"
    "app.mainclass=demo.Main\n"
    "app.classpath=$APPDIR/demo.jar\n"
    "app.classpath=$APPDIR/lib/commons-lang3-3.12.0.jar\n"
    "app.classpath=$APPDIR/lib/slf4j-api-2.0.7.jar\n"
    "app.classpath=$APPDIR/lib/logback-classic-1.4.7.jar\n"
    "app.classpath=$APPDIR/lib/logback-core-1.4.7.jar\n"
    "app.version=1.0\n"
    "app.splash=$APPDIR/splash.png\n"
    "[JavaOptions]\n"
    "java-options=-Xmx512m\n"
    "java-options=-Dapp.home=$ROOTDIR\n"
    "java-options=-Djava.library.path=$APPDIR/native:$BINDIR\n"
    "[ArgOptions]\n"
    "arguments=--verbose\n";

const std::map<std::string, std::string> macros = {
    {"$APPDIR", "/Applications/Demo.app/Contents/app"},
    {"$BINDIR", "/Applications/Demo.app/Contents/MacOS"},
    {"$ROOTDIR", "/Applications/Demo.app"},
};

// The typical configuration with `values` more class path entries.
std::string configText(int64_t values) {
    std::string text = typicalCfg;
    text += "[Application]\n";
    text += "app.mainclass=demo.Main\n";
    for (int64_t i = 0; i < values; ++i) {
        text += "app.classpath=$APPDIR/lib/dependency-" + std::to_string(i) + ".jar\n";
    }
    return text;
}

class CfgFileOnDisk {
public:
    explicit CfgFileOnDisk(int64_t values) {
        char pattern[] = "/tmp/kovalu-bench-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        close(fd);
        path = pattern;
        const std::string text = values < 0 ? std::string(typicalCfg) : configText(values);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f)) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    ~CfgFileOnDisk() { unlink(path.c_str()); }
    CfgFileOnDisk(const CfgFileOnDisk&) = delete;
    CfgFileOnDisk& operator=(const CfgFileOnDisk&) = delete;

    std::string path;
};

// -1 stands for the typical configuration.
int64_t valuesOf(const benchmark::State& state) {
    return state.range(0);
}

void reportPerValue(benchmark::State& state) {
    const int64_t values = valuesOf(state);
    if (values > 0) {
        state.counters["per_value"] = benchmark::Counter(
            static_cast<double>(values),
            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        state.SetComplexityN(values);
    }
}

void silenceLogging() {
    static NopLogAppender nop;
    Logger::defaultLogger().setAppender(nop);
}

void BM_Load(benchmark::State& state) {
    silenceLogging();
    const CfgFileOnDisk file(valuesOf(state));
    for (auto _ : state) {
        CfgFile cfg = CfgFile::load(file.path);
        benchmark::DoNotOptimize(cfg);
    }
    reportPerValue(state);
}

void BM_ExpandMacros(benchmark::State& state) {
    silenceLogging();
    const CfgFileOnDisk file(valuesOf(state));
    const CfgFile cfg = CfgFile::load(file.path);
    for (auto _ : state) {
        CfgFile expanded = cfg.expandMacros(macros);
        benchmark::DoNotOptimize(expanded);
    }
    reportPerValue(state);
}

// All values in one line, as a hand-written configuration may give its class
// path: one value with `values` macro occurrences.
void BM_ExpandOneLongValue(benchmark::State& state) {
    silenceLogging();
    std::string classPath;
    for (int64_t i = 0; i < std::max<int64_t>(valuesOf(state), 1); ++i) {
        classPath += (i ? ":" : "") + std::string("$APPDIR/lib/dependency-") + std::to_string(i) + ".jar";
    }
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::classpath, {classPath});
    for (auto _ : state) {
        CfgFile expanded = cfg.expandMacros(macros);
        benchmark::DoNotOptimize(expanded);
    }
    reportPerValue(state);
}

// The Jvm the launcher would build from the configuration: the class path
// values become one "-classpath" argument.
std::unique_ptr<Jvm> makeJvm(int64_t values) {
    const CfgFileOnDisk file(values);
    const CfgFile cfg = CfgFile::load(file.path).expandMacros(macros);
    std::unique_ptr<Jvm> jvm(new Jvm());
    jvm->setLibraryPath("/Applications/Demo.app/Contents/runtime/Contents/Home/lib/libjli.dylib");
    jvm->addArgument("/Applications/Demo.app/Contents/MacOS/Demo");
    jvm->initFromConfigFile(cfg);
    return jvm;
}

void BM_InitFromConfigFile(benchmark::State& state) {
    silenceLogging();
    const CfgFileOnDisk file(valuesOf(state));
    const CfgFile cfg = CfgFile::load(file.path).expandMacros(macros);
    for (auto _ : state) {
        Jvm jvm;
        jvm.initFromConfigFile(cfg);
        benchmark::DoNotOptimize(jvm);
    }
    reportPerValue(state);
}

void BM_FlattenLaunchData(benchmark::State& state) {
    silenceLogging();
    const std::unique_ptr<Jvm> jvm = makeJvm(valuesOf(state));
    JvmlLauncherAPI* api = jvmLauncherGetAPI();
    for (auto _ : state) {
        JvmlLauncherData* block = jvmLauncherCreateJvmlLauncherData(api, jvm->exportLauncher(), nullptr);
        if (!block) {
            state.SkipWithError("no launch data block");
            break;
        }
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    reportPerValue(state);
}

// Each value as an argument of its own, so the pointer arrays grow too.
void BM_FlattenArguments(benchmark::State& state) {
    silenceLogging();
    Jvm jvm;
    jvm.setLibraryPath("/Applications/Demo.app/Contents/runtime/Contents/Home/lib/libjli.dylib");
    for (int64_t i = 0; i < std::max<int64_t>(valuesOf(state), 1); ++i) {
        jvm.addArgument("/Applications/Demo.app/Contents/app/lib/dependency-" + std::to_string(i) + ".jar");
    }
    JvmlLauncherAPI* api = jvmLauncherGetAPI();
    for (auto _ : state) {
        JvmlLauncherData* block = jvmLauncherCreateJvmlLauncherData(api, jvm.exportLauncher(), nullptr);
        if (!block) {
            state.SkipWithError("no launch data block");
            break;
        }
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    reportPerValue(state);
}

// Everything the launcher does with its configuration before it loads the
// runtime: load, expand, build the Jvm, flatten.
void BM_WholeConfiguration(benchmark::State& state) {
    silenceLogging();
    const CfgFileOnDisk file(valuesOf(state));
    JvmlLauncherAPI* api = jvmLauncherGetAPI();
    for (auto _ : state) {
        const CfgFile cfg = CfgFile::load(file.path).expandMacros(macros);
        Jvm jvm;
        jvm.setLibraryPath("/Applications/Demo.app/Contents/runtime/Contents/Home/lib/libjli.dylib");
        jvm.addArgument("/Applications/Demo.app/Contents/MacOS/Demo");
        jvm.initFromConfigFile(cfg);
        JvmlLauncherData* block = jvmLauncherCreateJvmlLauncherData(api, jvm.exportLauncher(), nullptr);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    reportPerValue(state);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(-1)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_Load)->Apply(sizes);
BENCHMARK(BM_ExpandMacros)->Apply(sizes);
BENCHMARK(BM_ExpandOneLongValue)->Apply(sizes);
BENCHMARK(BM_InitFromConfigFile)->Apply(sizes);
BENCHMARK(BM_FlattenLaunchData)->Apply(sizes);
BENCHMARK(BM_FlattenArguments)->Apply(sizes);
BENCHMARK(BM_WholeConfiguration)->Apply(sizes);

BENCHMARK_MAIN();
