#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# With --sanitize first, the tree is built with AddressSanitizer and UndefinedBehaviorSanitizer
# into ./build-sanitize and the tests run there; the other arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
    shift
    build=build-sanitize
    sanitize=ON
fi
BUILD_DIR="$build" HX_SANITIZE="$sanitize" tools/setup.sh
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
