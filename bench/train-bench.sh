#!/usr/bin/env bash
# The start-up cache that `kovalu-bundle --train` ships, on a runtime of 25 or
# later: the JDK's compiler as the main module of a bundle with its own linked
# runtime (--jlink), compiling one small file. Interleaved rounds against
# plain java of the same JDK, each launch of a bundle on a fresh HOME (its
# per-user cache directory removed before every run), for the trained bundle
# as built, moved, zipped and unzipped, and copied with `cp -r` (times lost);
# the untrained bundle (--cds) on a fresh HOME, without any cache and with
# its per-user cache, for comparison. Prints the sizes of the bundles, their zips and the cache.
#
# Usage: bench/train-bench.sh [rounds, default 15]
# Environment: JAVA25_HOME (default /usr/lib/jvm/temurin-25-jdk-amd64).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-15}
jdk=${JAVA25_HOME:-/usr/lib/jvm/temurin-25-jdk-amd64}
build=$root/build-bench
work=$build/train

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOVALU_BUILD_BENCHMARKS=ON \
    >"$build/train-build.log" 2>&1
cmake --build "$build" -j2 --target applauncher kovalu-bundle kovalu_runner \
    >>"$build/train-build.log" 2>&1
runner=$build/bench/kovalu_runner

rm -rf "$work"
mkdir -p "$work/home" "$work/out" "$work/moved" "$work/unzipped"
work=$(cd "$work" && pwd -P)
export HOME=$work/home
unset CLASSPATH JAVA_TOOL_OPTIONS _JAVA_OPTIONS JDK_JAVA_OPTIONS
printf 'public class Hello { public static void main(String[] a) { System.out.println("Hello"); } }\n' \
    >"$work/Hello.java"

# bundle <name> <options...>: <name>.app and <name>.zip in $work/out.
bundle() {
    name=$1
    shift
    "$build/kovalu-bundle" --launcher "$build/applauncher" --name "$name" --runtime "$jdk" \
        --jlink --add-modules jdk.compiler --main-module jdk.compiler/com.sun.tools.javac.Main \
        --argument -d --argument "$work/classes" --argument "$work/Hello.java" \
        --output "$work/out" --zip "$@"
}
bundle Trained --train
bundle Untrained --cds
cp -a "$work/out/Trained.app" "$work/moved/Trained.app.tmp"
mv "$work/moved/Trained.app.tmp" "$work/moved/Trained.app"
(cd "$work/unzipped" && unzip -q "$work/out/Trained-1.0.zip")
mkdir -p "$work/copied"
cp -r "$work/out/Trained.app" "$work/copied/Trained.app"

# fresh <label> <launcher>: a script that starts the launcher on a fresh HOME.
fresh() {
    cat >"$work/$1.sh" <<EOS
#!/bin/sh
rm -rf "$HOME/Library/Caches/\$(basename "$2")"
exec "$2"
EOS
    chmod +x "$work/$1.sh"
}
fresh trained-first "$work/out/Trained.app/Contents/MacOS/Trained"
fresh moved-first "$work/moved/Trained.app/Contents/MacOS/Trained"
fresh unzipped-first "$work/unzipped/Trained.app/Contents/MacOS/Trained"
fresh copied-first "$work/copied/Trained.app/Contents/MacOS/Trained"
# The untrained first launch records; its create step runs detached after it
# and is waited for, so that it does not slow the next candidate.
cat >"$work/untrained-first.sh" <<EOS
#!/bin/sh
rm -rf "$HOME/Library/Caches/Untrained"
"$work/out/Untrained.app/Contents/MacOS/Untrained" || exit 1
flock "$HOME/Library/Caches/Untrained/Untrained.lock" true
EOS
# No cache at all: without HOME the launcher keeps the cache off.
cat >"$work/untrained-off.sh" <<EOS
#!/bin/sh
HOME= exec "$work/out/Untrained.app/Contents/MacOS/Untrained"
EOS
chmod +x "$work/untrained-first.sh" "$work/untrained-off.sh"
"$work/out/Untrained.app/Contents/MacOS/Untrained"
sleep 1
flock "$HOME/Library/Caches/Untrained/Untrained.lock" true

echo "== trained start-up cache, javac on $jdk, $rounds interleaved rounds"
"$runner" "$rounds" \
    java "$jdk/bin/java" -m jdk.compiler/com.sun.tools.javac.Main -d "$work/classes" "$work/Hello.java" ";;" \
    trained-first "$work/trained-first.sh" ";;" \
    moved-first "$work/moved-first.sh" ";;" \
    unzipped-first "$work/unzipped-first.sh" ";;" \
    copied-first "$work/copied-first.sh" ";;" \
    trained-later "$work/out/Trained.app/Contents/MacOS/Trained" ";;" \
    untrained-first-and-create "$work/untrained-first.sh" ";;" \
    untrained-no-cache "$work/untrained-off.sh" ";;" \
    untrained-later "$work/out/Untrained.app/Contents/MacOS/Untrained" |
    tee "$work/train.txt"
awk '$1 == "java" { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "median_ms") j = kv[2] } }
     { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "median_ms") m[$1] = kv[2] } }
     END { for (c in m) printf "%s/java median_ms: %.3f\n", c, m[c] / j }' "$work/train.txt" | sort

echo "== sizes (bytes)"
for f in out/Trained.app out/Untrained.app; do
    printf '%s %s\n' "$f" "$(du -sb "$work/$f" | cut -f1)"
done
for f in out/Trained.app/Contents/app/Trained.aot out/Trained-1.0.zip out/Untrained-1.0.zip; do
    printf '%s %s\n' "$f" "$(stat -c %s "$work/$f")"
done
(cd "$work" && zip -q -9 aot-alone.zip out/Trained.app/Contents/app/Trained.aot)
printf 'the cache alone, zipped: %s\n' "$(stat -c %s "$work/aot-alone.zip")"
