#!/usr/bin/env bash
# Runs every benchmark once, one after the other, and prints their figures (about 18 minutes;
# the whole-program run takes 2 x SECONDS, publishing on against off about 3, the line service
# about 7). Not a test: nothing fails on a slow machine.
#   tools/bench.sh [SECONDS]   (the whole-program measurement time, default 120)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
export HX5800_SIM="$PWD/build/sim/hx5800-sim" QT_QPA_PLATFORM=offscreen
for bench in bench_link bench_qt_modbus bench_recorder bench_chart bench_journal bench_mqtt; do
    if [ -x "build/bench/$bench" ]; then
        echo "== $bench"
        "build/bench/$bench"
        echo
    fi
done
echo "== bench_program"
build/bench/bench_program "${1:-120}"
echo
echo "== bench_publish_cpu (2 pairs of 30 s; more pairs: build/bench/bench_publish_cpu PAIRS SECONDS)"
build/bench/bench_publish_cpu 2 30
echo
echo "== bench_line (each scenario 60 s; longer: build/bench/bench_line SECONDS [SCENARIO...])"
build/bench/bench_line 60
