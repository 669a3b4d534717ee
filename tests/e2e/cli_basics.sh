#!/usr/bin/env bash
# korvel-cli as a program: package listing, refusals and the outcome of a run
# whose kind selects no procedure.
set -u
cli="$1"
sim="$2"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

printf 'not a package' > "$tmp/bad.pr2"
printf 'hello' > "$tmp/data.bin"
"$sim" pack -o "$tmp/kind5.pr2" "5:DEVICE5:2.01:$tmp/data.bin" "x:SECOND:0.1:$tmp/data.bin" || fail "pack"

out=$("$cli" info "$tmp/kind5.pr2"); rc=$?
[ $rc -eq 0 ] || fail "info exit $rc"
echo "$out" | grep -q "DEVICE5 *2.01 *5 *'5'" || fail "info entry 0: $out"
echo "$out" | grep -q "SECOND" || fail "info entry 1: $out"
echo "$out" | grep -q "no programming procedure" || fail "info procedure: $out"

"$cli" info "$tmp/bad.pr2" >/dev/null 2>"$tmp/err"; rc=$?
[ $rc -eq 66 ] || fail "bad package exit $rc"
grep -q "cannot load the package" "$tmp/err" || fail "bad package message"

# A kind without a procedure ends with 2 and the window's message; no port is touched.
out=$("$cli" program "$tmp/kind5.pr2" --port /dev/korvel-no-such-port); rc=$?
[ $rc -eq 2 ] || fail "unsupported kind exit $rc"
echo "$out" | grep -q "^Device not supported$" || fail "message: $out"
echo "$out" | grep -q "^Please check for Korvel updates$" || fail "message: $out"

"$cli" program >/dev/null 2>&1; rc=$?
[ $rc -eq 64 ] || fail "usage exit $rc"
"$cli" --help | grep -q "Exit codes" || fail "help"
echo "ok"
