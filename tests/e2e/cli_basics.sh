#!/usr/bin/env bash
# korvel-cli as a program: package listing, refusals and the outcome of a run
# whose kind selects no procedure.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

printf 'not a package' > "$TMP/bad.pr2"
printf 'hello' > "$TMP/data.bin"
"$SIM" pack -o "$TMP/kind5.pr2" "5:DEVICE5:2.01:$TMP/data.bin" "x:SECOND:0.1:$TMP/data.bin" || fail "pack"

out=$("$CLI" info "$TMP/kind5.pr2"); rc=$?
[ $rc -eq 0 ] || fail "info exit $rc"
echo "$out" | grep -q "DEVICE5 *2.01 *5 *'5'" || fail "info entry 0: $out"
echo "$out" | grep -q "SECOND" || fail "info entry 1: $out"
echo "$out" | grep -q "no programming procedure" || fail "info procedure: $out"

"$CLI" info "$TMP/bad.pr2" >/dev/null 2>"$TMP/err"; rc=$?
[ $rc -eq 66 ] || fail "bad package exit $rc"
grep -q "cannot load the package" "$TMP/err" || fail "bad package message"

# A kind without a procedure ends with 2 and the window's message; no port is touched.
out=$("$CLI" program "$TMP/kind5.pr2" --port /dev/korvel-no-such-port); rc=$?
[ $rc -eq 2 ] || fail "unsupported kind exit $rc"
echo "$out" | grep -q "^Device not supported$" || fail "message: $out"
echo "$out" | grep -q "^Please check for Korvel updates$" || fail "message: $out"

"$CLI" program >/dev/null 2>&1; rc=$?
[ $rc -eq 64 ] || fail "usage exit $rc"
"$CLI" --help | grep -q "Exit codes" || fail "help"
echo "ok"
