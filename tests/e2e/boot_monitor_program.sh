#!/usr/bin/env bash
# korvel-cli programs kind "9" packages into the boot-monitor simulator over a
# pty: with a second image (flash stage) and without. The images the board
# received must equal the package's entries byte for byte. A pty carries no
# BREAK, so the simulator ends each raw transfer on the host's silence and
# says so in its log.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

head -c 2345 /dev/urandom >"$TMP/main.bin"
head -c 1800 /dev/urandom >"$TMP/second.bin"
"$SIM" pack -o "$TMP/two.pr2" "9:RV4500:3.02:$TMP/main.bin" "9:RV4500:3.02:$TMP/second.bin" ||
    fail "pack two"
"$SIM" pack -o "$TMP/one.pr2" "9:RV4500:3.02:$TMP/main.bin" || fail "pack one"

# Each board is a fresh one (power comes on when the host opens the port).
mkdir "$TMP/two" "$TMP/one"
serve two monitor --out-dir "$TMP/two"
out=$("$CLI" program "$TMP/two.pr2" --port "$TMP/two.port"); rc=$?
unserve two
[ $rc -eq 0 ] || fail "with flash stage: exit $rc: $out"
echo "$out" | grep -q "^Programming succesful$" || fail "message: $out"
cmp "$TMP/main.bin" "$TMP/two/0x80000000.bin" || fail "main image differs"
cmp "$TMP/second.bin" "$TMP/two/0x83fa0000.bin" || fail "second image differs"
[ "$(grep -c 'ended by 200 ms of silence' "$TMP/two.log")" -eq 2 ] || fail "silence not logged"
grep -q "command: nsave" "$TMP/two.log" || fail "no flash stage"

serve one monitor --out-dir "$TMP/one"
out=$("$CLI" program "$TMP/one.pr2" --port "$TMP/one.port"); rc=$?
unserve one
[ $rc -eq 0 ] || fail "without flash stage: exit $rc: $out"
cmp "$TMP/main.bin" "$TMP/one/0x80000000.bin" || fail "main image differs (one entry)"
[ ! -e "$TMP/one/0x83fa0000.bin" ] || fail "a second image was sent"
grep -q "command: nsave" "$TMP/one.log" && fail "flash stage without a second image"
echo "ok"
