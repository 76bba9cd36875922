#!/usr/bin/env bash
# Configures, builds and runs every test of the source tree this script lives in.
#
#   tools/run-tests.sh [BUILD_DIR [EXTRA_CMAKE_ARGUMENTS...]]
#
# BUILD_DIR defaults to "build-tests" (relative paths are taken from the source
# root); the remaining arguments go to CMake, e.g. -DKOVALU_SANITIZE=ON.
# KOVALU_BUILD_TYPE picks the CMake build type (default Debug). The exit status
# is non-zero when configuring, building or any test fails, and also when no
# test was found (GoogleTest missing), so a silent empty run cannot pass.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-build-tests}"
if [ "$#" -gt 0 ]; then
    shift
fi
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac

# The "default" preset (Ninja, Debug) in its own build directory: the demo
# builds the Release build/ that users bundle, so switching between the two
# rebuilds nothing.
cmake --preset default -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE="${KOVALU_BUILD_TYPE:-Debug}" "$@"
cmake --build "$build_dir" -j2
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error
