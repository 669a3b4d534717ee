#!/usr/bin/env bash
# Controller-unit runs that fail or are stopped: the exit code is the run
# result and the unit keeps what it had.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

head -c 300000 /dev/urandom >"$TMP/image.bin"
"$SIM" pack -o "$TMP/unit.pr2" "G:PCX:2.11:$TMP/image.bin" || fail "pack"

# A refused block: programming error; the blocks before it are in flash.
serve refused pcx --flash-out "$TMP/refused.flash" --fault refuse-write=0x8C00
out=$("$CLI" program "$TMP/unit.pr2" --port "$TMP/refused.port"); rc=$?
unserve refused
[ $rc -eq 4 ] || fail "refused write: exit $rc: $out"
echo "$out" | tail -n 1 | grep -q "^Programming error\(: .\+\)\?$" || fail "refused write: message: $out"
cmp -s <(tail -c +32769 "$TMP/refused.flash" | head -c 3072) <(head -c 3072 "$TMP/image.bin") ||
    fail "refused write: first blocks missing"

# Another boot loader: nothing is erased.
serve lowercase pcx --flash-out "$TMP/lowercase.flash" --fault lowercase-id
"$CLI" program "$TMP/unit.pr2" --port "$TMP/lowercase.port" >/dev/null; rc=$?
unserve lowercase
[ $rc -eq 4 ] || fail "lower-case identifier: exit $rc"
[ "$(tail -c +32769 "$TMP/lowercase.flash" | head -c 1024 | od -An -tx1 | tr -d ' \n' | head -c 8)" = "5a5a5a5a" ] ||
    fail "lower-case identifier: flash was touched"

# Ctrl+C during a run at the line rate: aborted, no restart request.
serve stopped pcx --flash-out "$TMP/stopped.flash" --paced
"$CLI" program "$TMP/unit.pr2" --port "$TMP/stopped.port" >"$TMP/cli.log" 2>&1 &
clipid=$!
track "$clipid"
await_line "$TMP/cli.log" "^Status: Programming" "$clipid"
kill -INT "$clipid"
for _ in $(seq 50); do kill -0 "$clipid" 2>/dev/null || break; sleep 0.1; done
reap "$clipid"; rc=$?
unserve stopped
[ $rc -eq 5 ] || fail "stop: exit $rc: $(cat "$TMP/cli.log")"
grep -qx "Aborted: Stopped on request before the run ended" "$TMP/cli.log" ||
    fail "stop: message: $(cat "$TMP/cli.log")"
echo "ok"
