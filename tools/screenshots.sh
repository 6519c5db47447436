#!/usr/bin/env bash
# Takes the README's pictures again from the real program: builds what is out of date, starts
# the instrument simulator in its demonstration mode on a pseudo-terminal, gives a fresh
# recording database in a temporary folder about 12 minutes of history, and runs
# hx5800-screenshot once per picture, offscreen. The pictures go to docs/ (or the folder
# given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs}")"
mkdir -p "$out"

cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" > /dev/null
cmake --build build -j"$(nproc)" --target hx5800 hx5800-sim hx5800-initdb hx5800-screenshot > /dev/null

rundir=$(mktemp -d "${TMPDIR:-/tmp}/hx5800-shots.XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$rundir"
}
trap cleanup EXIT

export HX5800_DB="$rundir/Trendlog/Rdatabj.db"
build/logging/hx5800-initdb "$HX5800_DB" > /dev/null
build/sim/hx5800-sim --pty "$rundir/ttySIM" --demo < /dev/null > "$rundir/sim.log" 2>&1 &
sim_pid=$!
sim_start=$(date +%s)
for _ in $(seq 50); do [ -e "$rundir/ttySIM" ] && break; sleep 0.1; done
if [ ! -e "$rundir/ttySIM" ]; then
    echo "screenshots: the instrument simulator did not start:" >&2
    cat "$rundir/sim.log" >&2
    exit 1
fi
export HX5800_COM1="$rundir/ttySIM"
export QT_QPA_PLATFORM=offscreen

# shot NAME SECONDS MODE [--history N]
shot() {
    local name=$1
    shift
    echo "screenshots: $name"
    if ! build/tools/hx5800-screenshot "$out/$name.png" "$@" 2> "$rundir/shot.log"; then
        cat "$rundir/shot.log" >&2
        echo "screenshots: no picture of $name" >&2
        exit 1
    fi
}

# Seconds to wait so that the picture is taken 45 s into a minute of the simulator's clock,
# while its CH5 is in open circuit (the program opens the port 2 s after it starts).
until_open_circuit() {
    local now=$(( $(date +%s) - sim_start + 3 ))
    echo $(( (45 - now % 60 + 60) % 60 + 1 ))
}

shot ruler 8 ruler --history 700
shot printout 8 printout
# A minute and more, so that the chart holds this run's records alone.
shot main-window $(( $(until_open_circuit) + 60 )) main
shot config-window 6 config
shot config-outputs 6 config-outputs
shot alarm-window 5 alarm
shot factory-window 6 factory
shot factory-report 6 report
# The journal of the runs before: the demonstration's alarms raised and cleared, the ports.
shot events-window 4 events
shot splash 1 splash
echo "screenshots: pictures in $out"
