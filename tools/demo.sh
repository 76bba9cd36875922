#!/usr/bin/env bash
# Builds the launcher, compiles the demo application, assembles
# build/demo/KovaluDemo.app with a runtime linked from the machine's JDK and
# starts it.
# Arguments given to this script go to the application, replacing its
# configured default arguments.

set -e

root=$(cd "$(dirname "$0")/.." && pwd -P)
build=$root/build
name=KovaluDemo

fail() {
    printf 'demo.sh: %s\n' "$1" >&2
    exit 1
}

# Resolves every symbolic link of a file path.
real_file() {
    local p=$1 target
    while [ -L "$p" ]; do
        target=$(readlink "$p")
        case $target in
        /*) p=$target ;;
        *) p=$(dirname "$p")/$target ;;
        esac
    done
    printf '%s/%s\n' "$(cd "$(dirname "$p")" && pwd -P)" "$(basename "$p")"
}

java_home() {
    if [ -n "$JAVA_HOME" ] && [ -x "$JAVA_HOME/bin/javac" ]; then
        printf '%s\n' "$JAVA_HOME"
        return
    fi
    # On macOS /usr/bin/javac is a stub, not a link into a runtime.
    if [ -x /usr/libexec/java_home ] && /usr/libexec/java_home >/dev/null 2>&1; then
        /usr/libexec/java_home
        return
    fi
    local javac
    javac=$(command -v javac) || return 1
    dirname "$(dirname "$(real_file "$javac")")"
}

home=$(java_home) || fail "no JDK found: put javac on the PATH or set JAVA_HOME"
[ -x "$home/bin/javac" ] || fail "no javac in $home/bin"

# The same generator as tools/run-tests.sh, so either may configure build/ first.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target applauncher -j2

demo=$build/demo
rm -rf "$demo/classes" "$demo/input"
mkdir -p "$demo/classes" "$demo/input"
"$home/bin/javac" -d "$demo/classes" "$root/demo/src/kovalu/demo/Main.java"
"$home/bin/jar" --create --file "$demo/input/demo.jar" --main-class kovalu.demo.Main \
    -C "$demo/classes" .

bash "$root/tools/make-bundle.sh" --force \
    --launcher "$build/applauncher" \
    --name "$name" \
    --runtime "$home" \
    --jlink \
    --input "$demo/input/demo.jar" \
    --main-jar demo.jar \
    --java-option "-Xmx64m" \
    --cds \
    --argument "default argument" \
    --argument "from KovaluDemo.cfg" \
    --output "$demo" >/dev/null

echo "Starting $demo/$name.app"
exec "$demo/$name.app/Contents/MacOS/$name" "$@"
