#!/usr/bin/env bash
# Whole-process benchmarks of the launcher, each against its floor, runs
# interleaved round by round so that drifts of a shared machine hit every
# candidate alike:
#  1. the launcher in a bundle whose runtime library is the test double,
#     against a C program that only dlopens the same double and calls its
#     JLI_Launch with the same argument vector (exec + load + call); also with
#     the C++ runtime linked statically, and instruction counts (callgrind);
#  2. a hello application on the real JDK: through the launcher, through the
#     JDK's own java launcher with the same class path, options and class, and
#     through a shell script that execs java;
#  3. the class-data archive (app.cds=auto) on the real JDK, for a large
#     application that ships with the JDK (javac, started as the main module,
#     compiling one small file) and for the hello application in a jar: plain
#     java, the launcher without the archive, the launcher's first launch
#     (writing the archive; a script removes it before every run) and its
#     later launches (mapping it).
#  4. the same on a runtime of 25 or later, whose cache is ahead-of-time:
#     the launcher's first launch records, and the cache is created after it
#     by the launcher started again (the script measures the launch alone
#     into first-<label>.ms, then waits for the creation, which the runner
#     counts); against it, the JVM's own one-step -XX:AOTCacheOutput, and
#     the runtime's floors: its recording run alone and its use of a cache.
#
# Usage: bench/process-bench.sh [rounds, default 200] [JVM rounds, default 40]
#                               [archive rounds, default 20]
# Environment: JAVA_HOME (default /usr/lib/jvm/java-17-openjdk-amd64);
# JAVA25_HOME (default /usr/lib/jvm/temurin-25-jdk-amd64);
# BENCH_SECTIONS, a subset of "overhead jvm cds aot" (default: all four).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-200}
jvm_rounds=${2:-40}
cds_rounds=${3:-20}
sections=${BENCH_SECTIONS:-overhead jvm cds aot}
java25_home=${JAVA25_HOME:-/usr/lib/jvm/temurin-25-jdk-amd64}
java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
build=$root/build-bench
build_static=$root/build-bench-static
work=$build/process

configure_and_build() {
    dir=$1
    shift
    mkdir -p "$dir"
    log=$dir/build.log
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >"$log" 2>&1 &&
        cmake --build "$dir" -j2 --target applauncher fakejli >>"$log" 2>&1 ||
        { tail -n 30 "$log" >&2; echo "process-bench: build failed, see $log" >&2; exit 1; }
}

# The test double of the runtime library is built with the tests.
configure_and_build "$build" -DKOVALU_BUILD_BENCHMARKS=ON -DKOVALU_BUILD_TESTS=ON
cmake --build "$build" -j2 --target kovalu_floor kovalu_runner >>"$build/build.log" 2>&1
configure_and_build "$build_static" -DKOVALU_STATIC_RUNTIME=ON -DKOVALU_BUILD_TESTS=ON

runner=$build/bench/kovalu_runner
floor=$build/bench/kovalu_floor
fakejli=$(find "$build/test/fakejli" -name 'libfakejli.so' | head -n 1)

# make_bundle <dir> <launcher> <runtime library> <config text>
make_bundle() {
    name=$(basename "$1" .app)
    rm -rf "$1"
    mkdir -p "$1/Contents/MacOS" "$1/Contents/app" "$1/Contents/runtime/Contents/Home/lib"
    cp "$2" "$1/Contents/MacOS/$name"
    ln -s "$3" "$1/Contents/runtime/Contents/Home/lib/libjli.dylib"
    printf '%s' "$4" >"$1/Contents/app/$name.cfg"
}

want() {
    case " $sections " in
    *" $1 "*) return 0 ;;
    esac
    return 1
}

ratio() {
    awk -v a="$2" -v b="$3" -v f="$4" '
        $1 == a { for (i = 2; i <= NF; i++) { split($i, kv, "="); x[kv[1]] = kv[2] } }
        $1 == b { for (i = 2; i <= NF; i++) { split($i, kv, "="); y[kv[1]] = kv[2] } }
        END { printf "%s/%s %s: %.3f (%s vs %s)\n", a, b, f, x[f] / y[f], x[f], y[f] }' "$1"
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd -P)
# The small application of the real JVM runs.
cat >"$work/Hello.java" <<'EOF'
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello");
    }
}
EOF

if want overhead; then

cfg='[Application]
app.mainclass=demo.Main
app.classpath=$APPDIR/demo.jar
app.classpath=$APPDIR/lib/library.jar
[JavaOptions]
java-options=-Xmx512m
java-options=-Dapp.home=$ROOTDIR
[ArgOptions]
arguments=--verbose
'
make_bundle "$work/Bench.app" "$build/applauncher" "$fakejli" "$cfg"
make_bundle "$work/BenchStatic.app" "$build_static/applauncher" "$fakejli" "$cfg"
exe=$work/Bench.app/Contents/MacOS/Bench
app=$work/Bench.app/Contents/app
# The vector the launcher hands to JLI_Launch for this configuration.
set -- "$exe" -classpath "$app/demo.jar:$app/lib/library.jar" -Xmx512m \
    "-Dapp.home=$work/Bench.app" "-Dkovalu.app-path=$exe" demo.Main --verbose

echo "== launcher overhead, test double of the runtime library, $rounds interleaved rounds"
"$runner" "$rounds" \
    floor "$floor" "$fakejli" "$@" ";;" \
    launcher "$exe" ";;" \
    launcher-static "$work/BenchStatic.app/Contents/MacOS/BenchStatic" | tee "$work/overhead.txt"

echo "== instructions (valgrind --tool=callgrind), test double of the runtime library"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
        awk '/Collected :/ { print $NF }'
}
floor_ir=$(instructions "$floor" "$fakejli" "$@")
launcher_ir=$(instructions "$exe")
static_ir=$(instructions "$work/BenchStatic.app/Contents/MacOS/BenchStatic")
echo "floor instructions=$floor_ir"
echo "launcher instructions=$launcher_ir"
echo "launcher-static instructions=$static_ir"

fi

if want jvm; then
echo "== real JVM start ($java_home), $jvm_rounds interleaved rounds"
hello=$work/Hello.app
hello_cfg='[Application]
app.mainclass=Hello
app.classpath=$APPDIR
'
make_bundle "$hello" "$build/applauncher" "$java_home/lib/libjli.so" "$hello_cfg"
make_bundle "$work/HelloStatic.app" "$build_static/applauncher" "$java_home/lib/libjli.so" "$hello_cfg"
"$java_home/bin/javac" -d "$hello/Contents/app" "$work/Hello.java"
cp "$hello/Contents/app/Hello.class" "$work/HelloStatic.app/Contents/app/"
hello_exe=$hello/Contents/MacOS/Hello
hello_app=$hello/Contents/app
cat >"$work/hello-stub.sh" <<EOF
#!/bin/sh
exec "$java_home/bin/java" -classpath "$hello_app" "-Dkovalu.app-path=$hello_exe" Hello "\$@"
EOF
chmod +x "$work/hello-stub.sh"
"$runner" "$jvm_rounds" \
    java "$java_home/bin/java" -classpath "$hello_app" "-Dkovalu.app-path=$hello_exe" Hello ";;" \
    launcher "$hello_exe" ";;" \
    launcher-static "$work/HelloStatic.app/Contents/MacOS/HelloStatic" ";;" \
    script "$work/hello-stub.sh" | tee "$work/jvm.txt"

fi

echo "== ratios"
if want overhead; then
ratio "$work/overhead.txt" launcher floor median_ms
ratio "$work/overhead.txt" launcher-static floor median_ms
awk '$1 == "floor" || $1 ~ /^launcher/ { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "median_peak_kib") print $1 " median peak " kv[2] " KiB" } }' "$work/overhead.txt"
awk -v f="$floor_ir" -v l="$launcher_ir" -v s="$static_ir" \
    'BEGIN { printf "launcher/floor instructions: %.3f; launcher-static/floor: %.3f\n", l / f, s / f }'
fi
if want jvm; then
ratio "$work/jvm.txt" launcher java median_ms
ratio "$work/jvm.txt" launcher-static java median_ms
ratio "$work/jvm.txt" script java median_ms
ratio "$work/jvm.txt" launcher script median_ms
fi

want cds || want aot || exit 0
# The launcher keeps its archives in $HOME/Library/Caches/<launcher name>.
HOME=$work/home
export HOME
unset CLASSPATH JAVA_TOOL_OPTIONS _JAVA_OPTIONS
mkdir -p "$HOME" "$work/cds/classes" "$work/cds/javac-out"
"$java_home/bin/javac" -d "$work/cds/classes" "$work/Hello.java"
# A directory on the class path gets no archive: the small application is a jar.
"$java_home/bin/jar" --create --file "$work/cds/hello.jar" -C "$work/cds/classes" .

# make_variants <label> <runtime home> <[Application] lines and later sections>:
# the bundles <label>Plain (no app.cds), <label>Write and <label>Use.
make_variants() {
    for variant in Plain Write Use; do
        cds=
        [ "$variant" = Plain ] || cds='app.cds=auto
'
        make_bundle "$work/$1$variant.app" "$build/applauncher" "$2/lib/libjli.so" \
            "[Application]
$cds$3"
    done
}

# cds_bench <label> <[Application] lines and later sections> <java arguments...>:
# four candidates, interleaved; the figures go to $work/cds-<label>.txt.
cds_bench() {
    label=$1
    app_cfg=$2
    shift 2
    make_variants "$label" "$java_home" "$app_cfg"
    cat >"$work/$label-write.sh" <<EOF
#!/bin/sh
rm -f "$HOME/Library/Caches/${label}Write/"*.jsa
exec "$work/${label}Write.app/Contents/MacOS/${label}Write" "\$@"
EOF
    chmod +x "$work/$label-write.sh"
    echo "== class-data archive, $label ($java_home), $cds_rounds interleaved rounds"
    "$runner" "$cds_rounds" \
        java "$java_home/bin/java" "$@" ";;" \
        launcher "$work/${label}Plain.app/Contents/MacOS/${label}Plain" ";;" \
        launcher-first "$work/$label-write.sh" ";;" \
        launcher-later "$work/${label}Use.app/Contents/MacOS/${label}Use" |
        tee "$work/cds-$label.txt"
    ls -l "$HOME/Library/Caches/${label}Use"
    for candidate in launcher launcher-first launcher-later; do
        ratio "$work/cds-$label.txt" "$candidate" java median_ms
    done
}

# aot_bench <label> <[Application] lines and later sections> <java arguments...>:
# on $java25_home; the figures go to $work/aot-<label>.txt and first-<label>.ms.
aot_bench() {
    label=$1
    app_cfg=$2
    shift 2
    cache=$HOME/Library/Caches/${label}Write
    make_variants "$label" "$java25_home" "$app_cfg"
    cat >"$work/$label-write.sh" <<EOF
#!/bin/sh
rm -rf "$cache"
start=\$(date +%s%N)
"$work/${label}Write.app/Contents/MacOS/${label}Write" "\$@" || exit 1
echo \$(( (\$(date +%s%N) - start) / 1000 )) >>"$work/first-$label.ms"
# The create step holds the cache's lock, handed over by the launch, until it
# ends.
flock "$cache/${label}Write.lock" true
EOF
    cat >"$work/$label-output.sh" <<EOF
#!/bin/sh
rm -f "$work/$label-output.aot"
exec "$java25_home/bin/java" -XX:AOTCacheOutput="$work/$label-output.aot" $*
EOF
    cat >"$work/$label-record.sh" <<EOF
#!/bin/sh
rm -f "$work/$label-record.aotconf"
exec "$java25_home/bin/java" -XX:AOTMode=record -XX:AOTConfiguration="$work/$label-record.aotconf" $*
EOF
    chmod +x "$work/$label-write.sh" "$work/$label-output.sh" "$work/$label-record.sh"
    rm -f "$work/first-$label.ms" "$work/$label-kept.aot"
    # The runtime's own floors: its recording run alone, and its use of a cache.
    "$java25_home/bin/java" -XX:AOTCacheOutput="$work/$label-kept.aot" "$@" >/dev/null 2>&1
    echo "== ahead-of-time cache, $label ($java25_home), $cds_rounds interleaved rounds"
    "$runner" "$cds_rounds" \
        java "$java25_home/bin/java" "$@" ";;" \
        launcher "$work/${label}Plain.app/Contents/MacOS/${label}Plain" ";;" \
        launcher-first-and-create "$work/$label-write.sh" ";;" \
        java-one-step-output "$work/$label-output.sh" ";;" \
        java-record "$work/$label-record.sh" ";;" \
        java-later "$java25_home/bin/java" -XX:AOTCache="$work/$label-kept.aot" "$@" ";;" \
        launcher-later "$work/${label}Use.app/Contents/MacOS/${label}Use" |
        tee "$work/aot-$label.txt"
    # The runner's unmeasured warm-up round is the first line.
    tail -n +2 "$work/first-$label.ms" | sort -n |
        awk '{ v[NR] = $1 } END { printf "launcher-first median_ms=%.1f\n", v[int((NR + 1) / 2)] / 1000 }' |
        tee -a "$work/aot-$label.txt"
    ls -l "$HOME/Library/Caches/${label}Use"
    for candidate in launcher launcher-first launcher-first-and-create java-one-step-output \
        java-record java-later launcher-later; do
        ratio "$work/aot-$label.txt" "$candidate" java median_ms
    done
}

javac_cfg="app.mainmodule=jdk.compiler/com.sun.tools.javac.Main
[ArgOptions]
arguments=-d
arguments=$work/cds/javac-out
arguments=$work/Hello.java
"
if want cds; then
cds_bench Javac "$javac_cfg" -Dkovalu.app-path="$work/JavacPlain.app/Contents/MacOS/JavacPlain" \
    -m jdk.compiler/com.sun.tools.javac.Main -d "$work/cds/javac-out" "$work/Hello.java"
cds_bench Hello "app.classpath=$work/cds/hello.jar
app.mainclass=Hello
" -classpath "$work/cds/hello.jar" -Dkovalu.app-path="$work/HelloPlain.app/Contents/MacOS/HelloPlain" \
    Hello
fi
if want aot; then
aot_bench Javac25 "$javac_cfg" -Dkovalu.app-path="$work/Javac25Plain.app/Contents/MacOS/Javac25Plain" \
    -m jdk.compiler/com.sun.tools.javac.Main -d "$work/cds/javac-out" "$work/Hello.java"
fi
