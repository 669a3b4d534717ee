#!/usr/bin/env bash
# korvel-cli programs LPC boards served by korvel-sim on a pty: the flash each
# board ends up with equals the HEX image plus the vector checksum word.
set -uo pipefail
. "$(dirname "$0")/lpc_lib.bash"
lpc_setup "$@"
examples="$(dirname "$0")/../../examples"

# program NAME CHIP PACKAGE FLASH_SIZE HEX [KORVEL-SIM OPTION...]
program() {
    local name=$1 chip=$2 package=$3 size=$4 hex=$5
    shift 5
    serve_lpc "$name" "$chip" "$@"
    "$CLI" program "$package" --port "$TMP/$name.port" >"$TMP/$name.out" 2>&1
    local rc=$?
    unserve "$name"
    [ $rc -eq 0 ] || { cat "$TMP/$name.out"; fail "$name: korvel-cli ended with $rc"; }
    grep -q "^Programming succesful$" "$TMP/$name.out" || fail "$name: no success message"
    grep -q "the new firmware was started" "$TMP/$name.log" || fail "$name: firmware not started"
    check_flash "$name" "$hex" "$size"
    echo "ok: $name"
}

# The bundled example: 40 KB of an LPC2138 and a record in its last sector.
program lpc2138 LPC2138 "$examples/blinky-lpc2138.pr2" 512000 "$examples/blinky-lpc2138.hex"

# Sparse on an LPC2106 (8 KB sectors and blocks), in a package of kind "'".
make_hex "$TMP/sparse.hex" "0 64 1" "24832 300 2" "73728 9000 3" "122864 16 4"
"$SIM" pack -o "$TMP/sparse.pr2" "':LPC2106:2.1:$TMP/sparse.hex" || fail "pack"
program lpc2106 LPC2106 "$TMP/sparse.pr2" 122880 "$TMP/sparse.hex"
# The same over a line that loses a character and garbles an echo, to a chip
# that asks for a group again: each group goes again, the run succeeds.
program line-errors LPC2106 "$TMP/sparse.pr2" 122880 "$TMP/sparse.hex" \
    --fault drop-byte --fault garble-echo --fault resend-once

# The same kind of image with LF line ends, as most toolchains on Linux write
# it, on an LPC2138 and up to its last sector.
make_hex "$TMP/crlf.hex" "0 5000 8" "507904 300 9"
tr -d '\r' <"$TMP/crlf.hex" >"$TMP/lf.hex"
"$SIM" pack -o "$TMP/lf.pr2" "F:LPC2138:1.1:$TMP/lf.hex" || fail "pack"
program lf LPC2138 "$TMP/lf.pr2" 512000 "$TMP/lf.hex"

# Data across 64 KB boundaries (type 04 records) on an LPC2368.
make_hex "$TMP/linear.hex" "0 2048 5" "65520 9216 6" "499728 5000 7"
"$SIM" pack -o "$TMP/linear.pr2" "F:LPC2368:3.0:$TMP/linear.hex" || fail "pack"
program lpc2368 LPC2368 "$TMP/linear.pr2" 516096 "$TMP/linear.hex"
