#!/usr/bin/env bash
# A boot monitor that refuses the main image's raw transfer: korvel-cli ends
# with 3 and "Device error", and the board keeps no image.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

head -c 700 /dev/urandom >"$TMP/main.bin"
"$SIM" pack -o "$TMP/one.pr2" "9:RV4500:3.02:$TMP/main.bin" || fail "pack"
mkdir "$TMP/out"
serve refused monitor --out-dir "$TMP/out" --fault refuse@0x80000000

out=$("$CLI" program "$TMP/one.pr2" --port "$TMP/refused.port"); rc=$?
unserve refused
[ $rc -eq 3 ] || fail "exit $rc: $out"
echo "$out" | tail -n 1 | grep -q "^Device error\(: .\+\)\?$" || fail "message: $out"
grep -q "fault: transfer refused" "$TMP/refused.log" || fail "the board did not refuse"
[ -z "$(ls "$TMP/out")" ] || fail "a refused image was kept"

"$SIM" monitor --fault refuse@nowhere >/dev/null 2>"$TMP/err"; rc=$?
[ $rc -eq 64 ] || fail "bad fault exit $rc"
grep -q "bad address in fault" "$TMP/err" || fail "bad fault message"
echo "ok"
