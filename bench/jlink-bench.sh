#!/usr/bin/env bash
# The demo bundle made without and with --jlink: the time the bundle tool
# takes and the size of what it writes, then the start of the demo application
# through the launcher on the machine's runtime and on the linked one. Both
# measurements run interleaved round by round (bench/runner.c).
#
# Usage: bench/jlink-bench.sh [bundle rounds, default 5] [start rounds, default 40]
# Environment: JAVA_HOME (default /usr/lib/jvm/java-17-openjdk-amd64).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
start_rounds=${2:-40}
java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
build=$root/build-bench
work=$build/jlink

mkdir -p "$build"
log=$build/build.log
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKOVALU_BUILD_BENCHMARKS=ON -DKOVALU_BUILD_TESTS=ON >"$log" 2>&1 &&
    cmake --build "$build" -j2 --target applauncher kovalu-bundle kovalu_runner >>"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; echo "jlink-bench: build failed, see $log" >&2; exit 1; }
runner=$build/bench/kovalu_runner

rm -rf "$work"
mkdir -p "$work/classes" "$work/input" "$work/plain" "$work/jlink"
"$java_home/bin/javac" -d "$work/classes" "$root/demo/src/kovalu/demo/Main.java"
"$java_home/bin/jar" --create --file "$work/input/demo.jar" --main-class kovalu.demo.Main \
    -C "$work/classes" .

set -- "$build/kovalu-bundle" --force --launcher "$build/applauncher" \
    --name KovaluDemo --runtime "$java_home" --input "$work/input/demo.jar" \
    --main-jar demo.jar --java-option -Xmx64m --argument "default argument"

echo "== making the bundle, $rounds interleaved rounds"
"$runner" "$rounds" \
    plain "$@" --output "$work/plain" ";;" \
    jlink "$@" --output "$work/jlink" --jlink --jlink-minimal >"$work/make.txt"
cat "$work/make.txt"

echo "== size (du -sk; the runtime's links count as links)"
for variant in plain jlink; do
    printf '%s bundle_kib=%s runtime_kib=%s\n' "$variant" \
        "$(du -sk "$work/$variant/KovaluDemo.app" | cut -f 1)" \
        "$(du -sk "$work/$variant/KovaluDemo.app/Contents/runtime" | cut -f 1)"
done
printf 'full runtime (%s) kib=%s\n' "$java_home" "$(du -sk "$java_home" | cut -f 1)"
sed -n 's/^MODULES=/linked modules: /p' \
    "$work/jlink/KovaluDemo.app/Contents/runtime/Contents/Home/release"

echo "== starting the demo application, $start_rounds interleaved rounds"
"$runner" "$start_rounds" \
    machine-runtime "$work/plain/KovaluDemo.app/Contents/MacOS/KovaluDemo" ";;" \
    linked-runtime "$work/jlink/KovaluDemo.app/Contents/MacOS/KovaluDemo"
