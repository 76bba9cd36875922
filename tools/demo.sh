#!/usr/bin/env bash
# Builds the launcher and the bundle tool, compiles the demo application, assembles
# build/demo/KovaluDemo.app with a runtime linked from the machine's JDK and
# starts it.
# Arguments given to this script go to the application, replacing its
# configured default arguments.

set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd -P)
build=$root/build
name=KovaluDemo

fail() {
    printf 'demo.sh: %s\n' "$1" >&2
    exit 1
}

home=$("$root/tools/java-home.sh") || fail "no JDK found: set JAVA_HOME or put javac on the PATH"

# The Release build that users bundle; the tests build elsewhere
# (build-tests/), so switching between the demo and the tests rebuilds nothing.
cmake --preset release -S "$root"
cmake --build "$build" --target applauncher kovalu-bundle -j2

demo=$build/demo
rm -rf "$demo/classes" "$demo/input"
mkdir -p "$demo/classes" "$demo/input"
"$home/bin/javac" -d "$demo/classes" "$root/demo/src/kovalu/demo/Main.java"
"$home/bin/jar" --create --file "$demo/input/demo.jar" --main-class kovalu.demo.Main \
    -C "$demo/classes" .

"$build/kovalu-bundle" --force \
    --launcher "$build/applauncher" \
    --name "$name" \
    --runtime "$home" \
    --jlink --jlink-minimal \
    --input "$demo/input/demo.jar" \
    --main-jar demo.jar \
    --java-option "-Xmx64m" \
    --cds \
    --argument "default argument" \
    --argument "from KovaluDemo.cfg" \
    --output "$demo" >/dev/null

echo "Starting $demo/$name.app"
exec "$demo/$name.app/Contents/MacOS/$name" "$@"
