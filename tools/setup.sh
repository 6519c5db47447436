#!/usr/bin/env bash
# Installs what the build, the program and the tests need on a fresh Debian 12 machine
# (only what is missing), then configures and builds into ./build (or $BUILD_DIR; with
# HX_SANITIZE=ON the sanitizer build; with BUILD_TARGETS only those targets). With
# HX_PACKAGES=run only what building and running the program need is installed, not the
# tests' peers and tools.
set -euo pipefail
cd "$(dirname "$0")/.."

# Building and running: the libraries, the virtual X server for a machine without a display,
# the font of the Chinese captions.
packages=(cmake g++ make pkg-config qt6-base-dev libmodbus-dev libsqlite3-dev libmosquitto-dev
          xvfb xauth fonts-wqy-zenhei)
# The tests and benchmarks: independent Modbus peers, a broker and its certificates, the
# fuzzer, Qt's serial bus module for the side-by-side benchmark.
test_packages=(sqlite3 qt6-serialbus-dev qt6-serialport-dev mosquitto mosquitto-clients openssl socat mbpoll
               python3-pymodbus python3-serial python3-serial-asyncio clang-14 libfuzzer-14-dev)
if [ "${HX_PACKAGES:-all}" != run ]; then
    packages+=("${test_packages[@]}")
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DHX_SANITIZE="${HX_SANITIZE:-OFF}" > /dev/null
# BUILD_TARGETS (blank-separated) builds only those, e.g. what running the program needs.
if [ -n "${BUILD_TARGETS:-}" ]; then
    read -r -a targets <<<"$BUILD_TARGETS"
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
else
    cmake --build "$build" -j"$(nproc)"
fi
