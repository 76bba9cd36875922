#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each one for a bounded time. Any crash,
# sanitizer report, leak, timeout or memory blow-up fails the run; the input
# that caused it is kept in <build dir>/artifacts/.
#
# Usage: tools/fuzz.sh [seconds per target, default 30] [build dir, default build-fuzz]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${2:-$root/build-fuzz}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
cc=${KOVALU_FUZZ_CC:-clang-14}
cxx=${KOVALU_FUZZ_CXX:-clang++-14}

mkdir -p "$build"
log=$build/build.log
if ! { CC=$cc CXX=$cxx cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKOVALU_FUZZ=ON -DKOVALU_SANITIZE=ON -DKOVALU_WERROR=ON -DKOVALU_BUILD_TESTS=OFF &&
    cmake --build "$build" -j2 --target CfgLoadFuzzer CfgExpandFuzzer LaunchDataFuzzer \
        JarManifestFuzzer JarFileFuzzer InflateFuzzer PlistReaderFuzzer MachOFuzzer \
        ModuleInfoFuzzer JsonReaderFuzzer; } \
    >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: FAIL: build failed, full log in $log" >&2
    exit 1
fi

# The loader fuzzers write every input to a scratch file; on a disk that
# costs them more than nine tenths of their speed.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# The bundle tool's readers are seeded with real files of the machine (jars
# of Debian's Java packages, the JDK's module descriptors, CMake's Info.plist
# template), too large to commit; they are made afresh for every run.
seeds=$build/seeds
rm -rf "$seeds"
python3 "$root/fuzz/make-seeds.py" "$seeds"

failed=
# run <target> <largest input> [seed dir...]: new inputs go to the build's own
# corpus; the seeds are only read.
run() {
    name=$1
    max_len=$2
    shift 2
    corpus=$build/corpus/$name
    mkdir -p "$corpus" "$build/artifacts"
    echo "fuzz: $name for ${seconds}s"
    if ! "$build/fuzz/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "$corpus" "$@" \
        >"$build/$name.log" 2>&1; then
        tail -n 60 "$build/$name.log" >&2
        echo "fuzz: FAIL: $name, full log in $build/$name.log" >&2
        failed="$failed $name"
        return 0
    fi
    # The figures are for reading only: a log without them fails nothing.
    { grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" || true; } |
        sed "s/^/fuzz: $name /"
}

run CfgLoadFuzzer 4096 "$root/fuzz/corpus/cfg"
run CfgExpandFuzzer 4096 "$root/fuzz/corpus/cfg"
run LaunchDataFuzzer 4096
run JarManifestFuzzer 4096 "$root/fuzz/corpus/jar"
run JarFileFuzzer 65536 "$seeds/JarFile"
run InflateFuzzer 4096 "$seeds/Inflate"
run PlistReaderFuzzer 8192 "$seeds/PlistReader" "$root/fuzz/corpus/PlistReader"
run MachOFuzzer 4096 "$seeds/MachO"
run ModuleInfoFuzzer 8192 "$seeds/ModuleInfo"
run JsonReaderFuzzer 4096 "$root/fuzz/corpus/notarytool"

if [ -n "$failed" ]; then
    echo "fuzz: FAIL:$failed" >&2
    exit 1
fi
echo "fuzz: OK"
