#!/usr/bin/env bash
# Installs what is missing, builds, creates the recording database when there is none, and
# starts the program. Unless port 1 is mapped to a device (HX5800_COM1), the built-in
# instrument simulator serves port 1 on a pseudo-terminal for as long as the program runs, in
# its demonstration mode (alarms coming and going, relays switching).
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what running needs: the program, the simulator and the database tool, and only the
# packages building and running need (tools/test.sh installs the tests' own).
HX_PACKAGES=run BUILD_TARGETS="hx5800 hx5800-sim hx5800-initdb" tools/setup.sh

db="${HX5800_DB:-$HOME/Trendlog/Rdatabj.db}"
if [ ! -e "$db" ]; then
    build/logging/hx5800-initdb "$db"
fi

sim_pid=""
rundir=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
    if [ -n "$rundir" ]; then rm -rf "$rundir"; fi
}
trap cleanup EXIT

if [ -z "${HX5800_COM1:-}" ]; then
    rundir=$(mktemp -d "${TMPDIR:-/tmp}/hx5800-sim.XXXXXX")
    build/sim/hx5800-sim --pty "$rundir/ttySIM" --demo < /dev/null > "$rundir/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$rundir/ttySIM" ] && break; sleep 0.1; done
    if [ ! -e "$rundir/ttySIM" ]; then
        echo "run: the instrument simulator did not start:" >&2
        cat "$rundir/sim.log" >&2
        exit 1
    fi
    export HX5800_COM1="$rundir/ttySIM"
    echo "run: simulated instrument on port 1 ($HX5800_COM1); press 打开 to connect"
fi

if [ -n "${HX5800_MQTT:-}" ]; then
    echo "run: publishing to $HX5800_MQTT (watch with: mosquitto_sub -h HOST -p PORT -t 'hx5800/#' -v)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display found; starting under a virtual X server (xvfb-run)"
    exec_prefix=(xvfb-run -a -s "-screen 0 1600x1100x24")
else
    exec_prefix=()
fi
# Not exec: the simulator and its folder are cleaned up when the program ends.
"${exec_prefix[@]}" build/app/hx5800 "$@"
