#!/usr/bin/env bash
# The board vanishing in the middle of a transfer, for every procedure:
# korvel-sim is killed outright (as a pulled cable or adapter would end the
# line) while korvel-cli is programming. The run must end at once with exit
# code 4, "Programming error" and the system's reason, never hang or crash.
set -u
cli="$1"
sim="$2"
examples="$(dirname "$0")/../../examples"
tmp=$(mktemp -d)
sim_pid=""
cli_pid=""
cleanup() {
    [ -n "$cli_pid" ] && kill -KILL "$cli_pid" 2>/dev/null && wait "$cli_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill -KILL "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# vanish NAME PACKAGE SIM-ARGS...: programs PACKAGE on the board and kills the
# board shortly after the run shows "Programming".
vanish() {
    local name=$1 package=$2
    shift 2
    rm -f "$tmp/tty"
    "$sim" "$@" --paced --link "$tmp/tty" >"$tmp/$name.sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$tmp/tty" ] && break; sleep 0.1; done
    [ -e "$tmp/tty" ] || fail "$name: korvel-sim did not come up: $(cat "$tmp/$name.sim.log")"

    "$cli" program "$package" --port "$tmp/tty" >"$tmp/$name.cli.log" 2>&1 &
    cli_pid=$!
    for _ in $(seq 300); do
        grep -q "^Status: Programming" "$tmp/$name.cli.log" && break
        kill -0 "$cli_pid" 2>/dev/null || break
        sleep 0.05
    done
    grep -q "^Status: Programming" "$tmp/$name.cli.log" ||
        fail "$name: never reached programming: $(cat "$tmp/$name.cli.log")"
    sleep 0.3
    kill -KILL "$sim_pid"
    wait "$sim_pid" 2>/dev/null
    sim_pid=""

    # A run whose line is gone ends at its next read or write.
    for _ in $(seq 100); do kill -0 "$cli_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$cli_pid" 2>/dev/null; then
        fail "$name: korvel-cli still runs 10 s after the board vanished"
    fi
    wait "$cli_pid"
    local rc=$?
    cli_pid=""
    local out
    out=$(cat "$tmp/$name.cli.log")
    [ $rc -eq 4 ] || fail "$name: exit $rc: $out"
    echo "$out" | grep -q "^Programming error: The run stopped on an error of the serial line or the system: " ||
        fail "$name: no 'Programming error' with its reason: $out"
    echo "$out" | grep -q "Input/output error" || fail "$name: the reason is missing: $out"
}

head -c 60000 /dev/urandom >"$tmp/image.bin"
"$sim" pack -o "$tmp/resident.pr2" ")":BOARD:2.10:"$tmp/image.bin" || fail "pack resident"
"$sim" pack -o "$tmp/unit.pr2" "G:PCX:2.11:$tmp/image.bin" || fail "pack unit"
head -c 30000 /dev/urandom >"$tmp/main.bin"
"$sim" pack -o "$tmp/monitor.pr2" "9:RV4500:2.10:$tmp/main.bin" || fail "pack monitor"

vanish lpc "$examples/blinky-lpc2138.pr2" lpc --chip LPC2138
vanish resident "$tmp/resident.pr2" resident
vanish pcx "$tmp/unit.pr2" pcx
vanish monitor "$tmp/monitor.pr2" monitor
echo "ok"
