#!/usr/bin/env bash
# Controller-unit runs that fail or are stopped: the exit code is the run
# result and the unit keeps what it had.
set -u
cli="$1"
sim="$2"
tmp=$(mktemp -d)
simpid=""
clipid=""
cleanup() {
    [ -n "$clipid" ] && kill "$clipid" 2>/dev/null && wait "$clipid" 2>/dev/null
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

start_sim() {
    rm -f "$tmp/tty" "$tmp/flash.bin"
    "$sim" pcx --link "$tmp/tty" --flash-out "$tmp/flash.bin" "$@" >"$tmp/sim.log" 2>&1 &
    simpid=$!
    for _ in $(seq 50); do [ -e "$tmp/tty" ] && return 0; sleep 0.1; done
    fail "korvel-sim pcx did not start: $(cat "$tmp/sim.log")"
}
stop_sim() {
    kill "$simpid" && wait "$simpid"
    simpid=""
}

head -c 300000 /dev/urandom >"$tmp/image.bin"
"$sim" pack -o "$tmp/unit.pr2" "G:PCX:2.11:$tmp/image.bin" || fail "pack"

# A refused block: programming error; the blocks before it are in flash.
start_sim --fault refuse-write=0x8C00
out=$("$cli" program "$tmp/unit.pr2" --port "$tmp/tty"); rc=$?
stop_sim
[ $rc -eq 4 ] || fail "refused write: exit $rc: $out"
echo "$out" | grep -q "^Programming error$" || fail "refused write: message: $out"
cmp -s <(tail -c +32769 "$tmp/flash.bin" | head -c 3072) <(head -c 3072 "$tmp/image.bin") ||
    fail "refused write: first blocks missing"

# Another boot loader: nothing is erased.
start_sim --fault lowercase-id
"$cli" program "$tmp/unit.pr2" --port "$tmp/tty" >/dev/null; rc=$?
stop_sim
[ $rc -eq 4 ] || fail "lower-case identifier: exit $rc"
[ "$(tail -c +32769 "$tmp/flash.bin" | head -c 1024 | od -An -tx1 | tr -d ' \n' | head -c 8)" = "5a5a5a5a" ] ||
    fail "lower-case identifier: flash was touched"

# Ctrl+C during a run at the line rate: aborted, no restart request.
start_sim --paced
"$cli" program "$tmp/unit.pr2" --port "$tmp/tty" >"$tmp/cli.log" 2>&1 &
clipid=$!
sleep 2
kill -INT "$clipid"
for _ in $(seq 50); do kill -0 "$clipid" 2>/dev/null || break; sleep 0.1; done
wait "$clipid"; rc=$?
clipid=""
stop_sim
[ $rc -eq 5 ] || fail "stop: exit $rc: $(cat "$tmp/cli.log")"
grep -q "^Aborted$" "$tmp/cli.log" || fail "stop: message: $(cat "$tmp/cli.log")"
echo "ok"
