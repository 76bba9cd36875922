#!/usr/bin/env bash
# Prints the home directory of the Java development kit that the demo and the
# end-to-end tests use: $JAVA_HOME when it holds one, else the one macOS names,
# else the one that `javac` on the PATH belongs to. Exits with 1, printing
# nothing, when there is none.
set -euo pipefail

# A development kit's home holds javac and the runtime's launcher library.
is_jdk() {
    [ -n "$1" ] && [ -x "$1/bin/javac" ] &&
        { [ -e "$1/lib/libjli.so" ] || [ -e "$1/lib/libjli.dylib" ]; }
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

candidates() {
    printf '%s\n' "${JAVA_HOME:-}"
    # On macOS /usr/bin/javac is a stub, not a link into a runtime.
    if [ -x /usr/libexec/java_home ]; then
        /usr/libexec/java_home 2>/dev/null || true
    fi
    local javac
    if javac=$(command -v javac); then
        dirname "$(dirname "$(real_file "$javac")")"
    fi
}

while IFS= read -r home; do
    if is_jdk "$home"; then
        (cd "$home" && pwd -P)
        exit 0
    fi
done < <(candidates)
exit 1
