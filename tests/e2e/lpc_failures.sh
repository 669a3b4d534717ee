#!/usr/bin/env bash
# What korvel-cli reports when an LPC run cannot succeed: a missing port, a
# board that refuses, an image that cannot be programmed whole, a run stopped
# with Ctrl+C.
set -uo pipefail
. "$(dirname "$0")/lpc_lib.bash"
lpc_setup "$@"
package="$(dirname "$0")/../../examples/blinky-lpc2138.pr2"

# A port that does not exist: result 1, the port named by the path given.
"$CLI" program "$package" --port "$TMP/no-such-port" >"$TMP/missing.out" 2>&1
rc=$?
[ $rc -eq 1 ] || fail "missing port: exit $rc"
grep -qx "Unable to open port $TMP/no-such-port: $TMP/no-such-port: .*" "$TMP/missing.out" ||
    fail "missing port: message"
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
    # The result, and the reason after it, on the last line.
    tail -n 1 "$TMP/$name.out" | grep -q "^Programming error\(: .\+\)\?$" || fail "$name: message"
    echo "ok: $name"
}
expect_failure unlock refuse-unlock ": wrong response unlock: 16"
expect_failure checksum resend-always ": bad checksum, also after the group was sent 3 times more"
expect_failure go go-error ": couldn't run program"

# expect_untouched NAME CHIP FLASH_SIZE HEX EXIT TEXT: a package that cannot
# be programmed whole ends with EXIT and says TEXT, and the board's flash is
# byte-identical to what it held before the run. A malformed image is a
# malformed package (66), refused before the board is reached; an image too
# large for the chip is found once the chip is known (4).
expect_untouched() {
    local name=$1 chip=$2 size=$3 hex=$4 code=$5 text=$6
    head -c "$size" /dev/urandom >"$TMP/$name.before"
    "$SIM" pack -o "$TMP/$name.pr2" "F:$chip:1.0:$hex" || fail "$name: pack"
    serve_lpc "$name" "$chip" --flash-in "$TMP/$name.before"
    "$CLI" program "$TMP/$name.pr2" --port "$TMP/$name.port" >"$TMP/$name.out" 2>&1
    local rc=$?
    unserve "$name"
    [ $rc -eq "$code" ] || { cat "$TMP/$name.out"; fail "$name: exit $rc"; }
    grep -qF "$text" "$TMP/$name.out" || { cat "$TMP/$name.out"; fail "$name: text"; }
    cmp "$TMP/$name.before" "$TMP/$name.bin" || fail "$name: the flash changed"
    echo "ok: $name"
}
make_hex "$TMP/good.hex" "0 6000 1"
sed '200s/^:\(..\)./:\1G/' "$TMP/good.hex" >"$TMP/bad-digit.hex"
expect_untouched bad-digit LPC2138 512000 "$TMP/bad-digit.hex" 66 \
    "The package's firmware image cannot be programmed: line 200: not a hex digit"
make_hex "$TMP/too-large.hex" "0 64 2" "122880 16 3"
expect_untouched too-large LPC2106 122880 "$TMP/too-large.hex" 4 \
    "Status: : Firmware image: highest address 0x0001E00F does not fit the 120 KB flash of the LPC2106 (120k)"

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
grep -qx "Aborted: Stopped on request before the run ended" "$TMP/stopped.out" || fail "stop: message"
echo "ok: stopped"
