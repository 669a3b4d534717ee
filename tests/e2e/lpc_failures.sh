#!/usr/bin/env bash
# What korvel-cli reports when an LPC run cannot succeed: a missing port, a
# board that refuses, a run stopped with Ctrl+C.
set -uo pipefail
. "$(dirname "$0")/lpc_lib.bash"
lpc_setup "$@"
package="$(dirname "$0")/../../examples/blinky-lpc2138.pr2"

# A port that does not exist: result 1 with the port's COM name.
"$CLI" program "$package" --port "$TMP/no-such-port" >"$TMP/missing.out" 2>&1
rc=$?
[ $rc -eq 1 ] || fail "missing port: exit $rc"
grep -q "^Unable to open port COM[0-9][0-9]*$" "$TMP/missing.out" || fail "missing port: message"
echo "ok: missing port"

# expect_failure NAME FAULT STATUS: the run ends with 4 and the status text.
expect_failure() {
    local name=$1 fault=$2 status=$3
    serve_lpc "$name" LPC2138 --fault "$fault"
    "$CLI" program "$package" --port "$TMP/$name.port" >"$TMP/$name.out" 2>&1
    local rc=$?
    unserve "$name"
    [ $rc -eq 4 ] || { cat "$TMP/$name.out"; fail "$name: exit $rc"; }
    grep -qF "Status: $status" "$TMP/$name.out" || { cat "$TMP/$name.out"; fail "$name: status"; }
    grep -q "^Programming error$" "$TMP/$name.out" || fail "$name: message"
    echo "ok: $name"
}
expect_failure unlock refuse-unlock ": wrong response unlock: 16"
expect_failure checksum resend-once ": bad checksum"
expect_failure go go-error ": couldn't run program"

# Ctrl+C during a paced run: the procedure stops at the end of its slice.
serve_lpc stopped LPC2138 --paced
"$CLI" program "$package" --port "$TMP/stopped.port" >"$TMP/stopped.out" 2>&1 &
cli=$!
track $cli
await_line "$TMP/stopped.out" "^Status: Programming" $cli
kill -INT $cli
reap $cli
rc=$?
unserve stopped
[ $rc -eq 5 ] || { cat "$TMP/stopped.out"; fail "stop: exit $rc"; }
grep -q "^Aborted$" "$TMP/stopped.out" || fail "stop: message"
echo "ok: stopped"
