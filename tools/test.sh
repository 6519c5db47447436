#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# With --quick, the tests labelled slow (whole-program faults and kills, soak, fuzzing) are
# left out: the suite for every day. With --sanitize, the tree is built with AddressSanitizer
# and UndefinedBehaviorSanitizer into ./build-sanitize and the tests run there. The other
# arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
sanitize=OFF
quick=()
while [ $# -gt 0 ]; do
    case "$1" in
    --sanitize) build=build-sanitize sanitize=ON ;;
    --quick) quick=(-LE slow) ;;
    *) break ;;
    esac
    shift
done
BUILD_DIR="$build" HX_SANITIZE="$sanitize" tools/setup.sh
cd "$build"
ctest --output-on-failure -j"$(nproc)" "${quick[@]}" "$@"
