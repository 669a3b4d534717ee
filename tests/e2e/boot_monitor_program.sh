#!/usr/bin/env bash
# korvel-cli programs kind "9" packages into the boot-monitor simulator over a
# pty: with a second image (flash stage) and without. The images the board
# received must equal the package's entries byte for byte. A pty carries no
# BREAK, so the simulator ends each raw transfer on the host's silence and
# says so in its log.
set -u
cli="$1"
sim="$2"
tmp=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$tmp/sim.log" ] && cat "$tmp/sim.log"; exit 1; }

# Serves a fresh board (power comes on when the host opens the port).
start_sim() {
    rm -f "$tmp/tty"
    "$sim" monitor --link "$tmp/tty" --out-dir "$1" "${@:2}" >"$tmp/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$tmp/tty" ] && return 0; sleep 0.1; done
    fail "the simulator did not come up"
}
stop_sim() {
    kill "$sim_pid"; wait "$sim_pid"; sim_pid=""
}

head -c 2345 /dev/urandom >"$tmp/main.bin"
head -c 1800 /dev/urandom >"$tmp/second.bin"
"$sim" pack -o "$tmp/two.pr2" "9:RV4500:3.02:$tmp/main.bin" "9:RV4500:3.02:$tmp/second.bin" ||
    fail "pack two"
"$sim" pack -o "$tmp/one.pr2" "9:RV4500:3.02:$tmp/main.bin" || fail "pack one"

mkdir "$tmp/two" "$tmp/one"
start_sim "$tmp/two"
out=$("$cli" program "$tmp/two.pr2" --port "$tmp/tty"); rc=$?
stop_sim
[ $rc -eq 0 ] || fail "with flash stage: exit $rc: $out"
echo "$out" | grep -q "^Programming succesful$" || fail "message: $out"
cmp "$tmp/main.bin" "$tmp/two/0x80000000.bin" || fail "main image differs"
cmp "$tmp/second.bin" "$tmp/two/0x83fa0000.bin" || fail "second image differs"
[ "$(grep -c 'ended by 200 ms of silence' "$tmp/sim.log")" -eq 2 ] || fail "silence not logged"
grep -q "command: nsave" "$tmp/sim.log" || fail "no flash stage"

start_sim "$tmp/one"
out=$("$cli" program "$tmp/one.pr2" --port "$tmp/tty"); rc=$?
stop_sim
[ $rc -eq 0 ] || fail "without flash stage: exit $rc: $out"
cmp "$tmp/main.bin" "$tmp/one/0x80000000.bin" || fail "main image differs (one entry)"
[ ! -e "$tmp/one/0x83fa0000.bin" ] || fail "a second image was sent"
grep -q "command: nsave" "$tmp/sim.log" && fail "flash stage without a second image"
echo "ok"
