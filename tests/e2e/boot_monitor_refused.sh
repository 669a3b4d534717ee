#!/usr/bin/env bash
# A boot monitor that refuses the main image's raw transfer: korvel-cli ends
# with 3 and "Device error", and the board keeps no image.
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

head -c 700 /dev/urandom >"$tmp/main.bin"
"$sim" pack -o "$tmp/one.pr2" "9:RV4500:3.02:$tmp/main.bin" || fail "pack"
mkdir "$tmp/out"
"$sim" monitor --link "$tmp/tty" --out-dir "$tmp/out" --fault refuse@0x80000000 \
    >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$tmp/tty" ] && break; sleep 0.1; done
[ -e "$tmp/tty" ] || fail "the simulator did not come up"

out=$("$cli" program "$tmp/one.pr2" --port "$tmp/tty"); rc=$?
kill "$sim_pid"; wait "$sim_pid"; sim_pid=""
[ $rc -eq 3 ] || fail "exit $rc: $out"
echo "$out" | grep -q "^Device error$" || fail "message: $out"
grep -q "fault: transfer refused" "$tmp/sim.log" || fail "the board did not refuse"
[ -z "$(ls "$tmp/out")" ] || fail "a refused image was kept"

"$sim" monitor --fault refuse@nowhere >/dev/null 2>"$tmp/err"; rc=$?
[ $rc -eq 64 ] || fail "bad fault exit $rc"
grep -q "bad address in fault" "$tmp/err" || fail "bad fault message"
echo "ok"
